#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "support/capture_log.h"
#include "support/manual_queue.h"
#include "view/interval_animator.h"

namespace hw::test {
namespace {

struct FrameRecorder : IntervalAnimatorDelegate {
    std::vector<int> frames;
    void onIntervalAnimatorUpdate(IntervalAnimator&, int frame) override { frames.push_back(frame); }
};

TEST(IntervalAnimator, StepsOneFrameEveryIntervalAndRestartsWithOneTimer) {
    ManualQueue queue;
    IntervalAnimator animator(queue);
    FrameRecorder recorder;
    animator.delegate = &recorder;
    ASSERT_TRUE(animator.start());
    queue.advance(169);
    EXPECT_TRUE(recorder.frames.empty());
    queue.advance(1);
    EXPECT_EQ(recorder.frames, std::vector<int>{1});
    queue.advance(170 * 3);
    EXPECT_EQ(recorder.frames, (std::vector<int>{1, 2, 0, 1}));

    animator.stop();
    queue.advance(1000);
    EXPECT_EQ(recorder.frames.size(), 4u);

    // Starting again, also while running, restarts from frame 0 with one timer.
    recorder.frames.clear();
    animator.start();
    queue.advance(170);
    animator.start();
    queue.advance(340);
    EXPECT_EQ(recorder.frames, (std::vector<int>{1, 1, 2}));
}

TEST(IntervalAnimator, RefusesWhatWouldDivideByZeroOrSpin) {
    auto log = CaptureLog::install();
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (const auto& [frames, interval] :
         {std::pair{0, 0.17}, {-2, 0.17}, {3, 0.0}, {3, -1.0}, {3, nan}, {3, inf}}) {
        ManualQueue queue;
        IntervalAnimator animator(queue);
        FrameRecorder recorder;
        animator.delegate = &recorder;
        animator.numberOfFrames = frames;
        animator.timerUpdateInterval = interval;
        EXPECT_FALSE(animator.start()) << frames << " " << interval;
        EXPECT_FALSE(animator.isRunning());
        EXPECT_EQ(queue.advance(10000), 0u);
        EXPECT_TRUE(recorder.frames.empty());
    }
    log::setSink(nullptr);
}

}  // namespace
}  // namespace hw::test
