#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/run_on_main_queue.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

TEST(RunOnMainQueueAfter, WaitsWholeMillisecondsAndOddDelaysRunNextTurnOrNever) {
    test::ManualQueue queue;
    std::string ran;
    runOnMainQueueAfter(queue, [&] { ran += "a"; }, 999.9);
    runOnMainQueueAfter(queue, [&] { ran += "n"; }, std::nan(""));
    runOnMainQueueAfter(queue, [&] { ran += "m"; }, -1);
    runOnMainQueueAfter(queue, [&] { ran += "h"; }, 1e19);
    queue.runUntilIdle();
    EXPECT_EQ(ran, "nm");
    queue.advance(998);
    EXPECT_EQ(ran, "nm");
    queue.advance(1);
    EXPECT_EQ(ran, "nma");
    queue.advance(1e12);
    EXPECT_EQ(ran, "nma");
}

}  // namespace
}  // namespace hw
