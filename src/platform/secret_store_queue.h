#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/main_queue.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"

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
    // Unless finish() ran, it runs here with kRemovalBoundMs: a removal the
    // queue took is carried out or stays in its journal, whoever owns the queue.
    ~SecretStoreQueue();
    SecretStoreQueue(const SecretStoreQueue&) = delete;
    SecretStoreQueue& operator=(const SecretStoreQueue&) = delete;

    // An item whose removal is pending reads as absent.
    void read(const std::string& service, const std::string& key, std::function<void(SecretRead)> done);
    // A kept write is carried out at quit as removals are (a journal of the caller's).
    void write(const std::string& service, const std::string& key, Bytes data, std::function<void(bool)> done = nullptr,
               bool keptAtQuit = false);
    // True once the item is gone (also when there was none).
    void remove(const std::string& service, const std::string& key, std::function<void(bool)> done = nullptr);
    // Work on the store; its answer, if any, is the job's to post.
    void run(std::function<void(SecretStore&)> job);

    // Removals are kept in the settings (written at once) from when they are
    // asked until the store has carried them out or a later write replaced
    // the item: a keyring that is slow, locked or gone at quit never leaves a
    // signed-out account behind to be read at the next start. Removals left
    // from an earlier run are queued now, ahead of anything else. Main thread.
    // Each queue journals under a key of its own (the settings outlive it).
    void keepRemovalsIn(SettingsStore& settings, std::string key = kPendingRemovalsKey);
    bool removalPending(const std::string& service, const std::string& key) const;
    // At quit: calls not yet begun are dropped, except removals and kept
    // writes, which are given until the bound to be carried out; removals
    // done leave the settings.
    void finish(int boundMs);
    static constexpr const char* kPendingRemovalsKey = "keychainRemovalsPending";
    static constexpr const char* kFilePendingRemovalsKey = "fileSecretRemovalsPending";
    static constexpr int kRemovalBoundMs = 3000;

    MainQueue& mainQueue() const { return main_; }
    // Posts a job's answer on the main queue; once this queue is gone, drops it.
    std::function<void(Task)> answerer() const;

    class Thread;

private:
    struct Carried;
    static std::string itemId(const std::string& service, const std::string& key);
    void queueRemoval(const std::string& id, std::function<void(bool)> done);
    // An answer about the item from the last call asked of it settles the journal.
    void settle(const std::string& id, std::uint64_t asked, bool gone);
    void saveJournal();

    std::shared_ptr<SecretStore> store_;
    MainQueue& main_;
    std::shared_ptr<Thread> thread_;
    BackgroundQueue* worker_;
    SettingsStore* journal_ = nullptr;
    std::string journalKey_ = kPendingRemovalsKey;
    bool finished_ = false;
    StringList pending_;
    std::map<std::string, std::uint64_t> lastAsked_;
    std::uint64_t asked_ = 0;
    std::shared_ptr<Carried> carried_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The queue as a store, for callers that keep the synchronous port: a read or
// write waits its turn for at most waitMs (a read then answers Error, a write
// false, with a line in the log), so a keyring that never answers costs the
// caller a bounded wait; a removal joins the queue and answers true at once.
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
