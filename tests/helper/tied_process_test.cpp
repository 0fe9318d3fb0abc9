#include "helper/tied_process.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace hw::helper {
namespace {

// Running, not ended nor only waiting to be reaped.
bool runs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::stringstream text;
    text << in.rdbuf();
    const std::string stat = text.str();
    return !stat.empty() && stat.find(") Z ") == std::string::npos;
}

// A real wait on a real process: bounded far past what it takes.
bool endsWithin(pid_t pid, std::chrono::seconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (runs(pid)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A stand-in helper in a process of its own: it starts a long sleep from a
// thread that then ends, reports the sleep's pid, and waits to be killed.
pid_t helperThatStartsASleep(pid_t* sleeper) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return -1;
    const pid_t helper = ::fork();
    if (helper == 0) {
        pid_t child = -1;
        std::thread([&] {
            int error = 0;
            child = spawnTied({"/bin/sleep", {"sleep", "600"}, {}, 1, true}, &error);
        }).join();
        [[maybe_unused]] auto n = ::write(report[1], &child, sizeof child);
        for (;;) ::pause();
    }
    ::close(report[1]);
    *sleeper = -1;
    [[maybe_unused]] auto n = ::read(report[0], sleeper, sizeof *sleeper);
    ::close(report[0]);
    return helper;
}

TEST(TiedProcess, OutlivesTheThreadThatStartedItButNotTheHelper) {
    pid_t sleeper = -1;
    const pid_t helper = helperThatStartsASleep(&sleeper);
    ASSERT_GT(helper, 0);
    ASSERT_GT(sleeper, 0);
    EXPECT_TRUE(runs(sleeper)) << "it ended with the thread that started it";
    EXPECT_EQ(::getpgid(sleeper), sleeper) << "not in a process group of its own";
    EXPECT_EQ(::getsid(sleeper), sleeper) << "not in a session of its own, as pppd needs";

    ::kill(helper, SIGKILL);
    ::waitpid(helper, nullptr, 0);
    const bool ended = endsWithin(sleeper, std::chrono::seconds(10));
    if (!ended) ::kill(sleeper, SIGKILL);
    EXPECT_TRUE(ended) << "it outlived the helper that started it";
}

// In a process of its own too: a fork keeps none of the parent's threads.
TEST(TiedProcess, AProgramThatCannotStartIsAnErrorNotAChild) {
    const pid_t helper = ::fork();
    if (helper == 0) {
        int error = 0;
        const bool refused = spawnTied({"/nonexistent/openvpn", {"openvpn"}, {}, 1}, &error) == -1;
        // Nothing was left to reap.
        const bool nothingLeft = ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
        ::_exit(refused && error == ENOENT && nothingLeft ? 0 : 1);
    }
    ASSERT_GT(helper, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(helper, &status, 0), helper);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace hw::helper
