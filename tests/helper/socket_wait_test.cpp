#include "helper/socket_wait.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "fake_system.h"

namespace hw::helper {
namespace {

using Clock = std::chrono::steady_clock;

// A child that listens at `path` (or only binds, or does nothing), then
// waits until the parent closes its end of `hold`.
pid_t program(const std::string& path, bool bind, bool listen, const int hold[2], bool keep) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::close(hold[1]);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (bind && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) ::_exit(1);
    if (listen && ::listen(fd, 1) != 0) ::_exit(1);
    char b;
    if (keep) [[maybe_unused]] auto n = ::read(hold[0], &b, 1);
    ::_exit(0);
}

TEST(ConnectWhenListening, ConnectsOnceListeningAndStopsAtTheProgramsEndOrTheDeadline) {
    struct Row {
        const char* what;
        bool bind, listen, keep;
        std::chrono::milliseconds within;
        ListenWait expected;
    };
    const Row rows[] = {
        {"listening", true, true, true, std::chrono::seconds(10), ListenWait::Connected},
        {"ended without a socket", false, false, false, std::chrono::seconds(10), ListenWait::Ended},
        {"bound, never listening, past the deadline", true, false, true, std::chrono::milliseconds(0),
         ListenWait::TimedOut},
    };
    test::ScratchDir dir;
    UniqueFd changes;
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = dir / ("s" + std::to_string(++n));
        int hold[2];
        ASSERT_EQ(::pipe(hold), 0);
        const pid_t pid = program(path, row.bind, row.listen, hold, row.keep);
        ::close(hold[0]);
        bool reaped = false;
        const auto ended = [&] { return reaped || (reaped = ::waitpid(pid, nullptr, WNOHANG) == pid); };
        UniqueFd connected;
        EXPECT_EQ(connectWhenListening(path, pid, Clock::now() + row.within, ended, changes, &connected), row.expected);
        EXPECT_EQ(static_cast<bool>(connected), row.expected == ListenWait::Connected);
        ::close(hold[1]);
        if (!reaped) ::waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(connectWhenListening(std::string(200, 'x'), ::getpid(), Clock::now(), [] { return false; }, changes,
                                   nullptr),
              ListenWait::Failed);
}

}  // namespace
}  // namespace hw::helper
