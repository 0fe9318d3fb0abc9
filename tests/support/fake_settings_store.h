#pragma once
#include <mutex>

#include "platform/settings_store.h"

namespace hw::test {

// In memory; counts synchronize() calls so tests can check what persists.
class FakeSettingsStore final : public SettingsStore {
public:
    void registerDefaults(const SettingDict& defaults) override {
        std::lock_guard lock(mutex_);
        for (const auto& [k, v] : defaults) defaults_[k] = v;
    }
    std::optional<SettingValue> object(const std::string& key) const override {
        std::lock_guard lock(mutex_);
        if (auto it = values_.find(key); it != values_.end()) return it->second;
        if (auto it = defaults_.find(key); it != defaults_.end()) return it->second;
        return std::nullopt;
    }
    void set(const std::string& key, SettingValue value) override {
        std::lock_guard lock(mutex_);
        values_[key] = std::move(value);
    }
    void remove(const std::string& key) override {
        std::lock_guard lock(mutex_);
        values_.erase(key);
    }
    bool synchronize() override {
        std::lock_guard lock(mutex_);
        ++syncCount;
        return true;
    }
    SettingDict snapshot() const override {
        std::lock_guard lock(mutex_);
        SettingDict all = defaults_;
        for (const auto& [k, v] : values_) all[k] = v;
        return all;
    }
    // Stored values only, without the defaults.
    SettingDict stored() const {
        std::lock_guard lock(mutex_);
        return values_;
    }
    int syncCount = 0;

private:
    mutable std::mutex mutex_;
    SettingDict defaults_;
    SettingDict values_;
};

}  // namespace hw::test
