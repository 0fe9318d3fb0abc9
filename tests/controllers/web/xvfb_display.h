#pragma once
// A private X display for the tests that need a real one (Chromium): Xvfb
// tells its display number through a pipe; it ends with the process.
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

#include "support/child_process.h"

namespace hw::test {

class XvfbDisplay {
public:
    // Started once per process; none when Xvfb is missing or does not start.
    static const XvfbDisplay* shared() {
        static std::unique_ptr<XvfbDisplay> display = start();
        return display.get();
    }
    ~XvfbDisplay() {
        ::kill(pid_, SIGTERM);
        waitChild(pid_, std::chrono::seconds(5));
    }
    const std::string& name() const { return name_; }

private:
    static std::unique_ptr<XvfbDisplay> start() {
        int fds[2];
        if (::pipe(fds) != 0) return nullptr;
        const std::string fd = std::to_string(fds[1]);
        // -terminate: it also goes when our last client does, should the test die first.
        std::vector<std::string> args{"Xvfb",    "-displayfd", fd,    "-screen",    "0",
                                      "1600x1000x24", "-nolisten", "tcp", "-terminate"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        // Never the test's own output: a runner waits for every writer of it to close.
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            return nullptr;
        }
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
        ::close(fds[0]);
        auto display = std::unique_ptr<XvfbDisplay>(new XvfbDisplay(pid, ":" + number));
        if (number.empty()) return nullptr;
        return display;
    }
    XvfbDisplay(pid_t pid, std::string name) : pid_(pid), name_(std::move(name)) {}

    pid_t pid_;
    std::string name_;
};

}  // namespace hw::test
