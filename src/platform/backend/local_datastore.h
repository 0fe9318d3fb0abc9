#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/settings_store.h"

struct sqlite3;

namespace hw {

// The backend client's local store on SQLite: pinned objects (as their JSON text),
// the cached remote configuration and downloaded file data. The file is private
// (0600 in a 0700 folder). Safe to use from any thread.
class LocalDatastore {
public:
    struct StoredObject {
        std::string className;
        std::string objectId;
        std::string json;
    };

    // Opens or creates the store; nothing when it cannot be opened (the reason is logged).
    static std::unique_ptr<LocalDatastore> open(const std::string& path);
    ~LocalDatastore();
    LocalDatastore(const LocalDatastore&) = delete;
    LocalDatastore& operator=(const LocalDatastore&) = delete;

    // Replaces the objects under the pin name with these, in one transaction.
    bool replacePin(const std::string& pin, const std::vector<StoredObject>& objects);
    bool addToPin(const std::string& pin, const std::vector<StoredObject>& objects);
    bool unpin(const std::string& pin);
    // Pinned objects of a class (under one pin name, or any when empty), oldest pin first.
    std::vector<StoredObject> pinned(const std::string& className, const std::string& pin) const;

    bool putValue(const std::string& key, const std::string& value);
    std::optional<std::string> value(const std::string& key) const;

    bool putFile(const std::string& url, const Bytes& data);
    std::optional<Bytes> file(const std::string& url) const;
    bool hasFile(const std::string& url) const;

    // SQLite's virtual-machine steps of the last pin change: what it cost, in
    // rows looked at rather than time.
    std::int64_t lastWriteSteps() const {
        std::lock_guard lock(mutex_);
        return lastWriteSteps_;
    }

private:
    explicit LocalDatastore(sqlite3* db) : db_(db) {}
    bool exec(const char* sql) const;
    bool store(const std::string& pin, const std::vector<StoredObject>& objects, bool replace);
    mutable std::mutex mutex_;
    sqlite3* db_;
    std::int64_t lastWriteSteps_ = 0;
};

}  // namespace hw
