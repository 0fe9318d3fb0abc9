// The app's end of the helper socket against a listener of another user.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/helper_connection.h"
#include "support/fake_helper_tool.h"

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
    bool listening = false;
    for (int i = 0; i < 500 && !listening; ++i) {
        listening = std::filesystem::exists(path);
        if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(listening);

    test::HelperTestQueue queue;
    HelperConnection client(queue);
    std::string error;
    bool connected = client.connect(path, &error);
    for (int i = 0; i < 100 && !connected && error.find("uid") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // bound, not yet listening
        connected = client.connect(path, &error);
    }
    EXPECT_FALSE(connected);
    EXPECT_FALSE(client.isConnected());
    EXPECT_NE(error.find("uid 65534"), std::string::npos) << error;

    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace hw
