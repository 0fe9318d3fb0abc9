#include "connection/vpn_keychain.h"

#include "platform/log.h"

namespace hw {

namespace {
constexpr char kLog[] = "keychain";
}

std::int32_t VPNKeychain::createPasswordKeyChainItem(const std::string& label, const std::string& service,
                                                     const std::string& account, const std::string& password) {
    return createItem(label, service, account, "PPP Password", password);
}

std::int32_t VPNKeychain::createSharedSecretKeyChainItem(const std::string& label, const std::string& service,
                                                         const std::string& secret) {
    return createItem(label, service + ".SS", "", "IPSec Shared Secret", secret);
}

std::int32_t VPNKeychain::createItem(const std::string&, const std::string& service, const std::string& account,
                                     const std::string&, const std::string& password) {
    if (!keychain_) {
        log::error(kLog, "Could not obtain System Keychain: no secret store");
        return 60;
    }
    log::info(kLog, "Succeeded opening System Keychain");
    // The secret store replaces an existing item's data in place, which is
    // what an update of the same service and account must do.
    if (!keychain_->writeString(service, account, password)) {
        log::error(kLog, "Creating Keychain item failed: the secret store refused the item");
        return 63;
    }
    log::info(kLog, "Successfully created Keychain Item");
    return 0;
}

std::vector<std::string> VPNKeychain::trustedApps() {
    return {"/usr/sbin/pppd", "/usr/sbin/xl2tpd", "/usr/libexec/havenway/havenway-helper"};
}

}  // namespace hw
