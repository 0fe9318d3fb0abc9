// The per-user folder, the lock and the hand-over line of a later start.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "platform/single_instance.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

namespace si = single_instance;

TEST(SingleInstance, TheFolderComesFromTheEnvironmentElseAPrivateOneInTheTemporaryFolder) {
    test::TempDir dir;
    test::ScopedEnv env;
    env.set("HAVENWAY_RUNTIME_DIR", nullptr);
    env.set("XDG_RUNTIME_DIR", (dir.path() + "/run").c_str());
    EXPECT_EQ(si::runtimeDir(), dir.path() + "/run/havenway");

    env.set("XDG_RUNTIME_DIR", nullptr);
    env.set("TMPDIR", dir.path().c_str());
    const std::string fallback = dir.path() + "/havenway-" + std::to_string(::geteuid());
    EXPECT_EQ(si::runtimeDir(), fallback);
    struct stat st{};
    ASSERT_EQ(::lstat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // Someone else's name in a shared folder: a link is refused.
    ::rmdir(fallback.c_str());
    ASSERT_EQ(::symlink(dir.path().c_str(), fallback.c_str()), 0);
    std::string error;
    EXPECT_FALSE(si::runtimeDir(&error));
    EXPECT_FALSE(error.empty());
}

TEST(SingleInstance, OneLockPerFolder) {
    test::TempDir dir;
    std::string error;
    auto first = si::tryLock(dir.path(), &error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(si::tryLock(dir.path(), &error));
    EXPECT_TRUE(error.empty());
    first.reset();
    EXPECT_TRUE(si::tryLock(dir.path(), &error));
}

TEST(SingleInstance, RequestLines) {
    std::optional<std::string> url;
    EXPECT_EQ(si::requestLine(std::nullopt), "reopen");
    EXPECT_EQ(si::requestLine("havenway://oauth/callback?code=a"), "url havenway://oauth/callback?code=a");
    EXPECT_FALSE(si::requestLine("havenway://x\nreopen"));
    EXPECT_FALSE(si::requestLine(std::string(si::kMaxLine, 'a')));
    EXPECT_TRUE(si::parseRequestLine("reopen", url));
    EXPECT_FALSE(url);
    EXPECT_TRUE(si::parseRequestLine("url havenway://oauth", url));
    EXPECT_EQ(url, "havenway://oauth");
    EXPECT_FALSE(si::parseRequestLine("url ", url));
    EXPECT_FALSE(si::parseRequestLine("quit", url));
}

TEST(SingleInstance, ForwardingWaitsForTheAnswerAndGivesUpInTime) {
    test::TempDir dir;
    const std::string path = dir.path() + "/instance.sock";
    std::string why;
    // Nobody listening: bounded.
    EXPECT_FALSE(si::forward(path, "reopen", 100, &why));
    EXPECT_NE(why.find("did not answer"), std::string::npos);

    UniqueFd server(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(server.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server.get(), 1), 0);
    std::string received;
    std::thread peer([&] {
        UniqueFd c(::accept(server.get(), nullptr, nullptr));
        char buffer[64];
        const ssize_t n = ::recv(c.get(), buffer, sizeof buffer, 0);
        if (n > 0) received.assign(buffer, static_cast<std::size_t>(n));
        ::send(c.get(), "ok\n", 3, MSG_NOSIGNAL);
    });
    EXPECT_TRUE(si::forward(path, "reopen", 2000, &why)) << why;
    peer.join();
    EXPECT_EQ(received, "reopen\n");
}

}  // namespace
}  // namespace hw
