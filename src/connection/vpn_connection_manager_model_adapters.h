#pragma once
#include <functional>
#include <string>

#include "connection/connection_life_host.h"
#include "connection/vpn_connection_manager.h"
#include "connection/vpn_connection_manager_ports.h"
#include "core/application_model.h"

namespace hw {

// The manager's view of the state object, the details pane and the shell.
class ApplicationModelConnectionContext final : public ConnectionManagerContext {
public:
    using AlertPresenter = std::function<void(const std::string& messageText, const std::string& informativeText,
                                              std::function<void(int response)> completion)>;

    ApplicationModelConnectionContext(ApplicationModel& model, AlertPresenter alert)
        : model_(model), alert_(std::move(alert)) {}

    VPNTypes vpnProtocol() const override { return model_.vpnProtocol; }
    void addVPNProtocolUpdatedObserver(std::function<void()> observer) override {
        model_.addVPNProtocolUpdatedObserver([observer = std::move(observer)](const std::string&) { observer(); });
    }
    std::string vpnServersDomainSuffix() const override { return model_.vpnServersDomainSuffix; }
    std::string helperToolCurrentVersion() const override { return model_.helperToolCurrentVersion(); }
    void setHelperToolCurrentVersion(const std::string& v) override { model_.setHelperToolCurrentVersion(v); }
    bool perfromHelperToolStoredVersionCheck() const override { return model_.perfromHelperToolStoredVersionCheck; }
    bool useNetworkLock() const override { return model_.useNetworkLock(); }
    bool networkLockActivated() const override { return model_.networkLockActivated; }
    void setNetworkLockActivated(bool v) override { model_.networkLockActivated = v; }
    std::string previousDefaultGatewayValue() const override { return model_.previousDefaultGatewayValue(); }
    void setPreviousDefaultGatewayValue(const std::string& g) override { model_.setPreviousDefaultGatewayValue(g); }
    bool openVPN_Reconnect_in_progress() const override { return model_.openVPN_Reconnect_in_progress(); }
    bool autoReconnectInProgress() const override { return model_.autoReconnectInProgress(); }
    int autoReconnectAttemptsCount() const override { return model_.autoReconnectAttemptsCount(); }
    void setAutoReconnectAttemptsCount(int n) override { model_.setAutoReconnectAttemptsCount(n); }
    void setDeviceEnteredSleepMode(bool v) override { model_.deviceEnteredSleepMode = v; }
    bool deviceEnteredSleepMode() const override { return model_.deviceEnteredSleepMode; }
    bool wiFiSecurityOn() const override { return model_.unsecured_Wi_Fi_VPN_activated; }
    bool serverOutOfReachReported() const override { return model_.openvpn_not_reachable_error_notification_arrived; }
    void setServerOutOfReachReported(bool v) override { model_.openvpn_not_reachable_error_notification_arrived = v; }
    // The application's life answers; without it nothing counts as current.
    std::optional<ConnectionTicket> currentTry() const override {
        return life_ ? life_->currentTry() : std::nullopt;
    }
    bool isCurrentTry(const ConnectionTicket& ticket, const char* what) const override {
        return life_ && life_->isCurrentTry(ticket, what);
    }
    bool connectionInitiateCanceled() const override { return life_ && life_->stopped(); }
    void deviceWillSleep() override {
        if (life_) life_->life().deviceWillSleep();
    }
    void attachLife(ConnectionLifeHost* life) override { life_ = life; }
    bool isLoggedInUser() const override { return model_.isLoggedInUser; }
    void writeLifeViews(const ConnectionLifeViews& views) override;
    void requestReconnect(ReconnectReason reason) override {
        if (life_) life_->request(reason);
    }
    void showHelperInstallAlert(const std::string& message, const std::string& info,
                                std::function<void(int)> completion) override;

private:
    ApplicationModel& model_;
    AlertPresenter alert_;
    ConnectionLifeHost* life_ = nullptr;
};

// The engine as the state object sees it.
class VPNConnectionManagerModelPort final : public ConnectionManagerPort {
public:
    explicit VPNConnectionManagerModelPort(VPNConnectionManager& manager) : manager_(manager) {}
    void removeExistingConnection() override { manager_.removeExistingConnection(); }
    bool automaticModeDiscoveryInProgress() const override { return manager_.automaticModeDiscoveryInProgress(); }
    std::optional<std::int64_t> currentProviderType() const override {
        if (!manager_.currentProvider() || !manager_.currentProvider()->type()) return std::nullopt;
        return static_cast<std::int64_t>(*manager_.currentProvider()->type());
    }
    void disableNetworkLock() override { manager_.disableNetworkLock(); }
    void liftNetworkLockLeftFromEarlierRun(std::function<void()> lifted) override {
        manager_.liftNetworkLockLeftFromEarlierRun(std::move(lifted));
    }

private:
    VPNConnectionManager& manager_;
};

}  // namespace hw
