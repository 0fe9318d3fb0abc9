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

ReconnectPolicy::Hooks MainViewDetailsAreaController::policyHooks() {
    // The policy lives and dies with the pane: its hooks may hold this.
    ReconnectPolicy::Hooks hooks;
    hooks.startTry = [this] { startPolicyTry(); };
    hooks.endSession = [this] {
        // Every protocol's: an openvpn or a PPP link left running would meet
        // the next try, and IKEv2's start would end its predecessor's.
        log::info(kLog, "the session in force ends before the next try");
        engine_.cleanUpSession(true);
    };
    hooks.announce = [this] { announceReconnect(); };
    hooks.waitingForNetwork = [this](bool waiting) { showWaitingForNetwork(waiting); };
    hooks.limit = [this]() -> std::optional<int> {
        // Under the lock the user is offline anyway: tries go on, paced.
        if (model().networkLockActivated) return std::nullopt;
        return model().autoReconnectTryAttempts_if_NetworkLockDisabled();
    };
    hooks.gaveUp = [this] { onAttemptGaveUp(); };
    hooks.refused = [this] { onAttemptRefused(); };
    hooks.countChanged = [this](int count) {
        if (model().autoReconnectAttemptsCount() != count) model().setAutoReconnectAttemptsCount(count);
        if (count > 0) log::info(kLog, "Connection attempts count: " + std::to_string(count));
    };
    hooks.log = [](const std::string& text) { log::info(kLog, text); };
    return hooks;
}

int MainViewDetailsAreaController::connectionAttemptsCount() const { return model().autoReconnectAttemptsCount(); }

void MainViewDetailsAreaController::setConnectionAttemptsCount(int count) {
    model().setAutoReconnectAttemptsCount(count);
    policy_->setCount(count);
}

void MainViewDetailsAreaController::requestAutoReconnect() {
    // A provider's (or an older road's) word that the try or the tunnel ended.
    log::info(kLog, "requestAutoReconnect() Started.");
    requestReconnect(ReconnectReason::tryEnded);
}

void MainViewDetailsAreaController::requestReconnect(ReconnectReason reason) {
    auto& model = this->model();
    const bool aboutNetwork = reason == ReconnectReason::networkLost || reason == ReconnectReason::networkReturned;
    if (!model.isLoggedInUser && !aboutNetwork) return;
    if (lockHeld_ && !aboutNetwork) {
        // The attempt ended in a refusal; only the user goes on from here.
        log::info(kLog, std::string("the lock holds after a refused attempt: ") + reconnectReasonName(reason) +
                            " starts nothing");
        return;
    }
    policy_->request(reason);
    syncReconnectFlag();
}

void MainViewDetailsAreaController::reachabilityChanged(bool reachable) {
    if (!reachable && model().networkLockActivated && policy_->state() != ReconnectPolicy::State::connected) {
        // The lock takes the default route away before the tunnel is up, so
        // the watch reads a loss then; only a tunnel that was up can lose its link.
        log::info(kLog, "reachability under the lock (not reachable) before a tunnel: the tries go on");
        return;
    }
    requestReconnect(reachable ? ReconnectReason::networkReturned : ReconnectReason::networkLost);
}

void MainViewDetailsAreaController::syncReconnectFlag() {
    using State = ReconnectPolicy::State;
    const State state = policy_->state();
    const bool reconnecting = state == State::waiting || state == State::waitingForNetwork ||
                              (state == State::trying && model().autoReconnectInProgress());
    if (!reconnecting && model().autoReconnectInProgress()) model().setAutoReconnectInProgress(false);
    if (reconnecting && !model().autoReconnectInProgress()) model().setAutoReconnectInProgress(true);
}

void MainViewDetailsAreaController::announceReconnect() {
    auto& model = this->model();
    const bool lock = model.networkLockActivated;
    engine_.setConnectionInitiateCanceled(false);
    model.setAutoReconnectInProgress(true);
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
                    if (!pane || !reply || reply->empty() || *reply == "NO") return;
                    log::info(kLog, "Static route to " + *reply + " was already added.");
                    pane->restartReachability(*reply);
                });
        });
    }
    // Once per attempt: the banner, and the look that says so.
    shell_.showAutoReconnectNotification(lock);
    if (lock) showAutoReconnectOverlay();
    // A tunnel that was up is no longer shown connected.
    if (model.currentConnectionState() == ConnectionStates::connected) prepareToConnectingState(true, false);
}

void MainViewDetailsAreaController::startPolicyTry() {
    if (!model().isLoggedInUser) {
        // Signed out while the try was due: nothing is tried for nobody.
        policy_->cancel();
        model().setAutoReconnectInProgress(false);
        return;
    }
    log::info(kLog, "startReconnect() attempt started.");
    // From here an error is this try's own, not the drop's echo.
    autoReconnectStartedFromDisconnect_ = false;
    model().setAutoReconnectInProgress(true);
    engine_.setConnectionInitiateCanceled(false);
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

void MainViewDetailsAreaController::checkAndRequestForAutoReconnect() {
    log::info(kLog, "checkAndRequestForAutoReconnect() started.");
    requestReconnect(ReconnectReason::tryEnded);
    autoReconnectStartedFromDisconnect_ = false;
}

void MainViewDetailsAreaController::onAttemptGaveUp() {
    log::info(kLog, "connection attempts count reached!");
    enableLocationChange();
    showErrorNotificationBar(LocaleData::vpn_connection_generic_error());
    endInReadyLook();
}

void MainViewDetailsAreaController::onAttemptRefused() {
    auto& model = this->model();
    log::info(kLog, "the system refused the try: it is not tried again, the attempt ends in its error");
    model.setAutoReconnectInProgress(false);
    if (!model.networkLockActivated) {
        endInReadyLook();
        return;
    }
    // The lock stays (nothing leaves outside a tunnel) and the window says
    // so: the kill switch's overlay, still, and the button's cancel, which
    // lifts it.
    lockHeld_ = true;
    log::info(kLog, "the lock holds: the window shows it until the user cancels");
    stopAnimateFlagConnectionProgress();
    hideConnectedIndicator();
    setIsConnectedToVPN(false);
    setConnectButtonTo_Connecting_state(true);
    post([](MainViewDetailsAreaController& self) {
        if (!self.lockHeld_) return;
        self.view_.setAutoReconnectOverlay(false, LocaleData::main_view_kill_switch_held_header(),
                                           LocaleData::main_view_kill_switch_held_subheader());
        self.view_.setAutoReconnectSpinning(false);
        self.updateConnectToLabel(LocaleData::main_view_connect_to_label());
        self.updateConnectionStatus(LocaleData::connection_status_disconnected_label());
    });
}

void MainViewDetailsAreaController::onLockReleased() {
    if (lockHeld_) {
        log::info(kLog, "the lock was lifted: the window leaves its look");
        lockHeld_ = false;
        endInReadyLook();
        return;
    }
    // The attempt goes on without the lock: no kill-switch overlay.
    if (policy_->inAttempt()) hideAutoReconnectOverlay();
}

void MainViewDetailsAreaController::endInReadyLook() {
    // The attempt ended: the pane must not keep its busy look.
    policy_->cancel();
    lockHeld_ = false;
    waitingForNetworkShown_ = false;
    model().setAutoReconnectInProgress(false);
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
