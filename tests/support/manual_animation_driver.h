#pragma once
// Qt animations in virtual time: while installed, every QPropertyAnimation
// and QVariantAnimation moves only when the test advances the clock.
#include <QAnimationDriver>
#include <QCoreApplication>

namespace hw::test {

class ManualAnimationDriver final : public QAnimationDriver {
public:
    ManualAnimationDriver() { install(); }
    ~ManualAnimationDriver() override { uninstall(); }

    // Lets started animations register (Qt starts them from the event loop), then moves time on.
    void advance(qint64 ms) {
        // Starting takes two queued hops: the animation registers, then the timer starts.
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        elapsed_ += ms;
        QAnimationDriver::advance();
        QCoreApplication::processEvents();
    }
    // Moves time in steps, as a display would, so that every frame is seen.
    void advanceInSteps(qint64 ms, qint64 step = 16) {
        for (qint64 done = 0; done < ms; done += step) advance(std::min(step, ms - done));
    }
    qint64 elapsed() const override { return elapsed_; }

private:
    qint64 elapsed_ = 0;
};

}  // namespace hw::test
