// The app's end of the helper socket against a listener of another user.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/helper_connection.h"
#include "support/fake_helper_tool.h"
#include "support/poll_until.h"

namespace hw {
namespace {

TEST(HelperConnectionPeer, ASocketServedByAnotherUserIsNotTheHelper) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    auto dir = std::filesystem::temp_directory_path() / ("hw-squat-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::all);
    const std::string path = (dir / "helper.sock").string();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());

    // Only system calls in the child: the test process runs threads.
    const pid_t squatter = ::fork();
    if (squatter == 0) {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0 ||
            ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0)
            ::_exit(1);
        for (;;) ::pause();
    }
    ASSERT_GT(squatter, 0);
    ASSERT_TRUE(test::pollUntil([&] { return std::filesystem::exists(path); }, std::chrono::seconds(5)));

    test::HelperTestQueue queue;
    HelperConnection client(queue);
    std::string error;
    bool connected = false;
    test::pollUntil([&] {  // bound but perhaps not yet listening
        connected = client.connect(path, &error);
        return connected || error.find("uid") != std::string::npos;
    }, std::chrono::seconds(1));
    EXPECT_FALSE(connected);
    EXPECT_FALSE(client.isConnected());
    EXPECT_NE(error.find("uid 65534"), std::string::npos) << error;

    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace hw
