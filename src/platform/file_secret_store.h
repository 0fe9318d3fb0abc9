#pragma once
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/secret_store.h"

namespace hw {

// Secrets in a JSON file (by default $XDG_DATA_HOME/havenway/secrets.json),
// 0600 in a 0700 folder, replaced atomically on every change. Only for where
// no Secret Service runs: the file is protected by its mode alone.
//
// The file is read on every call, so several stores on one file agree. A file
// that is not a secrets file is moved aside (never over an earlier one); a
// file that cannot be read at all makes reads answer Error and writes fail,
// so it is never replaced.
class FileSecretStore final : public SecretStore {
public:
    explicit FileSecretStore(std::string path);
    FileSecretStore();  // at paths::secretsFile()

    SecretRead read(const std::string& service, const std::string& key) override;
    bool write(const std::string& service, const std::string& key, const Bytes& data) override;
    bool remove(const std::string& service, const std::string& key) override;

    // Only while the item still holds that value (any value without one).
    bool removeIf(const std::string& service, const std::string& key, const std::optional<Bytes>& holding);

    using Items = std::map<std::pair<std::string, std::string>, Bytes>;
    // Every item, by service and key; none when the file cannot be read.
    std::optional<Items> readAll();

    const std::string& path() const { return path_; }

private:
    bool load(Items& items);
    bool save(const Items& items);

    const std::string path_;
    std::mutex mutex_;
};

}  // namespace hw
