#include "platform/secret_store_queue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "platform/log.h"

namespace hw {

// One detached thread: its state lives as long as the last of it and the
// queue, so a call that returns after the queue is gone touches nothing freed,
// and an exit never waits on a keyring that does not answer.
class SecretStoreQueue::Thread final : public BackgroundQueue, public std::enable_shared_from_this<Thread> {
public:
    void start() {
        std::thread([self = shared_from_this()] { self->loop(); }).detach();
    }
    void async(Task task) override {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        tasks_.push_back(std::move(task));
        wake_.notify_one();
    }
    // Posts the answer unless the queue is gone (its main queue may be too).
    void answer(MainQueue& main, Task task) {
        std::lock_guard lock(mutex_);
        if (!stopping_) main.post(std::move(task));
    }
    // Pending calls are dropped; one under way gets a moment to end.
    void stop() {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        tasks_.clear();
        wake_.notify_one();
        idle_.wait_for(lock, std::chrono::seconds(2), [this] { return !busy_; });
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) break;
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            busy_ = true;
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
            busy_ = false;
            idle_.notify_all();
        }
        busy_ = false;
        idle_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Task> tasks_;
    bool stopping_ = false;
    bool busy_ = false;
};

SecretStoreQueue::SecretStoreQueue(std::shared_ptr<SecretStore> store, MainQueue& main)
    : store_(std::move(store)), main_(main), thread_(std::make_shared<Thread>()), worker_(thread_.get()) {
    thread_->start();
}

SecretStoreQueue::SecretStoreQueue(std::shared_ptr<SecretStore> store, MainQueue& main, BackgroundQueue& worker)
    : store_(std::move(store)), main_(main), worker_(&worker) {}

SecretStoreQueue::~SecretStoreQueue() {
    if (thread_) thread_->stop();
}

void SecretStoreQueue::run(std::function<void(SecretStore&)> job) {
    worker_->async([store = store_, job = std::move(job)] { job(*store); });
}

std::function<void(Task)> SecretStoreQueue::answerer() const {
    MainQueue* main = &main_;
    if (!thread_) return [main](Task task) { main->post(std::move(task)); };
    return [main, thread = std::weak_ptr<Thread>(thread_)](Task task) {
        if (auto t = thread.lock()) t->answer(*main, std::move(task));
    };
}

void SecretStoreQueue::read(const std::string& service, const std::string& key, std::function<void(SecretRead)> done) {
    run([answer = answerer(), service, key, done = std::move(done)](SecretStore& store) {
        answer([done, result = store.read(service, key)] { done(result); });
    });
}

void SecretStoreQueue::write(const std::string& service, const std::string& key, Bytes data,
                             std::function<void(bool)> done) {
    run([answer = answerer(), service, key, data = std::move(data), done = std::move(done)](SecretStore& store) {
        const bool ok = store.write(service, key, data);
        if (done) answer([done, ok] { done(ok); });
    });
}

void SecretStoreQueue::remove(const std::string& service, const std::string& key, std::function<void(bool)> done) {
    run([answer = answerer(), service, key, done = std::move(done)](SecretStore& store) {
        const bool ok = store.remove(service, key);
        if (done) answer([done, ok] { done(ok); });
    });
}

SecretRead QueuedSecretStore::read(const std::string& service, const std::string& key) {
    auto answer = std::make_shared<std::promise<SecretRead>>();
    std::future<SecretRead> result = answer->get_future();
    queue_.run([answer, service, key](SecretStore& store) { answer->set_value(store.read(service, key)); });
    if (result.wait_for(std::chrono::milliseconds(waitMs_)) == std::future_status::ready) {
        try {
            return result.get();
        } catch (const std::future_error&) {
            return {SecretStatus::Error, {}};  // dropped: the queue is ending
        }
    }
    log::warning("secrets", "the keychain has not answered in " + std::to_string(waitMs_ / 1000) +
                                " s; carrying on without the item");
    return {SecretStatus::Error, {}};
}

bool QueuedSecretStore::write(const std::string& service, const std::string& key, const Bytes& data) {
    queue_.run([service, key, data](SecretStore& store) {
        if (!store.write(service, key, data)) log::warning("secrets", "a queued write to the keychain failed");
    });
    return true;
}

bool QueuedSecretStore::remove(const std::string& service, const std::string& key) {
    queue_.run([service, key](SecretStore& store) { store.remove(service, key); });
    return true;
}

}  // namespace hw
