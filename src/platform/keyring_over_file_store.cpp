#include "platform/keyring_over_file_store.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

#include "platform/log.h"

namespace hw {
namespace {

constexpr std::string_view kCategory = "secrets";

}  // namespace

// Lives as long as the last of the store and its thread: a call stuck in the
// keyring may return long after the store is gone.
struct BoundedKeyring::Lane {
    struct Job {
        std::function<void(SecretStore&)> run;
        std::shared_ptr<bool> dropped;  // its caller stopped waiting before it began
    };
    std::mutex mutex;
    std::condition_variable wake, answered;
    std::deque<Job> jobs;
    // A call outlasted its bound and the lane has not yet been idle since.
    bool stuck = false;
    bool stopping = false;
    std::unique_ptr<SecretStore> keyring;
    std::function<void(SecretStore&)> caughtUp;

    void loop() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (stopping) return;
            Job job = std::move(jobs.front());
            jobs.pop_front();
            if (*job.dropped) continue;
            lock.unlock();
            job.run(*keyring);
            job = {};
            lock.lock();
            // Idle after a call that outlasted its bound: what waited for it goes now.
            while (stuck && jobs.empty() && !stopping) {
                stuck = false;
                lock.unlock();
                if (caughtUp) caughtUp(*keyring);
                lock.lock();
                // Calls that came meanwhile and gave up left only dropped jobs.
                std::erase_if(jobs, [](const Job& j) { return *j.dropped; });
            }
        }
    }

    template <class R>
    std::optional<R> ask(int boundMs, std::function<R(SecretStore&)> call) {
        auto answer = std::make_shared<std::optional<R>>();
        auto dropped = std::make_shared<bool>(false);
        std::unique_lock lock(mutex);
        if (stuck || stopping) return std::nullopt;
        jobs.push_back({[this, answer, call = std::move(call)](SecretStore& keyring) {
                            R result = call(keyring);
                            std::lock_guard done(mutex);
                            *answer = std::move(result);
                            answered.notify_all();
                        },
                        dropped});
        wake.notify_one();
        if (answered.wait_for(lock, std::chrono::milliseconds(boundMs), [&answer] { return answer->has_value(); }))
            return std::move(*answer);
        *dropped = true;
        stuck = true;
        return std::nullopt;
    }
};

BoundedKeyring::BoundedKeyring(std::unique_ptr<SecretStore> keyring, int boundMs,
                               std::function<void(SecretStore&)> caughtUp)
    : lane_(std::make_shared<Lane>()), boundMs_(boundMs) {
    lane_->keyring = std::move(keyring);
    lane_->caughtUp = std::move(caughtUp);
    std::thread([lane = lane_] { lane->loop(); }).detach();
}

BoundedKeyring::~BoundedKeyring() {
    std::lock_guard lock(lane_->mutex);
    lane_->stopping = true;
    lane_->jobs.clear();
    lane_->wake.notify_one();
}

std::optional<SecretRead> BoundedKeyring::read(const std::string& service, const std::string& key) {
    return lane_->ask<SecretRead>(boundMs_, [service, key](SecretStore& k) { return k.read(service, key); });
}

std::optional<BoundedKeyring::Answer> BoundedKeyring::write(const std::string& service, const std::string& key,
                                                            const Bytes& data) {
    return lane_->ask<Answer>(boundMs_, [service, key, data](SecretStore& k) {
        const bool ok = k.write(service, key, data);
        return Answer{ok, ok ? std::string() : k.lastFailure()};
    });
}

std::optional<bool> BoundedKeyring::remove(const std::string& service, const std::string& key) {
    return lane_->ask<bool>(boundMs_, [service, key](SecretStore& k) { return k.remove(service, key); });
}

// What the keyring's thread needs once it answers again, shared with it.
struct KeyringOverFileStore::Shared {
    std::mutex mutex;
    std::unique_ptr<FileSecretStore> file;
    // Items the keyring refused or left unanswered, whose file copy is the newer.
    std::set<Id> inFileOnly;
    // Items removed while the keyring did not answer: removed there once it does.
    std::set<Id> removeFromKeyring;
    std::atomic<bool> noAnswerLogged = false;

    bool has(const std::set<Id>& in, const Id& id) {
        std::lock_guard lock(mutex);
        return in.count(id) != 0;
    }
    void mark(std::set<Id>& in, const Id& id, bool on) {
        std::lock_guard lock(mutex);
        if (on) in.insert(id);
        else in.erase(id);
    }

    // On the keyring's thread, each call unbounded: removals first, then the
    // file's items, each erased from the file only while it holds what moved.
    void catchUp(SecretStore& keyring) {
        std::set<Id> moves;
        {
            std::lock_guard lock(mutex);
            moves = inFileOnly;
        }
        log::info(kCategory, "the Secret Service answers again; carrying out what waited for it");
        noAnswerLogged = false;
        std::size_t moved = 0;
        for (;;) {
            std::optional<Id> removal;
            {
                std::lock_guard lock(mutex);
                if (!removeFromKeyring.empty()) removal = removeFromKeyring.extract(removeFromKeyring.begin()).value();
            }
            if (removal) {
                keyring.remove(removal->first, removal->second);
                continue;
            }
            if (moves.empty()) break;
            const Id id = moves.extract(moves.begin()).value();
            if (!has(inFileOnly, id)) continue;
            const SecretRead copy = file->read(id.first, id.second);
            if (copy.status != SecretStatus::Found || !keyring.write(id.first, id.second, copy.data)) continue;
            // A removal or a newer write meanwhile leaves the file as it is (and the removal follows).
            std::lock_guard lock(mutex);
            if (inFileOnly.count(id) && file->removeIf(id.first, id.second, copy.data)) {
                inFileOnly.erase(id);
                ++moved;
            }
        }
        if (moved) log::info(kCategory, "moved " + std::to_string(moved) + " secrets from " + file->path() + " into the Secret Service");
    }
};

KeyringOverFileStore::KeyringOverFileStore(std::unique_ptr<SecretStore> keyring, std::unique_ptr<FileSecretStore> file,
                                           int boundMs)
    : shared_(std::make_shared<Shared>()) {
    shared_->file = std::move(file);
    keyring_ = std::make_unique<BoundedKeyring>(std::move(keyring), boundMs,
                                                [shared = shared_](SecretStore& k) { shared->catchUp(k); });
    const auto items = shared_->file->readAll();
    if (!items || items->empty()) return;
    std::size_t moved = 0;
    for (const auto& [id, data] : *items) {
        // The file is only written while no keyring answers: its copy is the newer one.
        shared_->mark(shared_->inFileOnly, id, true);
        const auto answer = keyring_->write(id.first, id.second, data);
        if (answer && answer->ok && shared_->file->removeIf(id.first, id.second, data)) {
            shared_->mark(shared_->inFileOnly, id, false);
            ++moved;
        }
    }
    if (moved == items->size()) {
        log::info(kCategory, "moved " + std::to_string(moved) + " secrets from " + shared_->file->path() +
                                 " into the Secret Service");
    } else {
        log::warning(kCategory, "moved " + std::to_string(moved) + " of " + std::to_string(items->size()) +
                                    " secrets from " + shared_->file->path() + " into the Secret Service; the rest stay there");
    }
}

KeyringOverFileStore::~KeyringOverFileStore() = default;

void KeyringOverFileStore::noAnswer(const char* call) {
    if (shared_->noAnswerLogged.exchange(true)) return;
    log::warning(kCategory, std::string("the Secret Service has not answered ") + call + " in " +
                                std::to_string(keyring_->boundMs()) + " ms; keeping secrets in " +
                                shared_->file->path() + " until it does");
}

SecretRead KeyringOverFileStore::read(const std::string& service, const std::string& key) {
    const Id id{service, key};
    FileSecretStore& file = *shared_->file;
    if (shared_->has(shared_->removeFromKeyring, id)) {
        // Not Absent: whoever keeps the removal must keep it until the keyring carried it out.
        return {SecretStatus::Error, {}, "its removal waits for the Secret Service to answer"};
    }
    if (shared_->has(shared_->inFileOnly, id)) {
        // The keyring refused it or did not answer: whatever it still holds is older.
        SecretRead copy = file.read(service, key);
        if (copy.status == SecretStatus::Found) return copy;
    }
    const auto read = keyring_->read(service, key);
    if (read && read->status == SecretStatus::Found) return *read;
    if (!read) noAnswer("a read");
    // Only an item that could not move is still in the file; a keyring that
    // cannot answer (locked, its prompt dismissed, silent) leaves the file's copy usable.
    SecretRead copy = file.read(service, key);
    if (copy.status == SecretStatus::Found || (read && read->status == SecretStatus::Absent)) return copy;
    if (read) return *read;
    return {SecretStatus::Error, {},
            "the Secret Service did not answer in " + std::to_string(keyring_->boundMs()) + " ms"};
}

bool KeyringOverFileStore::write(const std::string& service, const std::string& key, const Bytes& data) {
    const Id id{service, key};
    FileSecretStore& file = *shared_->file;
    // A new item replaces whatever a removal still had to clear.
    shared_->mark(shared_->removeFromKeyring, id, false);
    const auto answer = keyring_->write(service, key, data);
    if (answer && answer->ok) {
        shared_->mark(shared_->inFileOnly, id, false);
        file.remove(service, key);
        return true;
    }
    // Marked first: a keyring answering meanwhile finds it to move.
    shared_->mark(shared_->inFileOnly, id, true);
    if (!file.write(service, key, data)) {
        log::warning(kCategory, "the Secret Service did not store an item, and " + file.path() +
                                    " could not be written either");
        return false;
    }
    if (!answer) {
        noAnswer("a write");
    } else if (!refusalLogged_.exchange(true)) {
        log::warning(kCategory, "the Secret Service refused to store an item" +
                                    (answer->why.empty() ? std::string() : " (" + answer->why + ")") +
                                    "; keeping it in " + file.path() + ", protected only by its file mode");
    }
    return true;
}

bool KeyringOverFileStore::remove(const std::string& service, const std::string& key) {
    const Id id{service, key};
    {
        std::lock_guard lock(shared_->mutex);
        shared_->inFileOnly.erase(id);
        // Before the keyring is asked: once it answers again, it is carried out whatever this call saw.
        shared_->removeFromKeyring.insert(id);
    }
    const bool fromFile = shared_->file->remove(service, key);
    const auto fromKeyring = keyring_->remove(service, key);
    if (!fromKeyring) {
        noAnswer("a removal");
        return false;
    }
    shared_->mark(shared_->removeFromKeyring, id, false);
    return *fromKeyring || fromFile;
}

}  // namespace hw
