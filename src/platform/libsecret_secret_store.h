#pragma once
#include <mutex>

#include "platform/secret_store.h"

namespace hw {

// Secrets in the Secret Service (GNOME Keyring, KWallet ...) through
// libsecret, under the schema "com.havenway.Secret" with the attributes
// "service" and "key". Items are stored as bytes; text items carry the
// content type text/plain so keyring browsers show them.
class LibsecretSecretStore final : public SecretStore {
public:
    SecretRead read(const std::string& service, const std::string& key) override;
    bool write(const std::string& service, const std::string& key, const Bytes& data) override;
    bool remove(const std::string& service, const std::string& key) override;

    // True when a Secret Service answers on the session bus (it may be
    // started by D-Bus activation). The reason goes to *error otherwise.
    static bool serviceAvailable(std::string* error = nullptr);
    // True when the service has a default collection to store in (a fresh
    // keyring has none); the reason otherwise.
    static bool hasDefaultCollection(std::string* error = nullptr);

private:
    std::mutex mutex_;
};

}  // namespace hw
