#pragma once
#include <cstdint>
#include <functional>
#include <memory>

namespace hw {

using Task = std::function<void()>;

// Converts a caller's delay (possibly fractional, NaN or negative) to whole
// milliseconds: NaN and negatives run on the next turn, and anything past the
// representable range saturates instead of wrapping round to "now".
std::int64_t delayToMillis(double ms);

// Cancels its timer when destroyed or when cancel() is called.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void cancel() = 0;
};

// The one thread that owns the state. post and postAfter may be called from
// any thread; tasks run on the main thread in order (FIFO for equal due times).
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(double ms, Task task) = 0;
    virtual std::unique_ptr<Timer> startTimer(double intervalMs, bool repeats, Task task) = 0;
    virtual bool isMainThread() const = 0;

    // Runs at once when already on the main thread, else posts.
    void runOnMain(Task task) {
        if (isMainThread()) task(); else post(std::move(task));
    }
};

// Work that may block (sockets, child processes, downloads).
class BackgroundQueue {
public:
    virtual ~BackgroundQueue() = default;
    virtual void async(Task task) = 0;
};

}  // namespace hw
