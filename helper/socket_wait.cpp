#include "helper/socket_wait.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hw::helper {

ListenWait connectWhenListening(const std::string& path, pid_t pid, std::chrono::steady_clock::time_point deadline,
                                const std::function<bool()>& ended, UniqueFd& changes, UniqueFd* connected) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return ListenWait::Failed;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (!changes) changes = UniqueFd(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    const bool watching =
        changes && ::inotify_add_watch(changes.get(), path.substr(0, path.rfind('/')).c_str(), IN_CREATE | IN_MOVED_TO) >= 0;
    UniqueFd exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    for (;;) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd) return ListenWait::Failed;
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            *connected = std::move(fd);
            return ListenWait::Connected;
        }
        // Bound but not yet listening: the program is moments from it.
        const bool bound = errno == ECONNREFUSED;
        if (ended()) return ListenWait::Ended;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ListenWait::TimedOut;
        // Without inotify or a pidfd this is a short, bounded poll.
        const int wait = bound || !watching || !exited ? 1 : static_cast<int>(left.count());
        pollfd events[2] = {{changes.get(), POLLIN, 0}, {exited.get(), POLLIN, 0}};
        if (::poll(events, 2, wait) <= 0) continue;
        char drain[4096];
        while ((events[0].revents & POLLIN) && ::read(changes.get(), drain, sizeof drain) > 0) {
        }
        // It ended: `ended` says so at the next turn, once its reaper has seen it.
        if (events[1].revents & POLLIN) exited.reset();
    }
}

}  // namespace hw::helper
