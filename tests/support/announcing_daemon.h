#pragma once
// A helper process for UI tests that announces where it listens on a pipe
// (Xvfb's -displayfd, dbus-daemon's --print-address) and is stopped with its owner.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace hw::test {

class AnnouncingDaemon {
public:
    AnnouncingDaemon() = default;
    ~AnnouncingDaemon() { stop(); }
    AnnouncingDaemon(const AnnouncingDaemon&) = delete;
    AnnouncingDaemon& operator=(const AnnouncingDaemon&) = delete;

    // Runs argv, with "{fd}" in any argument replaced by the announcing pipe's
    // number, and waits up to the bound for its first line. False, with the
    // reason, when it cannot start or says nothing in time.
    bool start(std::vector<std::string> argv, std::chrono::milliseconds bound, std::string* reason);
    // The same, saying which Debian package to install when the program is missing.
    bool startInstalled(const std::string& package, std::vector<std::string> argv, std::string* reason);
    void stop();

    const std::string& announcement() const { return line_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string line_;
};

// Whether a program is on PATH.
bool programOnPath(const std::string& name);

}  // namespace hw::test
