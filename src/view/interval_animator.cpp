#include "view/interval_animator.h"

#include <cmath>

#include "platform/log.h"

namespace hw {

bool IntervalAnimator::start() {
    stop();
    currentFrame = 0;
    if (numberOfFrames < 1 || !(timerUpdateInterval > 0) || !std::isfinite(timerUpdateInterval)) {
        log::warning("IntervalAnimator", "not started: it needs at least one frame and an interval above zero");
        return false;
    }
    timer_ = queue_.startTimer(timerUpdateInterval * 1000.0, true, [this] { tick(); });
    return true;
}

void IntervalAnimator::stop() {
    if (timer_) timer_->cancel();
    timer_.reset();
}

void IntervalAnimator::tick() {
    currentFrame = (currentFrame + 1) % numberOfFrames;
    if (delegate) delegate->onIntervalAnimatorUpdate(*this, currentFrame);
}

}  // namespace hw
