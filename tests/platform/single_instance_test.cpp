// The per-user folder, the lock and the hand-over line of a later start.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
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
    env.set("XDG_STATE_HOME", (dir.path() + "/state").c_str());
    const std::string fallback = dir.path() + "/havenway-" + std::to_string(::geteuid());
    EXPECT_EQ(si::runtimeDir(), fallback);
    struct stat st{};
    ASSERT_EQ(::lstat(fallback.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

}

// Another local user who takes the shared name first cannot deny the start:
// the folder moves to the user's own state folder, and every later start
// agrees on it.
TEST(SingleInstance, ASquattedTemporaryNameFallsBackToAPrivateFolderOfTheUser) {
    test::TempDir dir;
    test::ScopedEnv env;
    env.set("HAVENWAY_RUNTIME_DIR", nullptr);
    env.set("XDG_RUNTIME_DIR", nullptr);
    env.set("TMPDIR", dir.path().c_str());
    env.set("XDG_STATE_HOME", (dir.path() + "/state").c_str());
    const std::string squatted = dir.path() + "/havenway-" + std::to_string(::geteuid());
    const std::string own = dir.path() + "/state/havenway/run";
    ::mkdir(dir.file("elsewhere").c_str(), 0777);
    const std::pair<const char*, std::function<int()>> squats[] = {
        {"a link", [&] { return ::symlink(dir.file("elsewhere").c_str(), squatted.c_str()); }},
        {"a file", [&] { return test::TempDir::write(squatted, "mine"), 0; }},
        // Only root can make a folder of another user here.
        {"another user's folder",
         [&] { return ::geteuid() == 0 ? ::mkdir(squatted.c_str(), 0777) | ::chown(squatted.c_str(), 65534, 65534) : 1; }},
    };
    for (const auto& [name, squat] : squats) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(squatted);
        std::filesystem::remove_all(dir.file("state"));
        const int made = squat();
        if (made == 1) continue;
        ASSERT_EQ(made, 0);
        std::string error;
        EXPECT_EQ(si::runtimeDir(&error), own) << error;
        EXPECT_EQ(si::runtimeDir(&error), own) << "a second start looks elsewhere";
        struct stat st{};
        ASSERT_EQ(::lstat(own.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_TRUE(si::tryLock(*si::runtimeDir(), &error)) << error;
        EXPECT_TRUE(std::filesystem::is_empty(dir.file("elsewhere"))) << "the lock went through the link";
    }
}

// Squat, fall back, squatter leaves, start again: the second start finds
// the running copy where the first one went, and hands over to it.
TEST(SingleInstance, ASquatterWhoLeavesLetsNoSecondCopyStart) {
    test::TempDir dir;
    test::ScopedEnv env;
    env.set("HAVENWAY_RUNTIME_DIR", nullptr);
    env.set("XDG_RUNTIME_DIR", nullptr);
    env.set("TMPDIR", dir.path().c_str());
    env.set("XDG_STATE_HOME", (dir.path() + "/state").c_str());
    const std::string squatted = dir.path() + "/havenway-" + std::to_string(::geteuid());
    test::TempDir::write(squatted, "mine");

    std::string error;
    const auto first = si::runtimeDir(&error);
    ASSERT_EQ(first, dir.path() + "/state/havenway/run") << error;
    auto lock = si::tryLock(*first, &error);
    ASSERT_TRUE(lock) << error;
    UniqueFd server(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = *first + "/instance.sock";
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(server.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server.get(), 1), 0);
    std::string received;
    std::thread running([&] {
        UniqueFd c(::accept(server.get(), nullptr, nullptr));
        char buffer[64];
        const ssize_t n = ::recv(c.get(), buffer, sizeof buffer, 0);
        if (n > 0) received.assign(buffer, static_cast<std::size_t>(n));
        ::send(c.get(), "ok\n", 3, MSG_NOSIGNAL);
    });

    ASSERT_EQ(::unlink(squatted.c_str()), 0);
    const auto second = si::runtimeDir(&error);
    EXPECT_EQ(second, first) << "the freed name made another folder";
    EXPECT_FALSE(std::filesystem::exists(squatted));
    EXPECT_FALSE(second && si::tryLock(*second, &error)) << "a second start became a first";
    EXPECT_TRUE(error.empty()) << error;
    std::string why;
    const bool forwarded = second && si::forward(*second + "/instance.sock", "reopen", 2000, &why);
    EXPECT_TRUE(forwarded) << why;
    if (!forwarded) ::shutdown(server.get(), SHUT_RDWR);  // no one will come
    running.join();
    EXPECT_EQ(received, "reopen\n");
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
