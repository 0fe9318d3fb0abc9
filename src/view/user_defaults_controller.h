#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/settings_store.h"

namespace hw {

// Settings as the windows' controls see them. While appliesImmediately is
// off, an edit waits here until save() writes it or revert() drops it; the
// settings window relies on that for Apply and Cancel.
class UserDefaultsController {
public:
    explicit UserDefaultsController(SettingsStore& store) : store_(store) {}

    // The edit waiting for this key, else the store's value.
    std::optional<SettingValue> value(const std::string& key) const;
    bool boolValue(const std::string& key) const;
    std::int64_t integerValue(const std::string& key) const;

    void setValue(const std::string& key, SettingValue value);

    void setAppliesImmediately(bool applies) { appliesImmediately_ = applies; }
    bool appliesImmediately() const { return appliesImmediately_; }
    bool hasUnappliedChanges() const { return !pending_.empty(); }

    // Writes every waiting edit and the file.
    void save();
    // Drops every waiting edit; bound controls show the stored values again.
    void revert();

    // Bound controls hear of every change of a key's value; the number ends it.
    using Observer = std::function<void(const std::string& key)>;
    int observe(Observer observer);
    void stopObserving(int token) { observers_.erase(token); }

private:
    void notify(const std::string& key);

    SettingsStore& store_;
    bool appliesImmediately_ = true;
    std::map<std::string, SettingValue> pending_;
    std::map<int, Observer> observers_;
    int nextToken_ = 1;
};

}  // namespace hw
