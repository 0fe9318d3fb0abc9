#include "windows/details_pane/main_view_details_area_controller.h"
#include "core/application_model.h"
#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
constexpr const char* kLog = "MainViewDetailsAreaController";
}  // namespace

void MainViewDetailsAreaController::prepareToConnectingState(bool skipStatus, bool skipFlagAnimation) {
    post([skipStatus, skipFlagAnimation](MainViewDetailsAreaController& self) {
        // A held lock tries nothing, and an attempt that ended tries nothing
        // more: a connecting look queued before either is stale.
        const auto state = self.life_.state();
        if (state == ConnectionLife::State::heldByLock || state == ConnectionLife::State::disconnected) return;
        self.skipConnectingStateNotification_ = true;
        // In this step, not posted again: a disconnected look posted in
        // between must not be overtaken by a stale connecting one.
        self.applyConnectingState(skipStatus);
        if (!skipFlagAnimation) self.startAnimateFlagConnectionProgress();
        self.hideConnectedIndicator();
        // The card and the overlay say the same: waiting for the network, or connecting.
        const bool waiting = self.life_.state() == ConnectionLife::State::waitingForNetwork;
        self.updateConnectToLabel(waiting ? LocaleData::main_view_waiting_for_network_label()
                                          : LocaleData::main_view_connecting_to_label());
        self.updateConnectionStatus(waiting ? LocaleData::connection_status_waiting_for_network_label()
                                            : LocaleData::connection_status_connecting_label());
    });
}

void MainViewDetailsAreaController::setConnectButtonTo_Connecting_state(bool keepErrorAndAddress) {
    post([keepErrorAndAddress](MainViewDetailsAreaController& self) { self.applyConnectingState(keepErrorAndAddress); });
}

void MainViewDetailsAreaController::applyConnectingState(bool keepErrorAndAddress) {
    auto& model = this->model();
    if (model.currentConnectionState() == ConnectionStates::connecting || connectButton_.isInConnectingState()) return;
    toggleConnectButtonState(ConnectButtonStates::connecting, false);
    view_.setConnectingXSignHidden(false);
    view_.setChangeLocationInsideButton(true, 1.0);
    showOverlayForLocationsTable();
    disableLocationChange();
    if (!keepErrorAndAddress) {
        // The internet-unavailable error stays up while the pane tries again.
        if (errorTopBarUpperText() != internetNotReachableErrorUpperText()) hideErrorNotificationBar();
        updateIPAddress(LocaleData::connection_IP_address_refreshing_label());
    }
    model.setCurrentConnectionState(ConnectionStates::connecting);
}

void MainViewDetailsAreaController::setConnectButtonTo_Disconnected_state() {
    post([](MainViewDetailsAreaController& self) {
        log::info(kLog, "setConnectButtonTo_Disconnected_state() started");
        self.engine_.cleanUpSession(false);
        self.view_.setConnectionTimeText(LocaleData::connection_timer_default_label());
        self.updateConnectionStatus(LocaleData::connection_status_disconnected_label());
        self.toggleConnectButtonState(ConnectButtonStates::connect, false);
        self.view_.setConnectingXSignHidden(true);
        self.view_.setChangeLocationInsideButton(false, 1.0);
        // Ready to connect: no mark of a tunnel on the flag, no row of one.
        self.view_.setFlagConnectedIndicatorHidden(true);
        self.view_.setConnectionDetailsBoxHidden(true);
        self.updateIPAddress(LocaleData::connection_IP_address_refreshing_label());
        // The tunnel's address is not the user's any more.
        self.askPublicIPAgain();
        self.hideOverlayForLocationsTable();
    });
}

void MainViewDetailsAreaController::askPublicIPAgain() {
    if (!refreshUserIPAddress_) return;
    std::weak_ptr<MainViewDetailsAreaController> weak = weak_from_this();
    refreshUserIPAddress_([weak] {
        auto pane = weak.lock();
        // Asked before a new attempt began: the card and the tray say
        // "Refreshing…" until that attempt has its own answer.
        if (!pane || pane->model().currentConnectionState() == ConnectionStates::connecting) return;
        pane->updateIPAddress(std::nullopt);
    });
}

void MainViewDetailsAreaController::toggleConnectButtonState(ConnectButtonStates state, bool skip) {
    log::debug(kLog, "toggleConnectButtonState() executed.");
    if (!skip) {
        view_.setConnectButtonXSignPaddingLeft(kXSignPaddingLeft);
        switch (state) {
            case ConnectButtonStates::connecting: connectButton_.setToConnectingState(); break;
            case ConnectButtonStates::disconnect: connectButton_.setToDisconnectState(); break;
            case ConnectButtonStates::connect: connectButton_.setToConnectState(); break;
        }
    }
    fireConnectButtonStateChanged(connectButton_.getCurrentButtonLabel());
}

void MainViewDetailsAreaController::updateConnectionStatus(const std::string& text) { fireConnectionStatusUpdated(text); }

void MainViewDetailsAreaController::updateConnectToLabel(const std::string& text) {
    post([text](MainViewDetailsAreaController& self) { self.view_.setConnectToText(text); });
}

void MainViewDetailsAreaController::changeLocationLabel(const std::string& text) {
    view_.setLocationName(model().useAutomaticLocation() ? LocaleData::main_view_automatic_optimized_label() : text);
}

void MainViewDetailsAreaController::showOverlayForLocationsTable() {
    // The locations window follows this setting with its own overlay.
    model().setVpnSettingsChangingDisabled(true);
    if (deactivateTableCallback_) deactivateTableCallback_();
}

void MainViewDetailsAreaController::hideOverlayForLocationsTable() {
    model().setVpnSettingsChangingDisabled(false);
    if (activateTableCallback_) activateTableCallback_();
}

void MainViewDetailsAreaController::startAnimateFlagConnectionProgress() {
    log::debug(kLog, "startAnimateFlagConnectionProgress()");
    if (rotationAnimationInProgress_ || !view_.isAutoReconnectOverlayHidden()) return;
    // Marked at once: a second start queued behind this one must not spin twice.
    rotationAnimationInProgress_ = true;
    post([](MainViewDetailsAreaController& self) { self.view_.setFlagLoadingSpinning(true); });
}

void MainViewDetailsAreaController::stopAnimateFlagConnectionProgress() {
    post([](MainViewDetailsAreaController& self) {
        log::debug(kLog, "stopAnimateFlagConnectionProgress()");
        self.view_.setFlagLoadingSpinning(false);
        self.rotationAnimationInProgress_ = false;
    });
}

void MainViewDetailsAreaController::showConnectedIndicator() {
    post([](MainViewDetailsAreaController& self) { self.view_.setFlagConnectedIndicatorHidden(false); });
}

void MainViewDetailsAreaController::hideConnectedIndicator() {
    post([](MainViewDetailsAreaController& self) { self.view_.setFlagConnectedIndicatorHidden(true); });
}

void MainViewDetailsAreaController::showAutoReconnectOverlay() {
    post([](MainViewDetailsAreaController& self) {
        if (!self.view_.isAutoReconnectOverlayHidden()) return;
        self.stopAnimateFlagConnectionProgress();
        const bool waiting = self.life_.state() == ConnectionLife::State::waitingForNetwork;
        self.view_.setAutoReconnectOverlay(false,
                                           waiting ? LocaleData::main_view_waiting_for_network_header()
                                                   : LocaleData::main_view_auto_reconnect_header(),
                                           LocaleData::main_view_auto_reconnect_subheader());
        self.prepareToConnectingState(true, false);
        log::debug(kLog, "startAnimateAutoReconnect()");
        self.view_.setAutoReconnectSpinning(true);
    });
}

void MainViewDetailsAreaController::hideAutoReconnectOverlay() {
    post([](MainViewDetailsAreaController& self) {
        self.view_.setAutoReconnectOverlay(true, "", "");
        log::debug(kLog, "stopAnimateAutoReconnect()");
        self.view_.setAutoReconnectSpinning(false);
    });
}

void MainViewDetailsAreaController::showConnectButtonPopover() {
    view_.showConnectButtonPopover(LocaleData::main_view_connect_button_popover_text());
}

void MainViewDetailsAreaController::closeConnectButtonPopover() { view_.closeConnectButtonPopover(); }

bool MainViewDetailsAreaController::isIKEv2_currentConnectionProvider() const {
    return engine_.currentProviderType() == VPNTypesIKEv2_StrongSwan;
}

}  // namespace hw
