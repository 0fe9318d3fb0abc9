#pragma once
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/main_queue.h"

namespace hw {

// A fixed set of worker threads; the destructor finishes queued work first.
class ThreadPool final : public BackgroundQueue {
public:
    explicit ThreadPool(unsigned threads = 4);
    ~ThreadPool() override;
    void async(Task task) override;

private:
    void run();
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace hw
