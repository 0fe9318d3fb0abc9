#include "support/manual_queue.h"

#include <limits>

namespace hw::test {

class ManualTimer final : public Timer {
public:
    ManualTimer(ManualQueue& q, std::uint64_t id) : q_(q), id_(id) {}
    ~ManualTimer() override { cancel(); }
    void cancel() override {
        std::lock_guard lock(q_.mutex_);
        q_.liveTimers_.erase(id_);
        std::erase_if(q_.entries_, [this](const auto& e) { return e.second.timerId == id_; });
    }

private:
    ManualQueue& q_;
    std::uint64_t id_;
};

ManualQueue::ManualQueue() : owner_(std::this_thread::get_id()) {}
// A task left may own a timer that cancels itself as it goes, and that
// reaches into the queue: the queue is whole while they are destroyed.
ManualQueue::~ManualQueue() {
    std::map<Key, Entry> left;
    {
        std::lock_guard lock(mutex_);
        left.swap(entries_);
    }
    left.clear();
}

bool ManualQueue::isMainThread() const { return std::this_thread::get_id() == owner_; }

void ManualQueue::schedule(std::int64_t due, Task task, std::uint64_t timerId) {
    std::lock_guard lock(mutex_);
    entries_.emplace(Key{due, sequence_++}, Entry{std::move(task), timerId});
}

static std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    return b > kMax - a ? kMax : a + b;
}

void ManualQueue::post(Task task) { schedule(now(), std::move(task), 0); }

void ManualQueue::postAfter(double ms, Task task) {
    schedule(saturatingAdd(now(), delayToMillis(ms)), std::move(task), 0);
}

std::unique_ptr<Timer> ManualQueue::startTimer(double intervalMs, bool repeats, Task task) {
    std::uint64_t id;
    {
        std::lock_guard lock(mutex_);
        id = nextTimer_++;
        liveTimers_[id] = repeats;
    }
    const auto interval = std::max<std::int64_t>(delayToMillis(intervalMs), repeats ? 1 : 0);
    auto shared = std::make_shared<Task>(std::move(task));
    auto fire = std::make_shared<std::function<void()>>();
    *fire = [this, id, interval, shared, weakFire = std::weak_ptr<std::function<void()>>(fire)] {
        bool repeat;
        {
            std::lock_guard lock(mutex_);
            auto it = liveTimers_.find(id);
            if (it == liveTimers_.end()) return;
            repeat = it->second;
            if (!repeat) liveTimers_.erase(it);
        }
        if (repeat) {
            if (auto f = weakFire.lock()) schedule(saturatingAdd(now(), interval), [f] { (*f)(); }, id);
        }
        (*shared)();
    };
    schedule(saturatingAdd(now(), interval), [fire] { (*fire)(); }, id);
    return std::make_unique<ManualTimer>(*this, id);
}

bool ManualQueue::runOne(std::int64_t limit) {
    Task task;
    {
        std::lock_guard lock(mutex_);
        if (entries_.empty()) return false;
        auto it = entries_.begin();
        if (it->first.first > limit) return false;
        if (it->first.first > now_) now_ = it->first.first;
        task = std::move(it->second.task);
        entries_.erase(it);
    }
    task();
    return true;
}

std::size_t ManualQueue::runUntilIdle() {
    std::size_t n = 0;
    while (runOne(now())) ++n;
    return n;
}

std::size_t ManualQueue::advance(double ms) {
    const auto target = saturatingAdd(now(), delayToMillis(ms));
    std::size_t n = 0;
    while (runOne(target)) ++n;
    std::lock_guard lock(mutex_);
    if (now_ < target) now_ = target;
    return n;
}

std::int64_t ManualQueue::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::size_t ManualQueue::pending() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace hw::test
