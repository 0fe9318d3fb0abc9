#include "platform/system_clock.h"

#include <gtest/gtest.h>
#include <time.h>

namespace {

TEST(SystemClock, WallIsNowAndSteadyCountsFromBoot) {
    hw::SystemClock clock;
    EXPECT_NEAR(clock.wallSeconds(), static_cast<double>(::time(nullptr)), 2.0);

    timespec boot{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    const std::int64_t a = clock.steadyMillis();
    EXPECT_NEAR(static_cast<double>(a), boot.tv_sec * 1000.0 + boot.tv_nsec / 1e6, 1000.0);
    std::int64_t last = a;
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t now = clock.steadyMillis();
        ASSERT_GE(now, last);
        last = now;
    }
}

}  // namespace
