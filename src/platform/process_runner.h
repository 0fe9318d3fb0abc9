#pragma once
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hw {

struct ProcessRequest {
    std::vector<std::string> argv;           // argv[0] is the program; never a shell
    std::optional<std::string> stdinData;    // written then closed
    std::chrono::milliseconds timeout{0};    // 0: none; else TERM, then KILL, to the process group
    std::map<std::string, std::string> environment;  // added to the inherited one
};

struct ProcessResult {
    bool started = false;    // false: could not be started (see error)
    int exitCode = -1;       // valid when exited normally
    int signal = 0;          // the signal that ended it, if any
    bool timedOut = false;
    std::string out;
    std::string err;
    std::string error;       // why it could not start
    bool ok() const { return started && !timedOut && signal == 0 && exitCode == 0; }
};

// Runs a program to completion; blocks, so call it off the main thread.
class ProcessRunner {
public:
    virtual ~ProcessRunner() = default;
    virtual ProcessResult run(const ProcessRequest& request) = 0;
};

}  // namespace hw
