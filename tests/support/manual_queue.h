#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/main_queue.h"

namespace hw::test {

// A main queue in virtual time. Nothing runs until the test drives it with
// runUntilIdle() or advance(ms); equal due times run in posting order.
class ManualQueue final : public MainQueue, public BackgroundQueue, public Clock {
public:
    ManualQueue();
    ~ManualQueue() override;

    void post(Task task) override;
    void postAfter(double ms, Task task) override;
    std::unique_ptr<Timer> startTimer(double intervalMs, bool repeats, Task task) override;
    bool isMainThread() const override;
    // As a background queue, work is queued like any other task.
    void async(Task task) override { post(std::move(task)); }

    // Runs every task that is due now, including those they post for now.
    std::size_t runUntilIdle();
    // Moves virtual time forward, running what falls due on the way, in order.
    std::size_t advance(double ms);
    std::int64_t now() const;
    // Tasks still to run; a cancelled timer is none.
    std::size_t pending() const;

    double wallSeconds() const override { return wallBase_ + static_cast<double>(now()) / 1000.0; }
    std::int64_t steadyMillis() const override { return now(); }
    void setWallBase(double seconds) { wallBase_ = seconds; }

private:
    struct Entry {
        Task task;
        std::uint64_t timerId = 0;
    };
    using Key = std::pair<std::int64_t, std::uint64_t>;  // due time, sequence
    void schedule(std::int64_t due, Task task, std::uint64_t timerId);
    bool runOne(std::int64_t limit);

    mutable std::recursive_mutex mutex_;
    std::map<Key, Entry> entries_;
    std::uint64_t sequence_ = 0;
    std::uint64_t nextTimer_ = 1;
    std::map<std::uint64_t, bool> liveTimers_;
    std::int64_t now_ = 0;
    double wallBase_ = 1'800'000'000.0;
    std::thread::id owner_;
    friend class ManualTimer;
};

}  // namespace hw::test
