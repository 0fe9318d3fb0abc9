#include "platform/memory_trim.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/manual_queue.h"

namespace hw {
namespace {

using test::ManualQueue;

// One trim, a quiet while after the last of a run of bursts.
TEST(MemoryTrim, OneTrimFollowsTheLastBurstOnceItIsQuiet) {
    ManualQueue queue;
    int trims = 0;
    MemoryTrim trim(queue, 2000, [&] { ++trims; });
    trim.afterBurst();
    queue.advance(1500);
    trim.afterBurst();  // a second window shown: the trim waits for it
    queue.advance(1999);
    EXPECT_EQ(trims, 0);
    queue.advance(1);
    EXPECT_EQ(trims, 1);
    queue.advance(10000);
    EXPECT_EQ(trims, 1);
    trim.afterBurst();
    queue.advance(2000);
    EXPECT_EQ(trims, 2);
}

TEST(MemoryTrim, NothingRunsOnceItIsGone) {
    ManualQueue queue;
    int trims = 0;
    std::optional<MemoryTrim> trim;
    trim.emplace(queue, 2000, [&] { ++trims; });
    trim->afterBurst();
    trim.reset();
    queue.advance(5000);
    EXPECT_EQ(trims, 0);
}

}  // namespace
}  // namespace hw
