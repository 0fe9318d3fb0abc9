#pragma once
// Runs a command-line tool to its end for a test's rig, bounded.
#include <chrono>
#include <string>
#include <vector>

#include "platform/posix_process_runner.h"

namespace hw::test {

// Whether it exited 0; its output in *out.
inline bool runTool(std::vector<std::string> argv, std::chrono::milliseconds timeout, std::string* out = nullptr) {
    ProcessRequest request;
    request.argv = std::move(argv);
    request.timeout = timeout;
    auto result = PosixProcessRunner().run(request);
    if (out) *out = result.out;
    return result.ok();
}

}  // namespace hw::test
