// The PPP road's calls to the helper, against a socket another user serves.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "connection/system_vpn_service_helper.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

// Requests carry credentials: a socket whoever else put at the helper's path
// gets no byte of them, and its answers are not taken.
TEST(HelperSocketCall, ASocketServedByAnotherUserIsSentNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to serve a socket as another user";
    test::TempDir dir;
    namespace fs = std::filesystem;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const std::string shared = dir.file("shared");
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all);
    const std::string path = shared + "/helper.sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    int listening[2];
    ASSERT_EQ(::pipe(listening), 0);

    // Only system calls in the child: the test process runs threads. It
    // exits 0 when its one caller hung up without a byte, 2 when one came.
    const pid_t squatter = ::fork();
    if (squatter == 0) {
        ::alarm(20);
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0 ||
            ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0)
            ::_exit(1);
        (void)!::write(listening[1], "l", 1);
        const int peer = ::accept(fd, nullptr, nullptr);
        char buffer[256];
        const ssize_t n = peer < 0 ? -1 : ::recv(peer, buffer, sizeof buffer, 0);
        ::_exit(n == 0 ? 0 : n > 0 ? 2 : 3);
    }
    ASSERT_GT(squatter, 0);
    ::close(listening[1]);
    pollfd ready{listening[0], POLLIN, 0};
    char mark = 0;
    const bool isListening = ::poll(&ready, 1, 5000) == 1 && ::read(listening[0], &mark, 1) == 1;
    ::close(listening[0]);
    ASSERT_TRUE(isListening);

    auto call = makeHelperSocketCall(path, std::chrono::seconds(2));
    EXPECT_FALSE(call("getVPNService", {{"serviceID", "0123456789abcdef0123456789abcdef"}}));
    EXPECT_EQ(test::waitChild(squatter, std::chrono::seconds(10)), 0) << "the squatter was sent a request";
}

}  // namespace
}  // namespace hw
