#pragma once
#include <map>
#include <mutex>
#include <utility>

#include "platform/secret_store.h"

namespace hw::test {

class FakeSecretStore final : public SecretStore {
public:
    SecretRead read(const std::string& service, const std::string& key) override {
        std::lock_guard lock(mutex_);
        ++reads;
        if (failReads) return {SecretStatus::Error, {}, "the keyring stayed locked"};
        auto it = items_.find({service, key});
        if (it == items_.end()) return {SecretStatus::Absent, {}};
        return {SecretStatus::Found, it->second};
    }
    bool write(const std::string& service, const std::string& key, const Bytes& data) override {
        std::lock_guard lock(mutex_);
        if (failWrites) return false;
        items_[{service, key}] = data;
        return true;
    }
    bool remove(const std::string& service, const std::string& key) override {
        std::lock_guard lock(mutex_);
        if (failRemoves) return false;
        return items_.erase({service, key}) > 0;
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }
    bool failReads = false;
    bool failWrites = false;
    bool failRemoves = false;
    int reads = 0;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, Bytes> items_;
};

}  // namespace hw::test
