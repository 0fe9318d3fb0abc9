#include "platform/posix_process_launcher.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/spawn_session.h"

namespace hw {

bool PosixProcessLauncher::launch(const std::string& executable, const std::vector<std::string>& arguments,
                                  const Environment& environment, std::string* error) {
    auto fail = [&](const std::string& why, int code) {
        if (error) *error = why + ": " + std::strerror(code);
        return false;
    };
    if (executable.empty() || executable.front() != '/') return fail("not an absolute path", EINVAL);

    std::vector<std::string> argvStore;
    argvStore.reserve(arguments.size() + 1);
    argvStore.push_back(executable);
    argvStore.insert(argvStore.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envStore;
    envStore.reserve(environment.size());
    for (const auto& [name, value] : environment) envStore.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own session: our terminal's or group's signals must not end it
    // while it replaces us.
    setNewSessionSpawnAttributes(attr);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, executable.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return fail("cannot start " + executable, rc);

    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace hw
