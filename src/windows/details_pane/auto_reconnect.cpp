#include <utility>

#include "windows/details_pane/main_view_details_area_controller.h"
#include "core/application_model.h"
#include "network/internet_reachability_helper.h"
#include "platform/log.h"
#include "services/locations_list_item_model.h"
#include "services/vpn_parse_config.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
constexpr const char* kLog = "MainViewDetailsAreaController";
}  // namespace

void MainViewDetailsAreaController::lifeChanged(ConnectionLife::State from, ConnectionLife::State to) {
    using State = ConnectionLife::State;
    if (to == State::waitingForNetwork) showWaitingForNetwork(true);
    else if (from == State::waitingForNetwork) showWaitingForNetwork(false);
    // Whoever ended the attempt (a sign-out too), no overlay says it goes on.
    if (to == State::disconnected && from != State::disconnected) hideAutoReconnectOverlay();
    // Its banner is moot once it connected, and not this one's once another begins.
    if (to == State::connected || (to == State::connecting && (from == State::disconnected || from == State::heldByLock)))
        reconnectAnnounced_ = false;
}

void MainViewDetailsAreaController::requestReconnect(ReconnectReason reason) { host_.request(reason); }

void MainViewDetailsAreaController::reachabilityChanged(bool reachable) { host_.reachabilityChanged(reachable); }

bool MainViewDetailsAreaController::secureNetworkJoined() {
    if (!life_.secureNetwork()) return false;
    log::info(kLog, "a secure network: Wi-Fi security's connection ends");
    endOnPurpose();
    return true;
}

void MainViewDetailsAreaController::announceReconnect(bool hadConnected) {
    auto& model = this->model();
    const bool lock = model.networkLockActivated;
    log::info(kLog, std::string("reconnecting ") + (lock ? "under the kill switch" : "without the kill switch"));
    if (lock && engine_.currentProviderType() == VPNTypesL2TP) {
        log::info(kLog, std::string("isConnectedToInternet: ") + (model.isConnectedToInternet ? "true" : "false"));
        post([](MainViewDetailsAreaController& self) {
            auto config = self.dataObject_ ? self.dataObject_->vpnConfig : nullptr;
            if (!config || config->vpnServerIPAddress.empty()) return;
            std::weak_ptr<MainViewDetailsAreaController> weak = self.weak_from_this();
            self.engine_.addVPNServerStaticRoute(
                config->vpnServerIPAddress, self.model().previousDefaultGatewayValue(),
                [weak](const std::optional<std::string>& reply) {
                    auto pane = weak.lock();
                    if (pane) pane->resumeParkedTry();
                    if (!pane || !reply || reply->empty() || *reply == "NO") return;
                    log::info(kLog, "Static route to " + *reply + " was already added.");
                    pane->restartReachability(*reply);
                });
        });
    }
    // Once per attempt: the banner, and the look that says so.
    shell_.showAutoReconnectNotification(lock, hadConnected);
    reconnectAnnounced_ = true;
    if (lock) showAutoReconnectOverlay();
    // A tunnel that was up is no longer shown connected.
    if (model.currentConnectionState() == ConnectionStates::connected) prepareToConnectingState(true, false);
}

void MainViewDetailsAreaController::startTry() {
    log::info(kLog, "startReconnect() attempt started.");
    // Automatic gives every protocol of its order its try again, from the first.
    engine_.beginUserConnect();
    startConnectionRequest();
}

void MainViewDetailsAreaController::showWaitingForNetwork(bool waiting) {
    if (waitingForNetworkShown_ == waiting) return;
    waitingForNetworkShown_ = waiting;
    log::info(kLog, waiting ? "the pane waits for the network" : "the pane no longer waits for the network");
    if (waiting) {
        prepareToConnectingState(true, false);
        post([](MainViewDetailsAreaController& self) {
            if (!self.waitingForNetworkShown_) return;
            // The dead tunnel's address and time are not this wait's.
            self.updateIPAddress(LocaleData::connection_IP_address_refreshing_label());
            self.view_.setConnectionTimeText(LocaleData::connection_timer_default_label());
            self.updateConnectToLabel(LocaleData::main_view_waiting_for_network_label());
            self.updateConnectionStatus(LocaleData::connection_status_waiting_for_network_label());
            if (self.model().networkLockActivated && !self.view_.isAutoReconnectOverlayHidden())
                self.view_.setAutoReconnectOverlay(false, LocaleData::main_view_waiting_for_network_header(),
                                                   LocaleData::main_view_auto_reconnect_subheader());
        });
        return;
    }
    post([](MainViewDetailsAreaController& self) {
        if (self.waitingForNetworkShown_) return;
        self.updateConnectToLabel(LocaleData::main_view_connecting_to_label());
        self.updateConnectionStatus(LocaleData::connection_status_connecting_label());
        if (!self.view_.isAutoReconnectOverlayHidden())
            self.view_.setAutoReconnectOverlay(false, LocaleData::main_view_auto_reconnect_header(),
                                               LocaleData::main_view_auto_reconnect_subheader());
    });
}

void MainViewDetailsAreaController::attemptGaveUp() {
    log::info(kLog, "connection attempts count reached!");
    enableLocationChange();
    showErrorNotificationBar(LocaleData::vpn_connection_generic_error());
    // The last banner said it was reconnecting; this one says it stopped.
    reconnectAnnounced_ = false;
    shell_.showConnectionErrorNotification();
    endInReadyLook();
}

void MainViewDetailsAreaController::attemptRefused(bool held) {
    log::info(kLog, "the system refused the try: it is not tried again, the attempt ends in its error");
    // No "Reconnecting" stays out after the end (the helper's loss may come
    // just after the tunnel's own drop announced a reconnect).
    if (std::exchange(reconnectAnnounced_, false)) shell_.withdrawAutoReconnectNotification();
    if (!held) {
        endInReadyLook();
        return;
    }
    // The lock stays (nothing leaves outside a tunnel) and the window says
    // so: nothing is tried, so no connecting look; the overlay carries the
    // error, and the button's DISCONNECT lifts the lock.
    log::info(kLog, "the lock holds: the window shows it until the user lifts it");
    stopAnimateFlagConnectionProgress();
    hideConnectedIndicator();
    setIsConnectedToVPN(false);
    // The error's bar is shown after the machine has decided: read it then.
    post([](MainViewDetailsAreaController& self) {
        if (self.life_.state() != ConnectionLife::State::heldByLock) return;
        const auto& bar = self.errorBar_;
        const std::string error = bar.lowerText.empty() ? bar.multiLineText : bar.lowerText;
        self.toggleConnectButtonState(ConnectButtonStates::disconnect, false);
        self.view_.setConnectingXSignHidden(true);
        self.view_.setAutoReconnectOverlay(false, LocaleData::main_view_kill_switch_held_header(),
                                           error.empty() ? LocaleData::main_view_kill_switch_held_subheader()
                                                         : error + "\n" + LocaleData::main_view_kill_switch_held_subheader());
        self.view_.setAutoReconnectSpinning(false);
        self.updateConnectToLabel(LocaleData::main_view_connect_to_label());
        self.updateConnectionStatus(LocaleData::connection_status_disconnected_label());
        // No tunnel stands behind "Refreshing…": the address is asked again.
        self.view_.setConnectionDetailsBoxHidden(true);
        self.askPublicIPAgain();
    });
}

void MainViewDetailsAreaController::onLockReleased() {
    if (life_.lockLifted()) {
        log::info(kLog, "the lock was lifted: the window leaves its look");
        endInReadyLook();
        return;
    }
    // The attempt goes on without the lock: no kill-switch overlay.
    if (life_.inAttempt()) hideAutoReconnectOverlay();
}

void MainViewDetailsAreaController::endInReadyLook() {
    // The attempt ended: the pane must not keep its busy look.
    if (life_.busy()) life_.cancel();
    waitingForNetworkShown_ = false;
    hideAutoReconnectOverlay();
    stopAnimateFlagConnectionProgress();
    hideConnectedIndicator();
    setIsConnectedToVPN(false);
    // The button's own step, in order after any connecting look posted before.
    post([](MainViewDetailsAreaController& self) {
        if (!self.connectButton_.isInConnectState()) self.setConnectButtonTo_Disconnected_state();
    });
    updateConnectToLabel(LocaleData::main_view_connect_to_label());
    model().setCurrentConnectionState(ConnectionStates::disconnected);
    enableLocationChange();
}

void MainViewDetailsAreaController::restartReachability(const std::string& address) {
    auto reachability = reachability_ ? reachability_() : nullptr;
    if (!reachability) {
        log::warning(kLog, "no reachability watch: its restart is skipped");
        return;
    }
    reachability->stopReachability();
    reachability->reachByIP(address);
}

}  // namespace hw
