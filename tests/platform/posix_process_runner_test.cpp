#include "platform/posix_process_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <sstream>

using hw::PosixProcessRunner;
using hw::ProcessRequest;
using hw::ProcessResult;
using namespace std::chrono_literals;

namespace {

ProcessResult run(std::vector<std::string> argv, std::optional<std::string> input = std::nullopt,
                  std::chrono::milliseconds timeout = 20s, std::chrono::milliseconds grace = 2s) {
    PosixProcessRunner runner(grace);
    ProcessRequest request;
    request.argv = std::move(argv);
    request.stdinData = std::move(input);
    request.timeout = timeout;
    return runner.run(request);
}

TEST(PosixProcessRunner, ArgumentsReachTheProgramVerbatimWithoutAShell) {
    const auto r = run({"printf", "%s|", "a b", "$HOME", ";", "`id`", "*"});
    ASSERT_TRUE(r.ok()) << r.error << r.err;
    EXPECT_EQ(r.out, "a b|$HOME|;|`id`|*|");
    EXPECT_TRUE(r.err.empty());
}

TEST(PosixProcessRunner, ReportsExitCodeAndStandardError) {
    const auto r = run({"ls", "/nonexistent-havenway-path"});
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("nonexistent-havenway-path"), std::string::npos);
}

TEST(PosixProcessRunner, StartFailuresAreReportedNotThrown) {
    auto r = run({"/nonexistent/havenway-program"});
    EXPECT_FALSE(r.started);
    EXPECT_NE(r.error.find("No such file"), std::string::npos) << r.error;
    EXPECT_FALSE(run({}).started);
    EXPECT_FALSE(run({""}).started);
    EXPECT_FALSE(run({"echo", std::string("a\0b", 3)}).started);

    PosixProcessRunner runner;
    ProcessRequest bad;
    bad.argv = {"true"};
    bad.environment = {{"A=B", "x"}};
    EXPECT_FALSE(runner.run(bad).started);
}

TEST(PosixProcessRunner, LargeOutputOnBothStreamsNeverDeadlocks) {
    // stderr fills first while stdout is still unread, and the other way round.
    const auto r = run({"/bin/sh", "-c", "head -c 3000000 /dev/zero >&2; head -c 2000000 /dev/zero; echo end >&2"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.out.size(), 2000000u);
    EXPECT_EQ(r.err.size(), 3000004u);
}

TEST(PosixProcessRunner, StdinIsWrittenWhileOutputIsRead) {
    std::string input;
    for (int i = 0; i < 200000; ++i) input += "line " + std::to_string(i) + "\n";
    const auto r = run({"cat"}, input);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.out, input);

    // A child that reads nothing must not take this process down with SIGPIPE.
    const auto ignored = run({"true"}, std::string(4 << 20, 'x'));
    EXPECT_TRUE(ignored.ok());

    // No input: stdin is empty, not this process's terminal.
    const auto empty = run({"cat"});
    EXPECT_TRUE(empty.ok());
    EXPECT_EQ(empty.out, "");
}

TEST(PosixProcessRunner, RunsInItsOwnProcessGroupWithTheExtraEnvironment) {
    PosixProcessRunner runner;
    ProcessRequest request;
    request.argv = {"cat", "/proc/self/stat"};
    const auto stat = runner.run(request);
    ASSERT_TRUE(stat.ok());
    std::istringstream fields(stat.out.substr(stat.out.rfind(')') + 2));
    std::string state, ppid, pgrp;
    fields >> state >> ppid >> pgrp;
    EXPECT_EQ(pgrp, stat.out.substr(0, stat.out.find(' ')));
    EXPECT_NE(pgrp, std::to_string(::getpgrp()));

    request.argv = {"env"};
    request.environment = {{"HW_RUNNER_TEST", "a b=c"}, {"PATH", "/usr/bin:/bin"}};
    const auto env = runner.run(request);
    EXPECT_NE(env.out.find("\nHW_RUNNER_TEST=a b=c\n"), std::string::npos);
    EXPECT_EQ(env.out.find("PATH=", env.out.find("PATH=/usr/bin:/bin\n") + 1), std::string::npos) << "PATH once, ours";
}

TEST(PosixProcessRunner, TimeoutTerminatesTheWholeGroup) {
    const auto start = std::chrono::steady_clock::now();
    const auto r = run({"/bin/sh", "-c", "sleep 30 & sleep 30; echo never"}, std::nullopt, 200ms);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_EQ(r.out, "");
    // Had the background sleep survived, it would hold stdout open.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(PosixProcessRunner, TimeoutKillsWhatIgnoresTerminate) {
    const auto start = std::chrono::steady_clock::now();
    const auto r = run({"/bin/sh", "-c", "trap '' TERM; echo ready; sleep 30"}, std::nullopt, 200ms, 300ms);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(r.out, "ready\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(PosixProcessRunner, ABackgroundedDaemonDoesNotHoldTheCallerUp) {
    const auto start = std::chrono::steady_clock::now();
    const auto r = run({"/bin/sh", "-c", "sleep 3 & echo started"});
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.out, "started\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
}

}  // namespace
