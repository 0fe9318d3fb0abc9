#pragma once
#include <memory>

#include "platform/main_queue.h"

namespace hw {

class IntervalAnimator;

class IntervalAnimatorDelegate {
public:
    virtual ~IntervalAnimatorDelegate() = default;
    virtual void onIntervalAnimatorUpdate(IntervalAnimator& animator, int frame) = 0;
};

// Steps through numberOfFrames frames, one every timerUpdateInterval seconds,
// on main-queue timers: after start the delegate sees 1, 2, ..., 0, 1, ...
class IntervalAnimator {
public:
    explicit IntervalAnimator(MainQueue& queue) : queue_(queue) {}

    double timerUpdateInterval = 0.17;  // seconds
    int numberOfFrames = 3;
    int currentFrame = 0;
    // Not owned; it must outlive the animator or be cleared first.
    IntervalAnimatorDelegate* delegate = nullptr;

    // Restarts from frame 0. Fewer than one frame, or an interval not above
    // zero, would divide by zero or spin: then nothing starts.
    bool start();
    void stop();
    bool isRunning() const { return timer_ != nullptr; }

private:
    void tick();

    MainQueue& queue_;
    std::unique_ptr<Timer> timer_;
};

}  // namespace hw
