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
