#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/manual_queue.h"

using hw::test::ManualQueue;

TEST(MainQueue, DelaysTruncateAndOddValuesRunNextTurnOrSaturate) {
    EXPECT_EQ(hw::delayToMillis(50.9), 50);
    EXPECT_EQ(hw::delayToMillis(-3), 0);
    EXPECT_EQ(hw::delayToMillis(std::nan("")), 0);
    EXPECT_EQ(hw::delayToMillis(1e300), std::numeric_limits<std::int64_t>::max());

    ManualQueue q;
    std::vector<std::string> ran;
    q.postAfter(std::nan(""), [&] { ran.push_back("nan"); });
    q.postAfter(1e300, [&] { ran.push_back("huge"); });
    q.runUntilIdle();
    EXPECT_EQ(ran, std::vector<std::string>{"nan"});
    q.advance(1e9);
    EXPECT_EQ(ran.size(), 1u);
}

TEST(MainQueue, ManualQueueRunsInDueOrderThenFifo) {
    ManualQueue q;
    std::string order;
    q.postAfter(100, [&] { order += "c"; });
    q.post([&] {
        order += "a";
        q.post([&] { order += "b"; });
    });
    q.postAfter(100, [&] { order += "d"; });
    q.postAfter(50, [&] { order += "x"; q.postAfter(50, [&] { order += "e"; }); });
    EXPECT_EQ(q.runUntilIdle(), 2u);
    EXPECT_EQ(order, "ab");
    q.advance(99);
    EXPECT_EQ(order, "abx");
    EXPECT_EQ(q.now(), 99);
    q.advance(1);
    EXPECT_EQ(order, "abxcde");
}

TEST(MainQueue, TimersRepeatUntilCancelled) {
    ManualQueue q;
    int ticks = 0;
    auto timer = q.startTimer(1000, true, [&] { ++ticks; });
    q.advance(3500);
    EXPECT_EQ(ticks, 3);
    timer.reset();
    q.advance(5000);
    EXPECT_EQ(ticks, 3);

    int once = 0;
    auto single = q.startTimer(10, false, [&] { ++once; });
    q.advance(100);
    EXPECT_EQ(once, 1);
}
