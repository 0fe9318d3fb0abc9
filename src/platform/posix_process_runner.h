#pragma once
#include <chrono>

#include "platform/process_runner.h"

namespace hw {

// Runs programs from an argv (posix_spawnp: PATH is searched, no shell) in a
// process group of their own. Standard input gets the request's bytes (or
// /dev/null); standard output and error are read together so a chatty child
// never blocks on a full pipe. On timeout the group gets SIGTERM, then SIGKILL
// after the grace period.
//
// Output is collected until the program exits; a daemon it leaves behind that
// still holds the pipes does not keep run() waiting.
class PosixProcessRunner final : public ProcessRunner {
public:
    explicit PosixProcessRunner(std::chrono::milliseconds killGrace = std::chrono::seconds(2));
    ProcessResult run(const ProcessRequest& request) override;

private:
    std::chrono::milliseconds killGrace_;
};

}  // namespace hw
