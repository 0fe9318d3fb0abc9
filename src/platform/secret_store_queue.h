#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/main_queue.h"
#include "platform/secret_store.h"

namespace hw {

// Store calls that must not hold up the main thread: a keyring may be waiting
// on its unlock prompt, or on a service that never answers. They run one at a
// time in the order asked, and each answer comes back through the main queue,
// in that order.
class SecretStoreQueue {
public:
    // On a thread of its own, which is not waited for at exit when a call is
    // stuck in the keyring.
    SecretStoreQueue(std::shared_ptr<SecretStore> store, MainQueue& main);
    // On the worker given, which must run its tasks one at a time.
    SecretStoreQueue(std::shared_ptr<SecretStore> store, MainQueue& main, BackgroundQueue& worker);
    ~SecretStoreQueue();
    SecretStoreQueue(const SecretStoreQueue&) = delete;
    SecretStoreQueue& operator=(const SecretStoreQueue&) = delete;

    void read(const std::string& service, const std::string& key, std::function<void(SecretRead)> done);
    void write(const std::string& service, const std::string& key, Bytes data, std::function<void(bool)> done = nullptr);
    void remove(const std::string& service, const std::string& key, std::function<void(bool)> done = nullptr);
    // Work on the store; its answer, if any, is the job's to post.
    void run(std::function<void(SecretStore&)> job);

    MainQueue& mainQueue() const { return main_; }
    // Posts a job's answer on the main queue; once this queue is gone, drops it.
    std::function<void(Task)> answerer() const;

    class Thread;

private:
    std::shared_ptr<SecretStore> store_;
    MainQueue& main_;
    std::shared_ptr<Thread> thread_;
    BackgroundQueue* worker_;
};

// The queue as a store, for callers that keep the synchronous port: writes and
// removals join the queue and answer true at once (a failure is logged where
// it happens, on the queue); a read waits its turn for at most waitMs, then
// answers Error with a line in the log, so a keyring that never answers costs
// the caller a bounded wait.
class QueuedSecretStore final : public SecretStore {
public:
    QueuedSecretStore(SecretStoreQueue& queue, int waitMs) : queue_(queue), waitMs_(waitMs) {}
    SecretRead read(const std::string& service, const std::string& key) override;
    bool write(const std::string& service, const std::string& key, const Bytes& data) override;
    bool remove(const std::string& service, const std::string& key) override;

private:
    SecretStoreQueue& queue_;
    const int waitMs_;
};

// A store the caller owns, for a queue that must not delete it.
inline std::shared_ptr<SecretStore> unownedSecretStore(SecretStore& store) {
    return std::shared_ptr<SecretStore>(std::shared_ptr<SecretStore>(), &store);
}

}  // namespace hw
