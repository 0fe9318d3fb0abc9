#include "platform/secret_store_queue.h"

#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <deque>
#include <future>
#include <mutex>
#include <set>
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
    void async(Task task) override { add(std::move(task), false); }
    // A task kept at quit, for finish() to wait on.
    void add(Task task, bool kept) {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        tasks_.push_back({std::move(task), kept});
        wake_.notify_one();
    }
    // Posts the answer unless the queue is gone or finishing (its main queue may be too).
    void answer(MainQueue& main, Task task) {
        std::lock_guard lock(mutex_);
        if (!stopping_ && !finishing_) main.post(std::move(task));
    }
    // Only kept tasks stay; true when they are done within the bound.
    bool drain(int boundMs) {
        std::unique_lock lock(mutex_);
        finishing_ = true;
        std::erase_if(tasks_, [](const Queued& q) { return !q.kept; });
        // A read under way is not waited for: nothing will take its answer.
        return idle_.wait_for(lock, std::chrono::milliseconds(boundMs),
                              [this] { return !(busy_ && busyKept_) && tasks_.empty(); });
    }
    // Pending calls are dropped; one under way gets a moment to end, unless
    // finish() already gave it its time.
    void stop() {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        tasks_.clear();
        wake_.notify_one();
        if (!finishing_) idle_.wait_for(lock, std::chrono::seconds(2), [this] { return !busy_; });
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) break;
            Task task = std::move(tasks_.front().task);
            busyKept_ = tasks_.front().kept;
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

    struct Queued {
        Task task;
        bool kept = false;
    };
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Queued> tasks_;
    bool stopping_ = false;
    bool finishing_ = false;
    bool busy_ = false;
    bool busyKept_ = false;
};

// The removals the store has carried out, as the worker reports them.
struct SecretStoreQueue::Carried {
    std::mutex mutex;
    std::set<std::string> gone;
};

SecretStoreQueue::SecretStoreQueue(std::shared_ptr<SecretStore> store, MainQueue& main)
    : store_(std::move(store)),
      main_(main),
      thread_(std::make_shared<Thread>()),
      worker_(thread_.get()),
      carried_(std::make_shared<Carried>()) {
    thread_->start();
}

SecretStoreQueue::SecretStoreQueue(std::shared_ptr<SecretStore> store, MainQueue& main, BackgroundQueue& worker)
    : store_(std::move(store)), main_(main), worker_(&worker), carried_(std::make_shared<Carried>()) {}

SecretStoreQueue::~SecretStoreQueue() {
    if (!finished_) finish(kRemovalBoundMs);
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

std::string SecretStoreQueue::itemId(const std::string& service, const std::string& key) { return service + "\n" + key; }

void SecretStoreQueue::read(const std::string& service, const std::string& key, std::function<void(SecretRead)> done) {
    run([this, alive = std::weak_ptr<bool>(alive_), answer = answerer(), service, key,
         done = std::move(done)](SecretStore& store) {
        answer([this, alive, done, service, key, result = store.read(service, key)] {
            const bool removed = !alive.expired() && removalPending(service, key);
            done(removed ? SecretRead{SecretStatus::Absent, {}} : result);
        });
    });
}

void SecretStoreQueue::write(const std::string& service, const std::string& key, Bytes data,
                             std::function<void(bool)> done, bool keptAtQuit) {
    const std::string id = itemId(service, key);
    const std::uint64_t asked = lastAsked_[id] = ++asked_;
    Task job = [store = store_, this, alive = std::weak_ptr<bool>(alive_), answer = answerer(), service, key, id,
                asked, data = std::move(data), done = std::move(done)] {
        const bool ok = store->write(service, key, data);
        answer([this, alive, id, asked, ok, done] {
            // The new item replaces whatever a removal asked before it was to clear.
            if (ok && !alive.expired()) settle(id, asked, true);
            if (done) done(ok);
        });
    };
    if (thread_) thread_->add(std::move(job), keptAtQuit);
    else worker_->async(std::move(job));
}

void SecretStoreQueue::remove(const std::string& service, const std::string& key, std::function<void(bool)> done) {
    const std::string id = itemId(service, key);
    if (journal_ && std::find(pending_.begin(), pending_.end(), id) == pending_.end()) {
        pending_.push_back(id);
        saveJournal();
    }
    queueRemoval(id, std::move(done));
}

void SecretStoreQueue::queueRemoval(const std::string& id, std::function<void(bool)> done) {
    const std::uint64_t asked = lastAsked_[id] = ++asked_;
    const std::string service = id.substr(0, id.find('\n')), key = id.substr(id.find('\n') + 1);
    Task job = [store = store_, carried = carried_, answer = answerer(), this, alive = std::weak_ptr<bool>(alive_), id,
                asked, service, key, done = std::move(done)] {
        // The port answers false for "nothing there" as for a failure: asked again, absence is success.
        const bool gone = store->remove(service, key) || store->read(service, key).status == SecretStatus::Absent;
        if (!gone) log::warning("secrets", "an item could not be removed from the keychain; removing it is retried at the next start");
        if (gone) {
            std::lock_guard lock(carried->mutex);
            carried->gone.insert(id);
        }
        answer([this, alive, id, asked, gone, done] {
            if (!alive.expired()) settle(id, asked, gone);
            if (done) done(gone);
        });
    };
    if (thread_) thread_->add(std::move(job), true);
    else worker_->async(std::move(job));
}

void SecretStoreQueue::settle(const std::string& id, std::uint64_t asked, bool gone) {
    if (!gone || lastAsked_[id] != asked) return;
    const auto at = std::find(pending_.begin(), pending_.end(), id);
    if (at == pending_.end()) return;
    pending_.erase(at);
    saveJournal();
}

void SecretStoreQueue::saveJournal() {
    if (!journal_) return;
    if (pending_.empty()) journal_->remove(journalKey_);
    else journal_->set(journalKey_, SettingValue(pending_));
    if (!journal_->synchronize()) log::warning("secrets", "the settings file could not be written; a sign-out may not outlast a crash");
}

void SecretStoreQueue::keepRemovalsIn(SettingsStore& settings, std::string key) {
    journal_ = &settings;
    journalKey_ = std::move(key);
    pending_ = settings.stringListForKey(journalKey_).value_or(StringList{});
    std::erase_if(pending_, [](const std::string& id) { return id.find('\n') == std::string::npos; });
    if (!pending_.empty())
        log::info("secrets", std::to_string(pending_.size()) + " removals from the keychain were left by the last run; carrying them out");
    for (const std::string& id : pending_) queueRemoval(id, nullptr);
}

bool SecretStoreQueue::removalPending(const std::string& service, const std::string& key) const {
    return std::find(pending_.begin(), pending_.end(), itemId(service, key)) != pending_.end();
}

void SecretStoreQueue::finish(int boundMs) {
    finished_ = true;
    if (thread_ && !thread_->drain(boundMs) && !pending_.empty())
        log::warning("secrets", "the keychain did not carry out every removal before quitting; the rest follow at the next start");
    std::set<std::string> gone;
    {
        std::lock_guard lock(carried_->mutex);
        gone.swap(carried_->gone);
    }
    const auto before = pending_.size();
    std::erase_if(pending_, [&gone](const std::string& id) { return gone.count(id) != 0; });
    if (pending_.size() != before) saveJournal();
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
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> result = answer->get_future();
    queue_.run([answer, service, key, data](SecretStore& store) { answer->set_value(store.write(service, key, data)); });
    if (result.wait_for(std::chrono::milliseconds(waitMs_)) == std::future_status::ready) {
        try {
            if (result.get()) return true;
        } catch (const std::future_error&) {
        }
        log::warning("secrets", "a write to the keychain failed");
        return false;
    }
    log::warning("secrets", "the keychain has not taken a write in " + std::to_string(waitMs_ / 1000) + " s");
    return false;
}

bool QueuedSecretStore::remove(const std::string& service, const std::string& key) {
    queue_.remove(service, key);
    return true;
}

}  // namespace hw
