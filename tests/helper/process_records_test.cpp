#include "helper/process_records.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "fake_system.h"

namespace hw::helper {
namespace {

// A child that runs until told otherwise: cat on a pipe we hold open.
struct Child {
    pid_t pid = -1;
    int input = -1;
    Child() {
        int p[2];
        if (::pipe(p) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(p[0], 0);
            ::close(p[1]);
            ::execlp("cat", "cat", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(p[0]);
        input = p[1];
    }
    ~Child() {
        if (input >= 0) ::close(input);
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    bool running() const { return pid > 0 && ::kill(pid, 0) == 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; }
};

TEST(ProcessRecords, StopsOnlyWhatItStartedItself) {
    test::ScratchDir dir;
    ProcessRecords records(dir / "openvpn", "/proc");
    Child ours, unrelated;
    ASSERT_TRUE(ours.running());
    ASSERT_TRUE(records.record(ours.pid));
    // A record whose pid now belongs to another process (start time differs).
    std::ofstream(dir / ("openvpn/" + std::to_string(unrelated.pid))) << "1\n";
    std::ofstream(dir / "openvpn/not-a-pid") << "1\n";

    EXPECT_EQ(records.terminateAll(std::chrono::seconds(5)), 1);
    // Gone (reaped by the helper, its parent here, or a zombie at most).
    EXPECT_EQ(records.startTime(ours.pid), std::nullopt);
    EXPECT_TRUE(unrelated.running());
    EXPECT_TRUE(std::filesystem::is_empty(dir / "openvpn"));
    EXPECT_EQ(records.terminateAll(std::chrono::seconds(1)), 0);
}

TEST(ProcessRecords, ReadsStartTimesDespiteOddCommandNames) {
    test::ScratchDir dir;
    std::filesystem::create_directories(dir / "proc/42");
    std::ofstream(dir / "proc/42/stat") << "42 (a) b (c) S 1 42 42 0 -1 4194560 100 0 0 0 0 0 0 0 20 0 1 0 987654 0 0";
    std::filesystem::create_directories(dir / "proc/43");
    std::ofstream(dir / "proc/43/stat") << "43 (z) Z 1 43 43 0 -1 4194560 100 0 0 0 0 0 0 0 20 0 1 0 5 0 0";
    ProcessRecords records(dir / "run", dir / "proc");
    EXPECT_EQ(records.startTime(42), 987654u);
    EXPECT_EQ(records.startTime(43), std::nullopt);
    EXPECT_EQ(records.startTime(44), std::nullopt);
}

}  // namespace
}  // namespace hw::helper
