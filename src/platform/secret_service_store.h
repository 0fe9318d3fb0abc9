#pragma once
#include <functional>
#include <memory>
#include <mutex>

#include "platform/secret_store.h"

namespace hw {

// Secrets in the session's Secret Service (GNOME Keyring, KWallet ...),
// spoken to over a private D-Bus connection, items in the default collection
// with the attributes "service", "key" and "xdg:schema" = "com.havenway.Secret".
// Items are stored as bytes; text items carry the content type text/plain so
// keyring browsers show them. Secrets travel encrypted when the service can.
class SecretServiceStore final : public SecretStore {
public:
    SecretServiceStore();
    ~SecretServiceStore() override;

    SecretRead read(const std::string& service, const std::string& key) override;
    bool write(const std::string& service, const std::string& key, const Bytes& data) override;
    bool remove(const std::string& service, const std::string& key) override;

    // True when a Secret Service answers on the session bus (it may be
    // started by D-Bus activation). The reason goes to *error otherwise.
    static bool serviceAvailable(std::string* error = nullptr);
    // True when the service has a default collection to store in (a fresh
    // keyring has none); the reason otherwise. Never makes one.
    static bool hasDefaultCollection(std::string* error = nullptr);

    class Session;

private:
    // The open session, reopened after a failure; null with the reason.
    Session* session(std::string* why);
    // The operation on the session; false with the reason when it failed.
    bool run(const std::function<bool(Session&, std::string*)>& operation, std::string* why);

    std::mutex mutex_;
    std::unique_ptr<Session> session_;
};

}  // namespace hw
