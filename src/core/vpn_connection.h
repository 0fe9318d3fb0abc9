#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/main_queue.h"

namespace hw {

// One connected session and its elapsed-time clock. The first tick arrives on
// the main queue timerUpdateInterval seconds after the start, and the next
// ones each time the text would change (on every whole second), so the
// connected application wakes once a second rather than ten times; each tick
// hands the elapsed "HH:MM:SS" text to tickUpdateCallback, when one is set.
//
// Elapsed time comes from the clock's steady time, so setting the wall clock
// back or forth does not move it, and it never reads below 00:00:00. The
// hours wrap after a day.
//
// While nothing shows the clock its ticks can be paused: the session keeps
// its start, no timer wakes the application, and resuming hands over the
// text of the moment at once.
class VPNConnection {
public:
    using TickCallback = std::function<void(const std::string&)>;

    VPNConnection(MainQueue& queue, const Clock& clock);
    ~VPNConnection();
    VPNConnection(const VPNConnection&) = delete;
    VPNConnection& operator=(const VPNConnection&) = delete;

    TickCallback tickUpdateCallback;
    static constexpr double timerUpdateInterval = 0.1;

    // Starts the clock unless it already runs (a running session keeps its
    // start).
    void startConnectionTimer();
    // Stops the ticks; the start time is kept.
    void stopConnectionTimer();
    // Stops and forgets the start time.
    void resetTimer();
    // Counts from zero again with a fresh timer.
    void restartTimer();
    // One tick: builds the text and hands it on; a running clock then waits
    // for the next second.
    void updateTime();
    // Pauses or resumes the ticks; a session started while paused ticks once resumed.
    void setTicksPaused(bool paused);
    bool ticksPaused() const { return paused_; }

    // Whether the session's clock runs (paused or not).
    bool isTimerValid() const { return running_; }
    // Wall time (seconds since 1970) at which the clock started; 0 when idle.
    double startTime() const { return startTime_; }
    // Seconds since the start by the steady clock; 0 when idle.
    double elapsedSeconds() const;

    // "HH:MM:SS" for an elapsed time; negative or not-a-number reads as zero.
    static std::string elapsedTimeText(double seconds);

private:
    void scheduleTick(double ms);
    void scheduleNextSecond();
    void cancelTimer();
    MainQueue& queue_;
    const Clock& clock_;
    std::unique_ptr<Timer> timer_;
    double startTime_ = 0;
    std::int64_t startSteadyMillis_ = 0;
    bool started_ = false;
    bool running_ = false;
    bool paused_ = false;
};

}  // namespace hw
