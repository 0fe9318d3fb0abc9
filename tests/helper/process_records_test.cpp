#include "helper/process_records.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "fake_system.h"
#include "platform/helper_message.h"
#include "support/netns_rig.h"

namespace hw::helper {
namespace {

// A child that runs until told otherwise.
struct Child : hw::test::ChildProcess {
    Child() : ChildProcess({"tail", "-f", "/dev/null"}, "/dev/null") {}
};

TEST(ProcessRecords, StopsOnlyWhatItStartedItself) {
    test::ScratchDir dir;
    ProcessRecords records(dir / "openvpn", "/proc");
    Child ours, unrelated;
    ASSERT_TRUE(ours.running());
    ASSERT_TRUE(records.record(ours.pid()));
    // A record whose pid now belongs to another process (start time differs).
    std::ofstream(dir / ("openvpn/" + std::to_string(unrelated.pid()))) << "1\n";
    std::ofstream(dir / "openvpn/not-a-pid") << "1\n";

    EXPECT_EQ(records.terminateAll(std::chrono::seconds(5)), 1);
    // Gone (reaped by the helper, its parent here, or a zombie at most).
    EXPECT_EQ(records.startTime(ours.pid()), std::nullopt);
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

TEST(ProcessRecords, RecordsInAFolderOthersCanWriteNameNothing) {
    test::ScratchDir dir;
    ProcessRecords records(dir / "openvpn", "/proc");
    Child ours;
    ASSERT_TRUE(records.record(ours.pid()));
    ASSERT_EQ(::chmod((dir / "openvpn").c_str(), 0777), 0);
    EXPECT_EQ(records.terminateAll(std::chrono::seconds(1)), 0);
    EXPECT_TRUE(ours.running());
    // Recording again makes the folder private again.
    ASSERT_TRUE(records.record(ours.pid()));
    EXPECT_EQ(records.terminateAll(std::chrono::seconds(5)), 1);
}

TEST(ProcessRecords, ASocketPeerCountsAsOursOnlyByPidAndStartTime) {
    test::ScratchDir dir;
    ProcessRecords records(dir / "openvpn", "/proc");
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd near(pair[0]), far(pair[1]);
    const pid_t self = ::getpid();  // the pair's far end was made by this process
    const auto start = records.startTime(self);
    ASSERT_TRUE(start);
    Child other;
    UniqueFd file(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    struct Row {
        const char* name;
        int socket;
        pid_t pid;
        unsigned long long start;
        bool mine;
    };
    for (const Row& row : {Row{"the process itself", near.get(), self, *start, true},
                           Row{"the pid, reused since", near.get(), self, *start + 1, false},
                           Row{"another process", near.get(), other.pid(), *records.startTime(other.pid()), false},
                           Row{"not a socket", file.get(), self, *start, false}})
        EXPECT_EQ(records.peerIsProcess(row.socket, row.pid, row.start), row.mine) << row.name;
}

}  // namespace
}  // namespace hw::helper
