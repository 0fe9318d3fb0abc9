#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"

namespace hw {

// What a settings file holds. Entries that cannot be read (an unknown kind, a
// value that does not fit its kind) are left out and named in rejectedKeys.
struct SettingsFileContents {
    SettingDict values;
    std::vector<std::string> rejectedKeys;
};

// Reads the text of a settings file; nothing when it is not one at all.
std::optional<SettingsFileContents> parseSettingsFile(std::string_view text, std::string* error = nullptr);
// Writes values in the form parseSettingsFile reads: each value tagged with its
// kind, data as base64, dates as seconds since 1970.
std::string renderSettingsFile(const SettingDict& values);

// The settings store on a JSON file (by default $XDG_CONFIG_HOME/havenway/settings.json).
// The file is read once, at construction. A file that cannot be read is moved
// aside (an earlier backup is never replaced) and the store starts from the
// defaults; if it cannot even be moved, the store never writes over it.
class JsonSettingsStore final : public SettingsStore {
public:
    explicit JsonSettingsStore(std::string path);
    JsonSettingsStore();  // at paths::settingsFile()

    void registerDefaults(const SettingDict& defaults) override;
    std::optional<SettingValue> object(const std::string& key) const override;
    void set(const std::string& key, SettingValue value) override;
    void remove(const std::string& key) override;
    // Writes the file when something changed since the last write (temp,
    // fsync, rename; 0600 in a 0700 folder).
    bool synchronize() override;
    SettingDict snapshot() const override;

    const std::string& path() const { return path_; }
    // Where a file that could not be read at load time was moved.
    std::optional<std::string> backupPath() const;

private:
    void load();
    bool writeValues(const SettingDict& values);

    const std::string path_;
    mutable std::mutex mutex_;
    std::mutex writeMutex_;  // keeps writes in the order their contents were taken
    SettingDict defaults_;
    SettingDict values_;
    std::uint64_t generation_ = 0;
    std::uint64_t writtenGeneration_ = 0;
    bool writable_ = true;
    std::optional<std::string> backup_;
};

}  // namespace hw
