#include <memory>
#include <optional>

#include "connection/manager_server_config.h"
#include "core/application_model.h"
#include "core/global_constants.h"
#include "network/wifi_info_helper.h"
#include "platform/log.h"
#include "services/locations_list_item_model.h"
#include "services/vpn_parse_config.h"
#include "texts/locale_data.h"
#include "windows/details_pane/main_view_details_area_controller.h"

namespace hw {

namespace {
constexpr const char* kLog = "MainViewDetailsAreaController";
}  // namespace

void MainViewDetailsAreaController::onConnectButtonClick() { host_.connectOrEnd(); }

void MainViewDetailsAreaController::performIntent(ConnectionIntent intent) {
    log::info(kLog, "onConnectButtonClick -- triggered");
    // One click a second, whichever control sent it.
    if (!isConnectedButtonActive_) return;
    isConnectedButtonActive_ = false;
    later(kButtonRearmMs, [](MainViewDetailsAreaController& self) { self.isConnectedButtonActive_ = true; });
    if (!dataObject_) {
        log::warning(kLog, "onConnectButtonClick without a location: skipped");
        return;
    }
    if (intent == ConnectionIntent::connect) {
        if (auto wifi = wifiInfo_ ? wifiInfo_() : nullptr; wifi && wifi->networkWiFi_SSID_hasChanged())
            wifi->setNetworkWiFi_SSID_hasChanged(false);
        prepareAndConnectToVPN();
        return;
    }
    log::info(kLog, intent == ConnectionIntent::cancel ? "onConnectButtonClick -- STOP connecting requested"
                                                       : "onConnectButtonClick -- DISCONNECT requested");
    performIntentionalDisconnect();
}

void MainViewDetailsAreaController::prepareAndConnectToVPN() {
    if (!dataObject_) return;
    // The moment counts from the click: what the click changes on screen
    // below keeps the main thread a while, and must not add to it.
    auto ticket = std::make_shared<std::optional<decltype(life_.ticket())>>();
    later(kConnectStartMs, [ticket](MainViewDetailsAreaController& self) {
        if (*ticket && self.life_.isCurrent(**ticket, "the Connect's start")) self.startConnectionRequest();
    });
    engine_.beginUserConnect();
    // Each Connect of the user's is a fresh attempt, its count at zero.
    life_.begin(ConnectionLife::Origin::user);
    waitingForNetworkShown_ = false;
    // Every supported system takes the newest road: no flag animation on a click.
    prepareToConnectingState(false, true);
    // A Stop within the moment prevents the request.
    *ticket = life_.ticket();
}

std::string MainViewDetailsAreaController::serverHostFor(const VPNParseConfig& config) const {
    return config.serverHostName(isIKEv2_currentConnectionProvider() ? model().vpnServersDomainSuffix
                                                                     : model().mainDomainName);
}

void MainViewDetailsAreaController::startConnectionRequest() {
    log::info(kLog, "startConnectionRequest() started.");
    auto& model = this->model();
    auto config = dataObject_ ? dataObject_->vpnConfig : nullptr;
    if (!config) {
        endWithoutServer("startConnectionRequest: no location or configuration");
        return;
    }
    // One try at a time: the machine hears of each one that starts. One
    // outside an attempt (Wi-Fi security's) opens its own.
    using State = ConnectionLife::State;
    if (life_.state() == State::disconnected || life_.state() == State::heldByLock)
        life_.begin(model.unsecured_Wi_Fi_VPN_activated ? ConnectionLife::Origin::wifiSecurity
                                                          : ConnectionLife::Origin::user);
    life_.tryStarted();
    const auto ticket = life_.ticket();
    if (model.useNetworkLock()) {
        // From here the watch cannot see the network come back: a loss it
        // read just before must not park the attempt for good.
        if (!model.networkLockActivated) life_.request(ReconnectReason::networkReturned);
        model.networkLockActivated = true;
        // Whatever an earlier try parked is no longer this one's.
        pendingConnectAttemptRequest_VPNServer_.reset();
        const std::string host = serverHostFor(*config);
        if (engine_.startedAddVPNServerStaticRoute()) {
            // The route goes first; its completion (or the lock's answer
            // before it) resumes this try.
            pendingConnectAttemptRequest_ = true;
            pendingConnectAttemptRequest_VPNServer_ = host;
            parkedTry_ = ticket;
            return;
        }
        const bool waits = requestLock(host, ticket);
        prepareToConnectingState(true, false);
        if (waits) pendingConnectAttemptRequest_ = true;
        return;
    }
    config->resetResolvedServer();
    prepareToConnectingState(true, false);
    if (isIKEv2_currentConnectionProvider()) onConnectingStateNotification();
    sendConnectRequest();
}

void MainViewDetailsAreaController::lockCompletion(const std::string& reported, ConnectionLife::Ticket ticket,
                                                   const std::string& storedAddress) {
    // The engine may answer from its own thread; the pane's state lives on the main one.
    std::weak_ptr<MainViewDetailsAreaController> weak = weak_from_this();
    queue_.runOnMain([weak, reported, storedAddress, ticket] {
        if (auto self = weak.lock()) self->onNetworkLockReport(reported, storedAddress, ticket);
    });
}

void MainViewDetailsAreaController::sendConnectRequest() {
    if (life_.stopped()) return;
    log::info(kLog, "onConnectButtonClick -- CONNECT requested");
    auto config = dataObject_ ? dataObject_->vpnConfig : nullptr;
    auto login = model().recentLoginData();
    if (!config || !login) {
        endWithoutServer("sendConnectRequest: no account credentials or configuration");
        return;
    }
    // The credentials go into this one request only: the location's stored
    // configuration never holds them.
    ManagerServerConfig request = managerServerConfig(*config, model());
    request.username = login->username;
    request.password = login->password;
    post([request = std::move(request), ticket = life_.ticket()](MainViewDetailsAreaController& self) {
        if (!self.life_.isCurrent(ticket, "the connect request")) return;
        log::info(kLog, "vpnConnectionManager.CONNECT -- requested");
        self.engine_.connect(request);
    });
}

void MainViewDetailsAreaController::onNetworkLockEnabled(const std::string& reportedAddress) {
    onNetworkLockReport(reportedAddress, {}, life_.ticket());
}

void MainViewDetailsAreaController::onNetworkLockReport(const std::string& reported, const std::string& storedAddress,
                                                        ConnectionLife::Ticket ticket) {
    auto& model = this->model();
    if (!model.isLoggedInUser) return;
    if (pendingConnectAttemptRequest_VPNServer_) {
        log::info(kLog, "a lock answered while a try is parked: the parked try goes on");
        resumeParkedTry();
        return;
    }
    // An ended try's answer changes nothing, not even the stored address.
    if (!life_.isCurrent(ticket, "the lock's answer")) return;
    auto config = dataObject_ ? dataObject_->vpnConfig : nullptr;
    const bool answered = !reported.empty() && reported != "NO";
    std::string address, stored;
    if (!storedAddress.empty()) {
        // The lock was engaged for the stored address: that one, or nothing.
        if (answered && reported == storedAddress && config && config->vpnServerIPAddress == storedAddress)
            address = reported;
    } else if (answered && config && config->setVPNServerIPAddress(reported)) {
        address = reported;
    } else if (config) {
        stored = config->vpnServerIPAddress;
    }
    if (!address.empty()) {
        restartReachability(address);
        sendConnectRequest();
        return;
    }
    if (!stored.empty()) {
        // No lock stands behind the stored address yet: the tunnel goes
        // there only once the lock is engaged for it.
        lockStoredAddress(stored);
        return;
    }
    log::info(kLog, "VPNServerIP is EMPTY! --  Default gateway Delete skipped!");
    pendingConnectAttemptRequest_ = false;
    if (host_.lockGaveNoAddress(ticket)) {
        onDisconnectedStateNotification(true, false);
    } else {
        endWithoutServer("the network lock gave no server address");
    }
}

void MainViewDetailsAreaController::resumeParkedTry() {
    const auto host = pendingConnectAttemptRequest_ ? pendingConnectAttemptRequest_VPNServer_ : std::nullopt;
    pendingConnectAttemptRequest_ = false;
    pendingConnectAttemptRequest_VPNServer_.reset();
    if (!host || !life_.isCurrent(parkedTry_, "a try parked for the server's route")) return;
    post([host = *host, ticket = parkedTry_](MainViewDetailsAreaController& self) {
        if (self.life_.isCurrent(ticket, "a try parked for the server's route")) self.requestLock(host, ticket);
    });
}

bool MainViewDetailsAreaController::requestLock(const std::string& host, ConnectionLife::Ticket ticket,
                                                const std::string& storedAddress) {
    const std::string gateway = model().previousDefaultGatewayValue();
    std::weak_ptr<MainViewDetailsAreaController> weak = weak_from_this();
    // The backend's resolvers: the lock lets through the ones the road uses.
    return engine_.enableNetworkLock(host, gateway.empty() ? std::nullopt : std::optional<std::string>(gateway),
                                     GlobalConstants::networkLockPrimaryDNS(),
                                     GlobalConstants::networkLockSecondaryDNS(),
                                     [weak, ticket, storedAddress](const std::string& reported) {
                                         if (auto self = weak.lock())
                                             self->lockCompletion(reported, ticket, storedAddress);
                                     });
}

void MainViewDetailsAreaController::lockStoredAddress(const std::string& address) {
    if (life_.stopped()) return;
    log::info(kLog, "the lock holds no server address: it is engaged for the stored one, " + address);
    const bool waits = requestLock(address, life_.ticket(), address);
    pendingConnectAttemptRequest_ = waits;
    // The lock was turned off meanwhile: this attempt ends, it never goes around it.
    if (!waits) onNetworkLockReport("NO", address, life_.ticket());
}

void MainViewDetailsAreaController::endWithoutServer(const char* why) {
    // A request that cannot be sent must not leave the pane connecting forever.
    log::warning(kLog, why);
    showErrorNotificationBar(LocaleData::vpn_connection_generic_error());
    life_.cancel();
    onDisconnectedStateNotification(true, false);
}

void MainViewDetailsAreaController::performIntentionalDisconnect() {
    // At once: a try due meanwhile must not start, nor a lock come back.
    life_.cancel();
    endOnPurpose();
}

void MainViewDetailsAreaController::endOnPurpose() {
    waitingForNetworkShown_ = false;
    post([](MainViewDetailsAreaController& self) {
        auto& model = self.model();
        // A parked try is dropped with its attempt; a late lock answer is
        // stale by its ticket.
        self.pendingConnectAttemptRequest_ = false;
        self.pendingConnectAttemptRequest_VPNServer_.reset();
        self.setIsConnectedToVPN(false);
        model.setOpenVPN_Reconnect_in_progress(false);
        model.openvpn_not_reachable_error_notification_arrived = false;
        model.setCurrentConnectionState(ConnectionStates::disconnected);
        if (self.engine_.currentProviderType() == VPNTypesL2TP) self.onDisconnectedStateNotification(false, false);
        self.hideAutoReconnectOverlay();
        self.stopAnimateFlagConnectionProgress();
        // The engine's report of this end is stale by its ticket: the card
        // comes back to its ready look here, as before the first connect.
        self.hideConnectedIndicator();
        self.changeBackgroundImageToNormalState();
        self.refreshProtocolField(false);
        self.updateConnectToLabel(LocaleData::main_view_connect_to_label());
        self.setConnectButtonTo_Disconnected_state();
        self.enableLocationChange();
        self.engine_.disconnect();
    });
}

}  // namespace hw
