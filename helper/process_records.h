#pragma once
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

namespace hw::helper {

// The processes this helper started (openvpn), recorded under the run
// folder with their start time, so that a later run can stop exactly those
// and never an unrelated process that reused the pid.
class ProcessRecords {
public:
    ProcessRecords(std::string folder, std::string procRoot)
        : folder_(std::move(folder)), procRoot_(std::move(procRoot)) {}

    bool record(pid_t pid);
    // Its end was seen: a record left standing means its helper died first.
    void forget(pid_t pid);
    // TERM, then KILL after grace; returns how many recorded processes were
    // still running and got stopped. Records are removed; found counts them.
    int terminateAll(std::chrono::milliseconds grace, int* found = nullptr);

    // The kernel's start time of pid (field 22 of its stat), if it runs.
    std::optional<unsigned long long> startTime(pid_t pid) const;

    // Whether the far end of a connected Unix socket was set up by pid, the
    // process that started at startTime, running as this helper's user: a
    // pid alone may have been reused by now.
    bool peerIsProcess(int socket, pid_t pid, unsigned long long startTime) const;

private:
    std::string folder_;
    std::string procRoot_;
};

}  // namespace hw::helper
