#include "windows/shared/pane_engine.h"

#include "connection/vpn_connection_manager.h"

namespace hw {

std::optional<VPNTypes> VPNConnectionManagerPaneEngine::currentProviderType() const {
    if (!manager_.currentProvider()) return std::nullopt;
    return manager_.currentProvider()->type();
}

void VPNConnectionManagerPaneEngine::beginUserConnect() { manager_.beginUserConnect(); }

void VPNConnectionManagerPaneEngine::installDNSForVPN() { manager_.installDNSForVPN(); }

ConnectionLifeHost& VPNConnectionManagerPaneEngine::connectionLife() { return manager_.connectionLife(); }

void VPNConnectionManagerPaneEngine::setStatusClosures(StatusClosures closures) {
    // Empty closures uninstall: nothing of a closed window is called.
    ConnectionStatusHooks hooks = manager_.connectionLife().wrap(std::move(closures));
    manager_.onConnectionEstablishedNotification = std::move(hooks.established);
    manager_.onConnectionErrorNotification = std::move(hooks.error);
    manager_.onConnectingStateNotification = std::move(hooks.connecting);
    manager_.onDisconnectedStateNotification = std::move(hooks.disconnected);
    manager_.onConnectionRefusedNotification = std::move(hooks.refused);
    manager_.onNoWayOutAfterReleaseNotification = std::move(hooks.noWayOut);
    manager_.onHelperCarriedOutNotification = std::move(hooks.helperCarriedOut);
    manager_.replayEstablishedToLateListener();
}

void VPNConnectionManagerPaneEngine::setConnectionTimerTickCallback(std::function<void(const std::string&)> tick) {
    manager_.setConnectionTimerTickCallback(std::move(tick));
}

void VPNConnectionManagerPaneEngine::setTunnelDownCallback(std::function<void()> down) {
    manager_.onTunnelDownNotification = std::move(down);
}

void VPNConnectionManagerPaneEngine::setSessionClockShown(bool shown) {
    manager_.currentVPNConnection().setTicksPaused(!shown);
}

void VPNConnectionManagerPaneEngine::connect(const ManagerServerConfig& config) { manager_.connect(config); }

void VPNConnectionManagerPaneEngine::disconnect() { manager_.disconnect(); }

void VPNConnectionManagerPaneEngine::cleanUpSession(bool forced) { manager_.cleanUpSession(forced); }

bool VPNConnectionManagerPaneEngine::enableNetworkLock(const std::string& serverHost,
                                                       const std::optional<std::string>& previousGateway,
                                                       const std::string& dns1, const std::string& dns2,
                                                       std::function<void(const std::string&)> completion) {
    return manager_.enableNetworkLock(serverHost, previousGateway, dns1, dns2, std::move(completion));
}

void VPNConnectionManagerPaneEngine::reapplyNetworkLock() { manager_.reapplyNetworkLock(); }

bool VPNConnectionManagerPaneEngine::startedAddVPNServerStaticRoute() const {
    return manager_.startedAddVPNServerStaticRoute();
}

void VPNConnectionManagerPaneEngine::addVPNServerStaticRoute(
    const std::string& serverAddress, const std::optional<std::string>& gateway,
    std::function<void(const std::optional<std::string>&)> completion) {
    manager_.addVPNServerStaticRoute(serverAddress, gateway, std::move(completion));
}

}  // namespace hw
