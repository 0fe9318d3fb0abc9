#include "view/user_defaults_controller.h"

#include <vector>

namespace hw {

std::optional<SettingValue> UserDefaultsController::value(const std::string& key) const {
    if (const auto it = pending_.find(key); it != pending_.end()) return it->second;
    return store_.object(key);
}

bool UserDefaultsController::boolValue(const std::string& key) const {
    const auto v = value(key);
    if (!v) return false;
    if (const auto* b = std::get_if<bool>(&v->value)) return *b;
    if (const auto* i = std::get_if<std::int64_t>(&v->value)) return *i != 0;
    return false;
}

std::int64_t UserDefaultsController::integerValue(const std::string& key) const {
    const auto v = value(key);
    if (!v) return 0;
    if (const auto* i = std::get_if<std::int64_t>(&v->value)) return *i;
    if (const auto* b = std::get_if<bool>(&v->value)) return *b ? 1 : 0;
    return 0;
}

void UserDefaultsController::setValue(const std::string& key, SettingValue value) {
    if (appliesImmediately_) {
        pending_.erase(key);
        store_.set(key, std::move(value));
        store_.synchronize();
    } else {
        pending_[key] = std::move(value);
    }
    notify(key);
}

void UserDefaultsController::save() {
    if (pending_.empty()) return;
    for (auto& [key, value] : pending_) store_.set(key, std::move(value));
    pending_.clear();
    store_.synchronize();
}

void UserDefaultsController::revert() {
    std::vector<std::string> keys;
    for (const auto& [key, value] : pending_) keys.push_back(key);
    pending_.clear();
    for (const auto& key : keys) notify(key);
}

int UserDefaultsController::observe(Observer observer) {
    const int token = nextToken_++;
    observers_[token] = std::move(observer);
    return token;
}

void UserDefaultsController::notify(const std::string& key) {
    // A copy: an observer may stop observing while it runs.
    const auto observers = observers_;
    for (const auto& [token, observer] : observers)
        if (observers_.count(token)) observer(key);
}

}  // namespace hw
