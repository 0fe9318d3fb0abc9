#include "windows/details_pane/main_view_details_area_controller.h"
#include "core/application_model.h"
#include "network/probe_url_reachability_helper.h"
#include "network/wifi_info_helper.h"
#include "platform/log.h"
#include "services/analytics_event.h"
#include "services/locations_list_item_model.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
constexpr const char* kLog = "MainViewDetailsAreaController";

std::string yesNo(bool value) { return value ? "true" : "false"; }
}  // namespace

void MainViewDetailsAreaController::prepareConnectionStatusNotifications() {
    // Weak: the manager outlives the window that owns the pane.
    std::weak_ptr<MainViewDetailsAreaController> weak = weak_from_this();
    PaneEngine::StatusClosures closures;
    closures.established = [weak] {
        if (auto self = weak.lock()) self->onConnection_Established_NotificationHandler();
    };
    closures.error = [weak](const std::string& text, ErrorLook look) {
        if (auto self = weak.lock()) self->onConnection_Error_NotificationHandler(text, look);
    };
    closures.connecting = [weak] {
        if (auto self = weak.lock()) self->onConnectingStateNotification();
    };
    closures.disconnected = [weak](bool force, bool skip) {
        if (auto self = weak.lock()) self->onDisconnectedStateNotification(force, skip);
    };
    closures.refused = [weak](const std::string& text) {
        if (auto self = weak.lock()) self->onConnection_Refused_NotificationHandler(text);
    };
    closures.noWayOut = [weak] {
        if (auto self = weak.lock()) self->onNoWayOutAfterRelease();
    };
    closures.helperCarriedOut = [weak] {
        if (auto self = weak.lock()) self->onHelperCarriedOut();
    };
    engine_.setStatusClosures(std::move(closures));
    statusClosuresInstalled_ = true;
    if (!protocolObserverInstalled_) {
        protocolObserverInstalled_ = true;
        model().addVPNProtocolUpdatedObserver([weak](const std::string&) {
            auto self = weak.lock();
            if (!self) return;
            const bool inUse =
                self->isConnectedToVPN_ || self->model().currentConnectionState() != ConnectionStates::disconnected;
            self->refreshProtocolField(inUse);
        });
    }
}

void MainViewDetailsAreaController::onConnection_Established_NotificationHandler() {
    post([](MainViewDetailsAreaController& self) {
        auto& model = self.model();
        // A tunnel of an attempt that ended never reaches here (the machine
        // ended it); one that ended since the report is not shown either.
        if (self.life_.state() != ConnectionLife::State::connected) return;
        self.waitingForNetworkShown_ = false;
        if (self.connectButton_.isInDisconnectState() && self.isConnectedToVPN_) return;
        self.setIsConnectedToVPN(true);
        self.stopAnimateFlagConnectionProgress();
        self.showConnectedIndicator();
        self.view_.setConnectionDetailsBoxHidden(false);
        self.refreshProtocolField(true);
        self.disableLocationChange();
        if (model.showNotificationsOnConnectDisconnect && self.dataObject_)
            self.shell_.showVPNConnectedNotification(self.dataObject_->name);
        model.setOpenVPN_Reconnect_in_progress(false);
        model.openvpn_not_reachable_error_notification_arrived = false;
        self.connectButton_.onConnectedSuccessProcessing();
        self.toggleConnectButtonState(ConnectButtonStates::disconnect, true);
        self.askPublicIPAgain();
        self.updateConnectionStatus(LocaleData::connection_status_connected_label());
        self.updateConnectToLabel(LocaleData::main_view_connected_to_label());
        self.hideErrorNotificationBar();
        self.view_.setConnectingXSignHidden(true);
        self.view_.setChangeLocationInsideButton(false, 0.5);
        model.setCurrentConnectionState(ConnectionStates::connected);
        self.skipConnectingStateNotification_ = false;
        self.showOverlayForLocationsTable();
        self.changeBackgroundImageToConnectedState();
        self.hideAutoReconnectOverlay();
        self.view_.closeConnectButtonPopover();
    });
    if (auto probe = probe_ ? probe_() : nullptr) probe->stopProbeURLChecking();
    sendAnalyticsEvent(AnalyticsEvent::VPN_CONNECTED_EVENT);
}

void MainViewDetailsAreaController::onConnectingStateNotification() {
    post([](MainViewDetailsAreaController& self) {
        self.setConnectButtonTo_Connecting_state(false);
        self.view_.setConnectionDetailsBoxHidden(true);
        self.refreshProtocolField(true);
        self.disableLocationChange();
        self.startAnimateFlagConnectionProgress();
        log::info(kLog, "on CONNECTING State Notification");
        self.hideConnectedIndicator();
        self.updateConnectToLabel(LocaleData::main_view_connecting_to_label());
        self.updateConnectionStatus(LocaleData::connection_status_connecting_label());
        self.changeBackgroundImageToNormalState();
        self.view_.closeConnectButtonPopover();
    });
    sendAnalyticsEvent(AnalyticsEvent::VPN_CONNECTING_EVENT);
}

void MainViewDetailsAreaController::onDisconnectedStateNotification(bool forceDisconnect,
                                                                    bool skipUnsecuredWiFiFlagClear) {
    auto& model = this->model();
    log::info(kLog, "onDisconnectedStateNotification: forceDisconnect:" + yesNo(forceDisconnect) +
                        ", skipUnsecuredWiFiFlagClear: " + yesNo(skipUnsecuredWiFiFlagClear));
    // A reconnect keeps isConnectedToVPN while its attempts fail: only the
    // drop of a live tunnel is reported, once.
    const bool liveTunnelDropped = isConnectedToVPN_ && model.currentConnectionState() == ConnectionStates::connected;
    // The machine has heard of this end before the window (a try's end, a
    // forced end, a network change that decides): the window only shows it.
    if (liveTunnelDropped) {
        sendAnalyticsEvent(AnalyticsEvent::VPN_DISCONNECT_EVENT);
        // One notification per drop: one that is retried has the reconnect banner.
        if (model.showNotificationsOnConnectDisconnect && dataObject_ && !life_.inAttempt())
            shell_.showVPNDisconnectedNotification(dataObject_->name);
    }
    view_.setConnectionDetailsBoxHidden(true);
    // The connecting look stays while the attempt goes on or a lock holds:
    // the window never shows CONNECT with a lock engaged.
    const bool reconnecting = attemptGoesOn();
    if (!reconnecting) {
        stopAnimateFlagConnectionProgress();
        hideConnectedIndicator();
        setIsConnectedToVPN(false);
    }
    isConnectedButtonActive_ = true;
    if (!reconnecting && !connectButton_.isInConnectState()) setConnectButtonTo_Disconnected_state();
    skipConnectingStateNotification_ = false;
    if (!reconnecting) {
        refreshProtocolField(false);
        updateConnectToLabel(LocaleData::main_view_connect_to_label());
        // Nothing else ends the connecting or connected state: without this
        // the tray keeps spinning and the next click acts on a stale state.
        model.setCurrentConnectionState(ConnectionStates::disconnected);
    }
    changeBackgroundImageToNormalState();
    // Wi-Fi security's mark is the machine's: it lasts as long as its attempt.
    (void)skipUnsecuredWiFiFlagClear;
    // The kill switch was turned off while the tunnel ran: it ends with it.
    if (model.networkLockActivated && !model.useNetworkLock()) model.releaseNetworkLock();
    if (model.networkLockActivated) engine_.reapplyNetworkLock();
    if (!reconnecting) enableLocationChange();
}

bool MainViewDetailsAreaController::wifiSSIDHasChanged() const {
    auto wifi = wifiInfo_ ? wifiInfo_() : nullptr;
    return wifi && wifi->networkWiFi_SSID_hasChanged();
}

}  // namespace hw
