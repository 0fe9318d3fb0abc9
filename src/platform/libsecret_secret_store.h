#pragma once
#include <mutex>

#include "platform/secret_store.h"

namespace hw {

// Secrets in the Secret Service (GNOME Keyring, KWallet ...) through
// libsecret, in the default collection under the schema "com.havenway.Secret"
// with the attributes "service" and "key", labelled "Havenway: <service>
// (<key>)". Items are stored as bytes; text items carry the content type
// text/plain so keyring browsers show them. libsecret (and GIO under it) is
// opened at the first call: only a session whose keyring answered loads it.
class LibsecretSecretStore final : public SecretStore {
public:
    SecretRead read(const std::string& service, const std::string& key) override;
    bool write(const std::string& service, const std::string& key, const Bytes& data) override;
    bool remove(const std::string& service, const std::string& key) override;
    std::string lastFailure() const override;

    // Whether libsecret could be opened; the reason otherwise.
    static bool available(std::string* why = nullptr);

private:
    mutable std::mutex mutex_;
    std::string failure_;
};

}  // namespace hw
