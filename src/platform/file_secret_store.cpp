#include "platform/file_secret_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <nlohmann/json.hpp>

#include "platform/base64.h"
#include "platform/log.h"
#include "platform/paths.h"

namespace hw {
namespace {

using nlohmann::json;

constexpr std::string_view kCategory = "secrets";
constexpr std::size_t kMaxFileBytes = 8u << 20;

std::optional<std::map<std::pair<std::string, std::string>, Bytes>> parse(const std::string& text) {
    const json doc = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!doc.is_object()) return std::nullopt;
    const auto items = doc.find("items");
    if (items == doc.end() || !items->is_object()) return std::nullopt;
    std::map<std::pair<std::string, std::string>, Bytes> out;
    for (const auto& [service, keys] : items->items()) {
        if (!keys.is_object()) return std::nullopt;
        for (const auto& [key, encoded] : keys.items()) {
            if (!encoded.is_string()) return std::nullopt;
            auto bytes = b64::decode(encoded.get_ref<const std::string&>());
            if (!bytes) return std::nullopt;
            out[{service, key}] = std::move(*bytes);
        }
    }
    return out;
}


// Names become JSON keys, which must be UTF-8 to come back unchanged.
bool validName(const std::string& name) {
    try {
        (void)json(name).dump();
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

// Serialises read-modify-write across processes (and across stores on one
// file) by locking the folder; flock() is released with the descriptor.
class FolderLock {
public:
    explicit FolderLock(const std::string& dir) : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

}  // namespace

FileSecretStore::FileSecretStore(std::string path) : path_(std::move(path)) {}

FileSecretStore::FileSecretStore() : FileSecretStore(paths::secretsFile()) {}

bool FileSecretStore::load(Items& items) {
    items.clear();
    std::string text, error;
    const auto status = paths::readFile(path_, text, kMaxFileBytes, &error);
    if (status == paths::ReadStatus::Missing) return true;
    if (status == paths::ReadStatus::Failed) {
        log::error(kCategory, "cannot read the secrets file: " + error);
        return false;
    }
    if (status == paths::ReadStatus::Ok) {
        if (auto parsed = parse(text)) {
            struct stat st {};
            if (::stat(path_.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
                log::warning(kCategory, "the secrets file was readable by others; narrowing it to 0600");
                ::chmod(path_.c_str(), 0600);
            }
            items = std::move(*parsed);
            return true;
        }
    }
    auto moved = paths::moveAside(path_, paths::corruptTag(), &error);
    if (!moved) {
        log::error(kCategory, "the secrets file is damaged and cannot be moved aside: " + error);
        return false;
    }
    log::warning(kCategory, "the secrets file was damaged; moved it to " + *moved);
    return true;
}

bool FileSecretStore::save(const Items& items) {
    json doc = {{"version", 1}, {"items", json::object()}};
    json& out = doc["items"];
    for (const auto& [id, data] : items) out[id.first][id.second] = b64::encode(data);
    std::string error;
    if (!paths::ensurePrivateDir(paths::parentOf(path_), &error) ||
        !paths::writeFileAtomically(path_, doc.dump(1, '\t', false, json::error_handler_t::replace) + "\n", 0600,
                                    &error)) {
        log::error(kCategory, "cannot save the secrets file: " + error);
        return false;
    }
    return true;
}

SecretRead FileSecretStore::read(const std::string& service, const std::string& key) {
    std::lock_guard lock(mutex_);
    FolderLock folder(paths::parentOf(path_));  // a read may move a damaged file aside
    Items items;
    if (!load(items)) return {SecretStatus::Error, {}};
    const auto it = items.find({service, key});
    if (it == items.end()) return {SecretStatus::Absent, {}};
    return {SecretStatus::Found, it->second};
}

std::optional<FileSecretStore::Items> FileSecretStore::readAll() {
    std::lock_guard lock(mutex_);
    FolderLock folder(paths::parentOf(path_));
    Items items;
    if (!load(items)) return std::nullopt;
    return items;
}

bool FileSecretStore::write(const std::string& service, const std::string& key, const Bytes& data) {
    if (!validName(service) || !validName(key)) {
        log::error(kCategory, "a secret's service and key must be UTF-8 text");
        return false;
    }
    std::lock_guard lock(mutex_);
    std::string error;
    if (!paths::ensurePrivateDir(paths::parentOf(path_), &error)) {
        log::error(kCategory, "cannot save the secrets file: " + error);
        return false;
    }
    FolderLock folder(paths::parentOf(path_));
    Items items;
    if (!load(items)) return false;
    items[{service, key}] = data;
    return save(items);
}

bool FileSecretStore::remove(const std::string& service, const std::string& key) {
    return removeIf(service, key, std::nullopt);
}

bool FileSecretStore::removeIf(const std::string& service, const std::string& key, const std::optional<Bytes>& holding) {
    std::lock_guard lock(mutex_);
    FolderLock folder(paths::parentOf(path_));
    Items items;
    if (!load(items)) return false;
    const auto it = items.find({service, key});
    if (it == items.end() || (holding && it->second != *holding)) return false;
    items.erase(it);
    return save(items);
}

}  // namespace hw
