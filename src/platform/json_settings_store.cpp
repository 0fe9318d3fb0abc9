#include "platform/json_settings_store.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/base64.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace hw {
namespace {

using nlohmann::json;

constexpr std::string_view kCategory = "settings";
constexpr int kFormatVersion = 1;
constexpr int kMaxDepth = 32;
// A settings file this large is not one we wrote.
constexpr std::size_t kMaxFileBytes = 16u << 20;

// JSON has no NaN or infinities; they travel as text.
json encodeReal(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    return d;
}

std::optional<double> decodeReal(const json& j) {
    if (j.is_number()) return j.get<double>();
    if (j.is_string()) {
        const auto& s = j.get_ref<const std::string&>();
        if (s == "NaN") return std::numeric_limits<double>::quiet_NaN();
        if (s == "Infinity") return std::numeric_limits<double>::infinity();
        if (s == "-Infinity") return -std::numeric_limits<double>::infinity();
    }
    return std::nullopt;
}

json encodeDict(const SettingDict& dict);

json encodeValue(const SettingValue& v) {
    struct Visitor {
        json operator()(bool b) const { return {{"type", "bool"}, {"value", b}}; }
        json operator()(std::int64_t i) const { return {{"type", "integer"}, {"value", i}}; }
        json operator()(double d) const { return {{"type", "double"}, {"value", encodeReal(d)}}; }
        json operator()(const std::string& s) const { return {{"type", "string"}, {"value", s}}; }
        json operator()(const Bytes& b) const { return {{"type", "data"}, {"value", b64::encode(b)}}; }
        json operator()(Date d) const { return {{"type", "date"}, {"value", encodeReal(d.secondsSince1970)}}; }
        json operator()(const StringList& l) const { return {{"type", "stringList"}, {"value", l}}; }
        json operator()(const SettingDict& d) const { return {{"type", "dictionary"}, {"value", encodeDict(d)}}; }
    };
    return std::visit(Visitor{}, v.value);
}

json encodeDict(const SettingDict& dict) {
    json out = json::object();
    for (const auto& [key, value] : dict) out[key] = encodeValue(value);
    return out;
}

std::optional<SettingDict> decodeDict(const json& j, int depth);

std::optional<SettingValue> decodeValue(const json& entry, int depth) {
    if (!entry.is_object()) return std::nullopt;
    const auto type = entry.find("type");
    const auto value = entry.find("value");
    if (type == entry.end() || value == entry.end() || !type->is_string()) return std::nullopt;
    const auto& kind = type->get_ref<const std::string&>();
    const json& v = *value;
    if (kind == "bool") {
        if (v.is_boolean()) return SettingValue(v.get<bool>());
    } else if (kind == "integer") {
        if (v.is_number_unsigned()) {
            const auto u = v.get<std::uint64_t>();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return SettingValue(static_cast<std::int64_t>(u));
            }
        } else if (v.is_number_integer()) {
            return SettingValue(v.get<std::int64_t>());
        }
    } else if (kind == "double") {
        if (auto d = decodeReal(v)) return SettingValue(*d);
    } else if (kind == "string") {
        if (v.is_string()) return SettingValue(v.get<std::string>());
    } else if (kind == "data") {
        if (v.is_string()) {
            if (auto bytes = b64::decode(v.get_ref<const std::string&>())) return SettingValue(std::move(*bytes));
        }
    } else if (kind == "date") {
        if (auto d = decodeReal(v)) return SettingValue(Date{*d});
    } else if (kind == "stringList") {
        if (!v.is_array()) return std::nullopt;
        StringList list;
        list.reserve(v.size());
        for (const auto& item : v) {
            if (!item.is_string()) return std::nullopt;
            list.push_back(item.get<std::string>());
        }
        return SettingValue(std::move(list));
    } else if (kind == "dictionary") {
        if (auto dict = decodeDict(v, depth + 1)) return SettingValue(std::move(*dict));
    }
    return std::nullopt;
}

// Nested dictionaries are all or nothing: a half-read dictionary would be a wrong value.
std::optional<SettingDict> decodeDict(const json& j, int depth) {
    if (!j.is_object() || depth > kMaxDepth) return std::nullopt;
    SettingDict dict;
    for (const auto& [key, entry] : j.items()) {
        auto value = decodeValue(entry, depth);
        if (!value) return std::nullopt;
        dict.emplace(key, std::move(*value));
    }
    return dict;
}


}  // namespace

std::optional<SettingsFileContents> parseSettingsFile(std::string_view text, std::string* error) {
    const json doc = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded()) {
        if (error) *error = "not valid JSON";
        return std::nullopt;
    }
    const auto values = doc.is_object() ? doc.find("values") : doc.end();
    if (!doc.is_object() || values == doc.end() || !values->is_object()) {
        if (error) *error = "no \"values\" object";
        return std::nullopt;
    }
    SettingsFileContents contents;
    for (const auto& [key, entry] : values->items()) {
        if (auto value = decodeValue(entry, 0)) {
            contents.values.emplace(key, std::move(*value));
        } else {
            contents.rejectedKeys.push_back(key);
        }
    }
    return contents;
}

std::string renderSettingsFile(const SettingDict& values) {
    const json doc = {{"version", kFormatVersion}, {"values", encodeDict(values)}};
    // Text that is not UTF-8 cannot be written as JSON; replacing the bad bytes
    // keeps the rest of the file instead of failing the whole write.
    return doc.dump(1, '\t', false, json::error_handler_t::replace) + "\n";
}

JsonSettingsStore::JsonSettingsStore(std::string path) : path_(std::move(path)) { load(); }

JsonSettingsStore::JsonSettingsStore() : JsonSettingsStore(paths::settingsFile()) {}

void JsonSettingsStore::load() {
    std::string text;
    std::string error;
    const auto status = paths::readFile(path_, text, kMaxFileBytes, &error);
    if (status == paths::ReadStatus::Missing) return;

    std::optional<SettingsFileContents> contents;
    if (status == paths::ReadStatus::Ok) contents = parseSettingsFile(text, &error);
    if (contents && contents->rejectedKeys.empty()) {
        values_ = std::move(contents->values);
        return;
    }

    if (contents) {
        std::string names;
        for (const auto& k : contents->rejectedKeys) names += (names.empty() ? "" : ", ") + k;
        log::warning(kCategory, "unreadable entries in " + path_ + " (" + names + "); keeping a copy of the file");
    } else {
        log::error(kCategory, "cannot read " + path_ + ": " + error + "; starting from the defaults");
    }
    std::string moveError;
    backup_ = paths::moveAside(path_, paths::corruptTag(), &moveError);
    if (!backup_) {
        // Writing now would destroy the only copy of whatever the file holds.
        writable_ = false;
        log::error(kCategory, moveError + "; settings will not be saved");
        return;
    }
    log::warning(kCategory, "moved the unreadable settings file to " + *backup_);
    if (contents) {
        // Keep what could be read on disk, so it survives even without a later synchronize.
        values_ = std::move(contents->values);
        generation_ = 1;
        writeValues(values_);
        writtenGeneration_ = 1;
    }
}

std::optional<std::string> JsonSettingsStore::backupPath() const {
    std::lock_guard lock(mutex_);
    return backup_;
}

void JsonSettingsStore::registerDefaults(const SettingDict& defaults) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : defaults) defaults_[key] = value;
}

std::optional<SettingValue> JsonSettingsStore::object(const std::string& key) const {
    std::lock_guard lock(mutex_);
    if (auto it = values_.find(key); it != values_.end()) return it->second;
    if (auto it = defaults_.find(key); it != defaults_.end()) return it->second;
    return std::nullopt;
}

void JsonSettingsStore::set(const std::string& key, SettingValue value) {
    std::lock_guard lock(mutex_);
    // The same value again changes nothing: the launch's writes of what the
    // file already holds cost no disk flush before the first window.
    if (const auto it = values_.find(key); it != values_.end() && it->second == value) return;
    values_[key] = std::move(value);
    ++generation_;
}

void JsonSettingsStore::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key) > 0) ++generation_;
}

SettingDict JsonSettingsStore::snapshot() const {
    std::lock_guard lock(mutex_);
    SettingDict all = values_;
    all.insert(defaults_.begin(), defaults_.end());  // keeps stored values over defaults
    return all;
}

bool JsonSettingsStore::synchronize() {
    std::lock_guard writeLock(writeMutex_);
    SettingDict values;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (generation_ == writtenGeneration_) return true;
        if (!writable_) return false;
        values = values_;
        generation = generation_;
    }
    if (!writeValues(values)) return false;
    std::lock_guard lock(mutex_);
    writtenGeneration_ = generation;
    return true;
}

bool JsonSettingsStore::writeValues(const SettingDict& values) {
    std::string error;
    if (!paths::ensurePrivateDir(paths::parentOf(path_), &error) ||
        !paths::writeFileAtomically(path_, renderSettingsFile(values), 0600, &error)) {
        log::error(kCategory, "cannot save settings: " + error);
        return false;
    }
    return true;
}

}  // namespace hw
