#pragma once
// Bounded waits on the children integration tests start, so a hung one fails
// the test instead of hanging it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace hw::test {

// The child's exit code; -1 when it died of a signal or was killed at the bound.
inline int waitChild(pid_t pid, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs argv (found on PATH) and tells whether it exited 0 within the bound.
inline bool runChild(std::vector<std::string> args, std::chrono::milliseconds bound, bool quietStderr = false) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quietStderr) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 && waitChild(pid, bound) == 0;
}

// Starts argv (found on PATH) with exactly this environment ("NAME=value"
// each), its output appended to the log; with input, that on its stdin and
// then the end of it. -1 when it could not start.
inline pid_t spawnLogged(std::vector<std::string> args, std::vector<std::string> env, const std::string& log,
                         const std::optional<std::string>& input = std::nullopt) {
    int in[2] = {-1, -1};
    if (input && ::pipe2(in, O_CLOEXEC) != 0) return -1;
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (input) {
        ::close(in[0]);
        if (rc == 0 && !input->empty()) (void)!::write(in[1], input->data(), input->size());
        ::close(in[1]);
    }
    return rc == 0 ? pid : -1;
}

}  // namespace hw::test
