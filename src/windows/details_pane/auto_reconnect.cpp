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

int MainViewDetailsAreaController::connectionAttemptsCount() const { return model().autoReconnectAttemptsCount(); }

void MainViewDetailsAreaController::setConnectionAttemptsCount(int count) {
    model().setAutoReconnectAttemptsCount(count);
}

void MainViewDetailsAreaController::requestAutoReconnect() {
    auto& model = this->model();
    if (model.autoReconnectInProgress()) return;
    log::info(kLog, "requestAutoReconnect() Started.");
    engine_.setConnectionInitiateCanceled(false);
    if (model.networkLockActivated) {
        if (engine_.currentProviderType() == VPNTypesL2TP) {
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
        shell_.showAutoReconnectNotification(true);
        showAutoReconnectOverlay();
        startReconnect();
        setConnectionAttemptsCount(connectionAttemptsCount() + 1);
        return;
    }
    if (connectionAttemptsCount() >= model.autoReconnectTryAttempts_if_NetworkLockDisabled()) {
        log::info(kLog, "connection attempts count reached!");
        enableLocationChange();
        showErrorNotificationBar(LocaleData::vpn_connection_generic_error());
        endInReadyLook();
        return;
    }
    shell_.showAutoReconnectNotification(false);
    startReconnect();
    setConnectionAttemptsCount(connectionAttemptsCount() + 1);
    log::info(kLog, "Connection attempts count: " + std::to_string(connectionAttemptsCount()));
}

void MainViewDetailsAreaController::startReconnect() {
    model().setAutoReconnectInProgress(true);
    engine_.setConnectionInitiateCanceled(false);
    if (isIKEv2_currentConnectionProvider()) engine_.cleanUpSession(true);
    later(kReconnectDelayMs, [](MainViewDetailsAreaController& self) {
        log::info(kLog, "startReconnect() attempt started.");
        // From here an error is this attempt's own, not the drop's echo.
        self.autoReconnectStartedFromDisconnect_ = false;
        self.startConnectionRequest();
    });
}

void MainViewDetailsAreaController::checkAndRequestForAutoReconnect() {
    log::info(kLog, "checkAndRequestForAutoReconnect() started.");
    if (!autoReconnectStartedFromDisconnect_ && model().isLoggedInUser) {
        // The error ended the running attempt: nothing else clears the flag
        // without the kill switch, and the loop would stall at "Reconnecting".
        model().setAutoReconnectInProgress(false);
        requestAutoReconnect();
    } else {
        model().setAutoReconnectInProgress(true);
    }
    autoReconnectStartedFromDisconnect_ = false;
}

void MainViewDetailsAreaController::endInReadyLook() {
    // The loop gave up: the pane must not keep its busy look.
    model().setAutoReconnectInProgress(false);
    hideAutoReconnectOverlay();
    stopAnimateFlagConnectionProgress();
    hideConnectedIndicator();
    setIsConnectedToVPN(false);
    if (!connectButton_.isInConnectState()) setConnectButtonTo_Disconnected_state();
    updateConnectToLabel(LocaleData::main_view_connect_to_label());
    model().setCurrentConnectionState(ConnectionStates::disconnected);
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
