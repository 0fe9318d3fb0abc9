#include "windows/main/main_window_view_controller.h"
#include "network/wifi_info_helper.h"
#include "platform/log.h"
#include "services/links_manager.h"

namespace hw {

namespace {
constexpr char kLog[] = "MainWindow";
}  // namespace

void MainWindowViewController::installDNSIfSettled() {
    if (env_.engine.currentProviderType() != VPNTypesIKEv2_StrongSwan) return;
    if (!env_.engine.intents().settledConnected() || !model().isLoggedInUser) return;
    log::info(kLog, "install_DNS_for_VPN() started to update DNS after Wi-Fi network changing.");
    env_.engine.installDNSForVPN();
}

void MainWindowViewController::showWiFiInsecureNotification() {
    log::info(kLog, "!!! === showWiFiInsecureNotification");
    auto& m = model();
    auto wifi = env_.wifiInfo ? env_.wifiInfo() : nullptr;
    const bool changed = wifi && wifi->networkWiFi_SSID_hasChanged();
    log::info(kLog, std::string("networkWiFi_SSID_hasChanged: ") + (changed ? "true" : "false"));
    // An end on purpose holds Wi-Fi security back on the network it happened
    // on, not on another; a new attempt forgets it.
    const bool endedOnPurpose = env_.engine.intents().stopped();
    if (!endedOnPurpose || changed) {
        wifiSecurityHeldAfterEnd_ = false;
        wifiSecurityHoldSpent_ = endedOnPurpose;
    }

    const auto& pane = detailsViewController_;
    if (pane && pane->isConnectedToVPN()) {
        // The connection layer decides; the event is all this says (with
        // no try waiting for the network it changes nothing).
        if (changed) env_.engine.intents().wifiNetworkChanged();
        else pane->requestReconnect(ReconnectReason::networkReturned);
        installDNSIfSettled();
    } else if (!m.isLoggedInUser) {
        env_.shell.showInsecureWiFiNotLoggedInNotification();
    } else if (!m.wi_fi_SecurityEnabled) {
        env_.shell.showInsecureWiFiNotification();
    } else if (endedOnPurpose && !wifiSecurityHoldSpent_) {
        holdWiFiSecurityAfterEnd();
    } else if (!isVPN_for_Unsecured_Wi_Fi_establishing()) {
        startProbeURLChecking();
    }
    if (changed) wifi->setNetworkWiFi_SSID_hasChanged(false);
}

void MainWindowViewController::showConnectedToWiFiNotification() {
    log::info(kLog, "showConnectedToWiFiNotification -- PROCEEDING!");
    lastConnectedToWiFi_ = env_.clock.wallSeconds();
    log::info(kLog, "!!! === showConnectedToWiFiNotification");
    auto& m = model();
    auto wifi = env_.wifiInfo ? env_.wifiInfo() : nullptr;
    // A NetworkManager that did not answer says nothing of the network's
    // safety: Wi-Fi security leaves its probe and its tunnel as they are.
    const bool securityKnown = !wifi || wifi->wiFiSecurityKnown();
    if (!securityKnown) log::info(kLog, "the Wi-Fi's security is unknown: Wi-Fi security starts and ends nothing");
    if (securityKnown && env_.probe) env_.probe->stopProbeURLChecking();
    const auto& pane = detailsViewController_;

    // Whether this network ends Wi-Fi security's own connection, whatever
    // its state, is the pane's connection life to say.
    if (securityKnown && pane && pane->secureNetworkJoined()) {
        log::info(kLog, "Disconnect VPN if it was previously connected by Wi-Fi Security.");
        env_.notifications.removeAllDeliveredNotifications();
    } else if (pane && pane->isConnectedToVPN()) {
        const bool changed = wifi && wifi->networkWiFi_SSID_hasChanged();
        if (changed && env_.engine.intents().wifiNetworkChanged())
            log::info(kLog, "Started Auto-Reconnect of on-going VPN connection on WiFi SSID change.");
        else if (!changed)
            installDNSIfSettled();
        // The change is handled here, whatever the protocol: a mark left set
        // would make a later drop wait for a change that has passed.
        if (changed) wifi->setNetworkWiFi_SSID_hasChanged(false);
    }
    m.pendingVPN_Activated_on_UnsecuredWiFi = false;
}

void MainWindowViewController::showNoOnternetConnectionOverlay() {
    log::info(kLog, "showNoOnternetConnectionOverlay()");
    auto& m = model();
    const auto& pane = detailsViewController_;
    const bool lockedConnecting = env_.engine.currentProviderType() && m.networkLockActivated &&
                                  m.currentConnectionState() == ConnectionStates::connecting;
    // The pane's connection life: a tunnel is not shown connected without a
    // network, and no try starts or counts until it is back.
    if (pane) pane->reachabilityChanged(false);
    // While it waits for the network by itself the window says so, not "check your Internet".
    if (!lockedConnecting && !m.autoReconnectInProgress() && pane)
        pane->showErrorNotificationBar(pane->internetNotReachableError());
}

void MainWindowViewController::hideNoOnternetConnectionOverlay() {
    const auto& pane = detailsViewController_;
    // A try waiting for the network starts now (the policy paces it).
    if (pane) pane->reachabilityChanged(true);
    if (pane && pane->errorTopBarUpperText() == pane->internetNotReachableErrorUpperText()) {
        pane->hideErrorNotificationBar();
    }
    if (pane) pane->setViewHidden(false);
    if (pane) pane->refreshIPAddressIfBlank();
    if (isWindowLoaded()) {
        env_.view.setNoInternetOverlayHidden(true);
        env_.view.setSearchFieldHidden(false);
    }
}

void MainWindowViewController::startProbeURLChecking() {
    auto url = env_.links.probeURL();
    if (!url || !env_.probe) {
        log::info(kLog, "no probe address: Wi-Fi security does not connect");
        return;
    }
    env_.probe->delegate = std::weak_ptr<ProbeURLDelegate>(shared_from_this());
    env_.probe->startProbeURLChecking(*url);
}

void MainWindowViewController::onProbeURL_Succeded() {
    log::info(kLog, "onProbeURL_Succeded");
    later(1, [](MainWindowViewController& self) {
        auto& m = self.model();
        const auto& pane = self.detailsViewController_;
        // The network may have changed, the user signed out or connected meanwhile.
        if (!m.isLoggedInUser || !m.wi_fi_SecurityEnabled || !pane ||
            pane->connectButtonState() != ConnectButtonStates::connect ||
            m.currentConnectionState() != ConnectionStates::disconnected) {
            log::info(kLog, "probe answered, but Wi-Fi security no longer connects");
            return;
        }
        m.unsecured_Wi_Fi_VPN_activated = true;
        pane->prepareToConnectingState(false, false);
        pane->startConnectionRequest();
    });
}

void MainWindowViewController::onProbeURL_Failed() { log::info(kLog, "onProbeURL_Failed"); }

void MainWindowViewController::holdWiFiSecurityAfterEnd() {
    // The end itself is the machine's to keep: only its hold on Wi-Fi
    // security is spent, after half a second.
    if (wifiSecurityHeldAfterEnd_) return;
    wifiSecurityHeldAfterEnd_ = true;
    later(500, [](MainWindowViewController& self) {
        if (!self.wifiSecurityHeldAfterEnd_) return;
        self.wifiSecurityHoldSpent_ = true;
        self.wifiSecurityHeldAfterEnd_ = false;
    });
}

bool MainWindowViewController::isVPN_for_Unsecured_Wi_Fi_establishing() const {
    if (model().unsecured_Wi_Fi_VPN_activated) return true;
    if (detailsViewController_ && detailsViewController_->connectButtonState() == ConnectButtonStates::connecting)
        return true;
    return env_.probe && env_.probe->probeURLCallInProgress();
}

}  // namespace hw
