#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace hw {

using Bytes = std::vector<std::uint8_t>;

// A point in time as seconds since 1970-01-01 UTC.
struct Date {
    double secondsSince1970 = 0;
    bool operator==(const Date&) const = default;
};

struct SettingValue;
using SettingDict = std::map<std::string, SettingValue>;
using StringList = std::vector<std::string>;

// One stored value; the kinds stay apart on disk and on read.
struct SettingValue {
    std::variant<bool, std::int64_t, double, std::string, Bytes, Date, StringList, SettingDict> value;

    SettingValue() : value(false) {}
    SettingValue(bool b) : value(b) {}
    SettingValue(int i) : value(static_cast<std::int64_t>(i)) {}
    SettingValue(std::int64_t i) : value(i) {}
    SettingValue(double d) : value(d) {}
    SettingValue(const char* s) : value(std::string(s)) {}
    SettingValue(std::string s) : value(std::move(s)) {}
    SettingValue(Bytes b) : value(std::move(b)) {}
    SettingValue(Date d) : value(d) {}
    SettingValue(StringList l) : value(std::move(l)) {}
    SettingValue(SettingDict d) : value(std::move(d)) {}

    bool operator==(const SettingValue& other) const { return value == other.value; }
};

// The user-defaults store. Reads of the wrong kind answer as if absent
// (bool false, integer 0); writes change memory and synchronize() writes the
// file. Safe to use from any thread.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual void registerDefaults(const SettingDict& defaults) = 0;
    // The stored value, else the registered default, else nothing.
    virtual std::optional<SettingValue> object(const std::string& key) const = 0;
    virtual void set(const std::string& key, SettingValue value) = 0;
    virtual void remove(const std::string& key) = 0;
    virtual bool synchronize() = 0;
    // Every stored value over the registered defaults.
    virtual SettingDict snapshot() const = 0;

    bool boolForKey(const std::string& key) const;
    std::int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<Bytes> dataForKey(const std::string& key) const;
    std::optional<Date> dateForKey(const std::string& key) const;
    std::optional<StringList> stringListForKey(const std::string& key) const;
    std::optional<SettingDict> dictionaryForKey(const std::string& key) const;
};

}  // namespace hw
