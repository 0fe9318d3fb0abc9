#pragma once
#include <string>
#include <utility>

#include "platform/settings_store.h"

namespace hw {

enum class SecretStatus { Found, Absent, Error };

struct SecretRead {
    SecretRead() = default;
    SecretRead(SecretStatus status, Bytes data, std::string why = {})
        : status(status), data(std::move(data)), why(std::move(why)) {}
    SecretStatus status = SecretStatus::Absent;
    Bytes data;
    // With an Error: what the store answered, for the log and the window.
    std::string why;
    std::string text() const { return std::string(data.begin(), data.end()); }
};

// The keychain: items by key within a service. Safe to use from any thread.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual SecretRead read(const std::string& service, const std::string& key) = 0;
    virtual bool write(const std::string& service, const std::string& key, const Bytes& data) = 0;
    virtual bool remove(const std::string& service, const std::string& key) = 0;
    // The words of the last write refused, where the store has any.
    virtual std::string lastFailure() const { return {}; }

    bool writeString(const std::string& service, const std::string& key, const std::string& text) {
        return write(service, key, Bytes(text.begin(), text.end()));
    }
};

}  // namespace hw
