#include "platform/settings_store.h"

namespace hw {
namespace {
template <typename T>
std::optional<T> as(const std::optional<SettingValue>& v) {
    if (v) {
        if (const T* p = std::get_if<T>(&v->value)) return *p;
    }
    return std::nullopt;
}
}  // namespace

bool SettingsStore::boolForKey(const std::string& key) const { return as<bool>(object(key)).value_or(false); }
std::int64_t SettingsStore::integerForKey(const std::string& key) const {
    return as<std::int64_t>(object(key)).value_or(0);
}
double SettingsStore::doubleForKey(const std::string& key) const { return as<double>(object(key)).value_or(0.0); }
std::optional<std::string> SettingsStore::stringForKey(const std::string& key) const {
    return as<std::string>(object(key));
}
std::optional<Bytes> SettingsStore::dataForKey(const std::string& key) const { return as<Bytes>(object(key)); }
std::optional<Date> SettingsStore::dateForKey(const std::string& key) const { return as<Date>(object(key)); }
std::optional<StringList> SettingsStore::stringListForKey(const std::string& key) const {
    return as<StringList>(object(key));
}
std::optional<SettingDict> SettingsStore::dictionaryForKey(const std::string& key) const {
    return as<SettingDict>(object(key));
}

}  // namespace hw
