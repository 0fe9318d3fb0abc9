#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/vpn_connection.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

using test::ManualQueue;

TEST(VPNConnection, ElapsedTextFormatsAndWrapsAfterADay) {
    EXPECT_EQ(VPNConnection::elapsedTimeText(7.9), "00:00:07");
    EXPECT_EQ(VPNConnection::elapsedTimeText(25 * 3600 + 3 * 60 + 9), "01:03:09");
    for (double never : {-5.0, std::nan(""), double(INFINITY)}) {
        EXPECT_EQ(VPNConnection::elapsedTimeText(never), "00:00:00") << "never a negative or garbled text";
    }
}

struct Session : ::testing::Test {
    ManualQueue queue;
    VPNConnection session{queue, queue};
    std::vector<std::string> ticks;
    void SetUp() override {
        session.tickUpdateCallback = [this](const std::string& t) { ticks.push_back(t); };
    }
};

// The first text one interval after the start, then each new text on its
// second, and no tick in between that would repeat one.
TEST_F(Session, TicksOneIntervalAfterTheStartThenOnEverySecond) {
    session.startConnectionTimer();
    EXPECT_TRUE(session.isTimerValid());
    queue.advance(99);
    EXPECT_TRUE(ticks.empty());
    queue.advance(1);
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_EQ(ticks[0], "00:00:00");
    queue.advance(899);
    EXPECT_EQ(ticks.size(), 1u) << "a millisecond before the first second";
    queue.advance(1);
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_EQ(ticks[1], "00:00:01");
    queue.advance(58'000);
    EXPECT_EQ(ticks.size(), 60u);
    EXPECT_EQ(ticks.back(), "00:00:59");
    for (std::size_t i = 1; i < ticks.size(); ++i) EXPECT_NE(ticks[i], ticks[i - 1]) << "a repeated text at " << i;
}

TEST_F(Session, IgnoresWallClockJumps) {
    session.startConnectionTimer();
    queue.advance(10'000);
    queue.setWallBase(0);  // the wall clock set back by decades
    queue.advance(100);
    EXPECT_EQ(ticks.back(), "00:00:10");
    queue.setWallBase(4'000'000'000.0);
    queue.advance(100);
    EXPECT_EQ(ticks.back(), "00:00:10");
}

TEST_F(Session, SecondStartKeepsTheSessionRestartCountsFromZeroStopKeepsTheStart) {
    session.startConnectionTimer();
    queue.advance(5'000);
    const double started = session.startTime();
    session.startConnectionTimer();
    EXPECT_EQ(session.startTime(), started);
    queue.advance(100);
    EXPECT_EQ(ticks.back(), "00:00:05");

    std::size_t before = ticks.size();
    session.restartTimer();
    queue.advance(100);
    EXPECT_EQ(ticks.size(), before + 1);  // the old timer is gone
    EXPECT_EQ(ticks.back(), "00:00:00");

    session.stopConnectionTimer();
    EXPECT_FALSE(session.isTimerValid());
    EXPECT_NE(session.startTime(), 0);
    before = ticks.size();
    queue.advance(1'000);
    EXPECT_EQ(ticks.size(), before);
    session.resetTimer();
    EXPECT_EQ(session.elapsedSeconds(), 0);

    session.tickUpdateCallback = nullptr;
    session.startConnectionTimer();
    queue.advance(1'000);
    EXPECT_EQ(ticks.size(), before);
}

// Nothing shows the clock: nothing waits on the queue, the session keeps
// its start, and showing it again gives the text of the moment at once.
TEST_F(Session, PausedTheClockWakesNothingAndResumesWithTheTextOfTheMoment) {
    session.startConnectionTimer();
    queue.advance(2'000);
    session.setTicksPaused(true);
    EXPECT_TRUE(session.isTimerValid()) << "the session runs on";
    const std::size_t before = ticks.size();
    queue.advance(62'500);
    EXPECT_EQ(ticks.size(), before);

    session.setTicksPaused(false);
    ASSERT_EQ(ticks.size(), before + 1);
    EXPECT_EQ(ticks.back(), "00:01:04");
    queue.advance(499);
    EXPECT_EQ(ticks.size(), before + 1) << "a millisecond before the session's next second";
    queue.advance(1);
    EXPECT_EQ(ticks.back(), "00:01:05");

    // A session that starts while paused ticks only once resumed, from its own start.
    session.resetTimer();
    session.setTicksPaused(true);
    session.startConnectionTimer();
    queue.advance(3'000);
    EXPECT_EQ(ticks.size(), before + 2);
    session.setTicksPaused(false);
    EXPECT_EQ(ticks.back(), "00:00:03");
    // Stopped while paused: resuming shows nothing.
    session.setTicksPaused(true);
    session.stopConnectionTimer();
    const std::size_t stopped = ticks.size();
    session.setTicksPaused(false);
    queue.advance(2'000);
    EXPECT_EQ(ticks.size(), stopped);
}

TEST(VPNConnection, DestroyingARunningSessionCancelsItsTimer) {
    ManualQueue queue;
    int ticks = 0;
    {
        VPNConnection session(queue, queue);
        session.tickUpdateCallback = [&](const std::string&) { ++ticks; };
        session.startConnectionTimer();
        queue.advance(1'000);
    }
    queue.advance(1'000);
    EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace hw
