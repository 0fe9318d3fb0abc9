#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/secret_store.h"

namespace hw {

// The system keychain items a PPP service refers to by its ID: the PPP
// password under the service ID, the IPsec key under "<ID>.SS". Results are
// 0 on success, 60 when there is no keychain, 63 when the item cannot be
// written.
class VPNKeychain {
public:
    explicit VPNKeychain(std::shared_ptr<SecretStore> systemKeychain) : keychain_(std::move(systemKeychain)) {}

    std::int32_t createPasswordKeyChainItem(const std::string& label, const std::string& service,
                                            const std::string& account, const std::string& password);
    std::int32_t createSharedSecretKeyChainItem(const std::string& label, const std::string& service,
                                                const std::string& secret);
    // Creates the item, or replaces the data of the one with this service and
    // account.
    std::int32_t createItem(const std::string& label, const std::string& service, const std::string& account,
                            const std::string& description, const std::string& password);

    static std::vector<std::string> trustedApps();

private:
    std::shared_ptr<SecretStore> keychain_;
};

}  // namespace hw
