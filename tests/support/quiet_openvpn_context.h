#pragma once
// Free of gtest, so the benches can share it.
#include "connection/openvpn_vpn_connection_provider.h"

namespace hw::test {

// A provider context that never reconnects: the caller drives every step.
class QuietOpenVPNContext : public OpenVPN_ProviderContext {
public:
    std::optional<OpenVPNLoginData> login;
    std::optional<OpenVPNLoginData> recentLoginData() const override { return login; }
    bool useNetworkLock() const override { return false; }
    bool networkLockActivated() const override { return false; }
    bool autoReconnectInProgress() const override { return false; }
    void setOpenVPN_Reconnect_in_progress(bool) override {}
    bool isLoggedInUser() const override { return true; }
    void tryEnded(const std::optional<ConnectionTicket>&) override {}
    void showAutoReconnectOverlay() override {}
    void showAutoReconnectWithNetworkLockNotification() override {}
    void enableNetworkLock() override {}
};

}  // namespace hw::test
