#pragma once
// The app's main thread for tests where real socket threads block on its
// answers: runs posted tasks in order on a thread of its own.
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "platform/main_queue.h"

namespace hw::test {

class ThreadQueue final : public MainQueue {
public:
    ThreadQueue() : thread_([this] { run(); }) {}
    // Runs what is still queued, then ends the thread.
    ~ThreadQueue() override {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void post(Task task) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        cv_.notify_all();
    }
    void postAfter(double, Task task) override { post(std::move(task)); }
    std::unique_ptr<Timer> startTimer(double, bool, Task) override { return nullptr; }
    bool isMainThread() const override { return std::this_thread::get_id() == thread_.get_id(); }
    // Runs task on the queue's thread and waits for it.
    void sync(Task task) {
        std::promise<void> done;
        post([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return done_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            auto t = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            t();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Task> tasks_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace hw::test
