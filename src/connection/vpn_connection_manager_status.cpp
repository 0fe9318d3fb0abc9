#include <algorithm>

#include "connection/ikev2_strongswan_connector.h"
#include "connection/vpn_connection_manager.h"
#include "connection/vpn_connection_manager_log.h"
#include "connection/openvpn_constants.h"
#include "services/helper_tool/helper_tool_manager.h"
#include "texts/locale_data.h"

namespace hw {

using manager_log::logLine;

void VPNConnectionManager::handleStatusChange(std::int32_t status, const std::optional<std::string>& message,
                                              VPNTypes type, std::optional<ConnectionTicket> ticket) {
    // The flags belong to the main thread: a report from elsewhere is taken
    // there, in the order reports arrived.
    if (!env_.mainQueue.isMainThread()) {
        post([this, status, message, type, ticket] { handleStatusOnMain(status, message, type, ticket); });
        return;
    }
    handleStatusOnMain(status, message, type, ticket);
}

void VPNConnectionManager::handleStatusOnMain(std::int32_t status, const std::optional<std::string>& message,
                                              VPNTypes type, const std::optional<ConnectionTicket>& ticket) {
    logLine("status changed to: " + std::to_string(status));
    if (status == VPNStatusCodes::invalid) {
        connectionExists_ = false;
        syncWithSystemConnectionStarted_ = false;
        return;
    }
    if (status == VPNStatusCodes::disconnected && onTunnelDownNotification) {
        post([this] {
            if (onTunnelDownNotification) onTunnelDownNotification();
        });
    }
    // The subscription made at launch, before any try, reports what it finds.
    const bool launchReport = !ticket && syncWithSystemConnectionStarted_;
    if (!adoption_ && !launchReport && staleTry(ticket, ("status " + std::to_string(status)).c_str())) {
        // Its try is over (cancelled, signed out, refused, or ended before a
        // later one): nothing of it acts. A tunnel it brought up is not kept.
        if (status == VPNStatusCodes::connected) {
            logLine("a late \"established\" of an ended try: its tunnel ends");
            disconnect(true);
        } else if (status == VPNStatusCodes::disconnected) {
            connectionInProgress_ = false;
            connectionEstablishingInProgress_ = false;
        }
        return;
    }
    connectionExists_ = true;
    switch (status) {
        case VPNStatusCodes::connecting:
            syncWithSystemConnectionStarted_ = false;
            if (adoption_) return;
            postReport(ticket, "a connecting report", [this] {
                if (onConnectingStateNotification) onConnectingStateNotification();
            });
            return;
        case VPNStatusCodes::connected:
            handleConnected(type, ticket);
            return;
        case VPNStatusCodes::disconnected:
        case VPNStatusCodes::disconnecting:
            handleDisconnected(status, message, type, ticket);
            return;
        case VPNStatusCodes::notReachable:
            if (type == VPNTypesOpenVPN) {
                postReport(ticket, "a not-reachable report",
                           [this] { notifyError(LocaleData::openvpn_not_reachable_error_notification()); });
            }
            break;
        default:
            break;
    }
    logLine("UNKNOWN VPN connection status received: " + std::to_string(status));
}

void VPNConnectionManager::handleConnected(VPNTypes type, const std::optional<ConnectionTicket>& ticket) {
    logLine("SUCCESSFULLY connected");
    if (adoption_) {
        // Under the lock only the tunnel's default route lets traffic out, and
        // the run that died may not have put it in.
        if (type == VPNTypesOpenVPN && env_.context.networkLockActivated()) {
            routeTheAdoptedTunnel(kDefaultRouteTries, attempt_);
            return;
        }
        finishConnected();
        endAdoption(true);
        return;
    }
    const TryStamp stamp = stampNow(ticket);
    if (type == VPNTypesOpenVPN && env_.context.networkLockActivated()) {
        // The kill switch must let the tunnel's default route through.
        std::optional<std::string> gateway =
            OpenVPN_connectionProvider ? OpenVPN_connectionProvider->latestGateway() : std::nullopt;
        post([this, gateway, stamp] { letTheTunnelRouteThrough(gateway, kDefaultRouteTries, stamp); });
        return;
    }
    if (type == VPNTypesOpenVPN) {
        post([this, stamp] { settleTunnelSettings(false, false, kDefaultRouteTries, stamp); });
        return;
    }
    if (type == VPNTypesIKEv2_StrongSwan) {
        // This road has no dial step, yet its tunnel carries IPv4 alone: IPv6
        // left on would go around it. Its DNS is the main window's to install.
        post([this, stamp] { settleTunnelSettings(false, true, kDefaultRouteTries, stamp); });
        return;
    }
    finishConnected();
}

VPNConnectionManager::TryStamp VPNConnectionManager::stampNow(const std::optional<ConnectionTicket>& reported) const {
    // The report's own try; a road that reports without one goes by the try in force.
    return TryStamp{attempt_, reported ? reported : env_.context.currentTry()};
}

bool VPNConnectionManager::replyStale(const TryStamp& stamp, const char* what) const {
    if (stamp.attempt != attempt_) {
        logLine(std::string("dropped: ") + what + " of an ended attempt");
        return true;
    }
    return staleTry(stamp.ticket, what);
}

ConnectionManagerHelper::StringBlock VPNConnectionManager::firstReplyOnly(ConnectionManagerHelper::StringBlock done) {
    return [done = std::move(done), answered = std::make_shared<bool>(false)](const std::string& reply) {
        if (*answered) {
            logLine("a second reply to one helper request is dropped");
            return;
        }
        *answered = true;
        done(reply);
    };
}

void VPNConnectionManager::letTheTunnelRouteThrough(const std::optional<std::string>& gateway, int triesLeft,
                                                    const TryStamp& stamp) {
    if (replyStale(stamp, "the default route's step")) return;
    std::weak_ptr<bool> alive = alive_;
    env_.helper.addDefaultGatewayForOpenVPN(gateway, firstReplyOnly([this, alive, gateway, triesLeft,
                                                                     stamp](const std::string& reply) {
        if (!alive.lock() || replyStale(stamp, "the default route's reply")) return;
        if (reply != HelperToolManager::kNo) {
            settleTunnelSettings(false, false, kDefaultRouteTries, stamp);
            return;
        }
        if (triesLeft > 1) {
            logLine("addDefaultGatewayForOpenVPN failed -- trying again");
            postAfter(kDefaultRouteRetryMs,
                      [this, gateway, triesLeft, stamp] { letTheTunnelRouteThrough(gateway, triesLeft - 1, stamp); });
            return;
        }
        logLine("addDefaultGatewayForOpenVPN failed -- the tunnel has no default route");
        failConnected();
    }));
}

void VPNConnectionManager::routeTheAdoptedTunnel(int triesLeft, std::uint64_t attempt) {
    const std::optional<std::string> gateway =
        OpenVPN_connectionProvider ? OpenVPN_connectionProvider->latestGateway() : std::nullopt;
    if (!gateway) {
        logLine("the tunnel taken over has no gateway on record: it ends");
        endAdoption(false);
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    env_.helper.addDefaultGatewayForOpenVPN(gateway, [this, alive, triesLeft, attempt](const std::string& reply) {
        if (!alive.lock() || attempt != attempt_ || !adoption_) return;
        if (reply != HelperToolManager::kNo) {
            finishConnected();
            endAdoption(true);
        } else if (triesLeft > 1) {
            postAfter(kDefaultRouteRetryMs, [this, triesLeft, attempt] { routeTheAdoptedTunnel(triesLeft - 1, attempt); });
        } else {
            logLine("addDefaultGatewayForOpenVPN failed -- the tunnel taken over ends");
            endAdoption(false);
        }
    });
}

void VPNConnectionManager::failConnected() {
    ++attempt_;
    connectionEstablishingInProgress_ = false;
    connectionInProgress_ = false;
    automaticModeDiscoveryInProgress_ = false;
    // A tunnel nothing can use is no connection: it goes, and the lock stays.
    if (currentProvider_) {
        currentProvider_->stopConnectionStatusUpdates();
        currentProvider_->disconnect([] {});
    }
    notifyError(LocaleData::vpn_connection_generic_error());
}

void VPNConnectionManager::finishConnected() {
    connectionEstablishingInProgress_ = false;
    // The connect is over: the next one (a reconnect after a network change)
    // must not find it still in progress and return at once.
    connectionInProgress_ = false;
    syncWithSystemConnectionStarted_ = false;
    if (automaticModeDiscoveryInProgress_) {
        if (currentProvider_ && currentProvider_->type()) preferedVPNProtocolForAutomaticMode_ = currentProvider_->type();
        automaticModeDiscoveryInProgress_ = false;
    }
    if (connectionTimerTickCallback) currentVPNConnection().tickUpdateCallback = connectionTimerTickCallback;
    post([this] { currentVPNConnection().restartTimer(); });
    post([this] {
        if (onConnectionEstablishedNotification) onConnectionEstablishedNotification();
        else establishedUnheard_ = true;
    });
}

void VPNConnectionManager::setConnectionTimerTickCallback(std::function<void(const std::string&)> tick) {
    connectionTimerTickCallback = std::move(tick);
    if (currentVPNConnection().isTimerValid()) currentVPNConnection().tickUpdateCallback = connectionTimerTickCallback;
}

bool VPNConnectionManager::accountRefused(const std::optional<std::string>& message, VPNTypes type) {
    if (!message) return false;
    if (type == VPNTypesOpenVPN) return *message == OpenVPNConstants::errorText(0);
    return type == VPNTypesIKEv2_StrongSwan && *message == IKEv2_StrongSwan_Connector::kClientAuthenticationFailed;
}

void VPNConnectionManager::handleDisconnected(std::int32_t status, const std::optional<std::string>& message,
                                              VPNTypes type, const std::optional<ConnectionTicket>& ticket) {
    ++attempt_;
    establishedUnheard_ = false;
    if (adoption_) {
        endAdoption(false);
        return;
    }
    if (syncWithSystemConnectionStarted_) {
        syncWithSystemConnectionStarted_ = false;
        return;
    }
    // The account's refusal is every protocol's: no other road changes it.
    const bool refusedAccount = accountRefused(message, type);
    if (automaticModeDiscoveryInProgress_ && !refusedAccount) {
        const bool noKernelSupport = status == VPNStatusCodes::disconnected && message && *message == "4" &&
                                     (type == VPNTypesL2TP || type == VPNTypesPPTP);
        const bool stepped = stepAutomaticOrder(status, type);
        if (noKernelSupport) leaveOutOfAutomaticOrder(type, "this machine has no kernel support for its link");
        if (stepped) return;
    }
    // Only an answer no other try can change ends the attempt: the account's,
    // or one of the protocol the user chose. Automatic's failed round is a
    // try like any other, paced, and the next round may get through.
    const bool mayRefuse = refusedAccount || selectedProtocol() != VPNTypesAutomatic;

    connectionEstablishingInProgress_ = false;
    connectionInProgress_ = false;
    if (message) {
        if (*message == "5") return;
        if (*message == "0") {
            postReport(ticket, "a down report", [this] { notifyDisconnected(false, false); });
            return;
        }
        if (type == VPNTypesIKEv2_StrongSwan && refusedAccount) {
            logLine("IKEv2's authentication was refused: no retry");
            postReport(ticket, "a refusal", [this] { notifyRefused(OpenVPNConstants::errorText(0)); });
            return;
        }
        if (type == VPNTypesIKEv2_StrongSwan && *message == IKEv2_StrongSwan_Connector::kServerAuthenticationFailed) {
            // The server's certificate is the same at every try of this
            // protocol; under Automatic another protocol's may be trusted.
            if (mayRefuse) {
                logLine("IKEv2's server was not trusted: no retry");
                postReport(ticket, "a refusal", [this, text = *message] { notifyRefused(text); });
            } else {
                postReport(ticket, "a down report", [this] { notifyDisconnected(false, false); });
            }
            return;
        }
        if (type == VPNTypesOpenVPN) {
            if (!onConnectionErrorNotification) return;
            // The account or the machine said no: another try gets the same answer.
            if (mayRefuse && OpenVPNConstants::isRefusalText(*message)) {
                logLine("openvpn's refusal: no retry");
                postReport(ticket, "a refusal", [this, text = *message] { notifyRefused(text); });
            } else {
                postReport(ticket, "an error", [this, text = *message] { notifyError(text); });
            }
            writeErrorLog(*message);
            return;
        }
        reportPPPFailure(*message, mayRefuse, ticket);
        return;
    }
    switch (type) {
        case VPNTypesIKEv2_StrongSwan:
        case VPNTypesOpenVPN:
            // Also during a reconnect: the life takes one end of a try once,
            // and without this word a try that ended stays "trying".
            postReport(ticket, "a down report", [this] { notifyDisconnected(false, false); });
            break;
        case VPNTypesIKEv2:
            if (!env_.context.autoReconnectInProgress())
                postReport(ticket, "a down report", [this] { notifyDisconnected(false, false); });
            break;
        default:
            break;
    }
}

void VPNConnectionManager::postReport(const std::optional<ConnectionTicket>& ticket, const char* what, Task task) {
    // Checked again when it runs: a Cancel or another try may have come between.
    post([this, ticket, what, task = std::move(task)] {
        if (staleTry(ticket, what)) return;
        task();
    });
}

void VPNConnectionManager::leaveOutOfAutomaticOrder(VPNTypes type, const std::string& why) {
    auto it = std::find_if(preferedConnectionProviders_.begin(), preferedConnectionProviders_.end(),
                           [type](const Provider& p) { return p && p->type() == type; });
    if (it == preferedConnectionProviders_.end()) return;
    logLine("Automatic leaves " + manager_log::protocolName(type) + " out: " + why);
    std::erase(automaticRound_, *it);
    preferedConnectionProviders_.erase(it);
}

// True when the search took the report (waited, ignored it or moved on).
bool VPNConnectionManager::stepAutomaticOrder(std::int32_t status, VPNTypes type) {
    if (status == VPNStatusCodes::disconnecting) return true;
    if (!currentProvider_) return false;
    if (currentProvider_->type() != type) return true;  // a late report of an earlier attempt
    // Every protocol of the order gets its try: a road that got no answer
    // hands over to the next, and the last one's end is the try's end.
    Provider old = currentProvider_;
    if (!nextProviderForAutomaticMode()) return false;
    if (!currentVPNConfig_) return true;
    post([this, old, ticket = ticket_] {
        if (staleTry(ticket, "Automatic's next protocol")) return;
        // openvpn's end is reported before it has taken its routes away.
        if (isType(old, VPNTypesOpenVPN)) terminatePreviousOpenVPNProcesses();
        stopStatusUpdates(old);
        deleteExistingVPNService();
        connectionEstablishingInProgress_ = true;
        // The road before has ended: its connect holds nothing back.
        connectionInProgress_ = false;
        if (currentVPNConfig_) connect(*currentVPNConfig_);
    });
    return true;
}

VPNConnectionManager::Provider VPNConnectionManager::firstProviderForAutomaticMode() {
    automaticModeDiscoveryInProgress_ = true;
    const auto& round = automaticRound_.empty() ? preferedConnectionProviders_ : automaticRound_;
    return round.empty() ? nullptr : round.front();
}

bool VPNConnectionManager::nextProviderForAutomaticMode() {
    const auto& round = automaticRound_.empty() ? preferedConnectionProviders_ : automaticRound_;
    auto it = std::find(round.begin(), round.end(), currentProvider_);
    if (it == round.end() || std::next(it) == round.end()) return false;
    currentProvider_ = *std::next(it);
    return true;
}

std::string VPNConnectionManager::pppErrorKey(const std::string& lastCause) {
    auto in = [&](std::initializer_list<const char*> causes) {
        return std::any_of(causes.begin(), causes.end(), [&](const char* c) { return lastCause == c; });
    };
    const char* group = "1";
    if (lastCause == "19") group = "4";
    else if (in({"1", "8", "10", "17"})) group = "3";
    else if (in({"2", "3", "4", "11", "13", "20"})) group = "2";
    return std::string("vpn_ppp_error_new_") + group;
}

void VPNConnectionManager::reportPPPFailure(const std::string& message, bool mayRefuse,
                                            const std::optional<ConnectionTicket>& ticket) {
    if (!onConnectionErrorNotification) return;
    // pppd's own refusals (2: bad options, 3: not root, 4: no kernel
    // support, the helper's answer where L2TP lacks ESP): no retry of this
    // protocol can help.
    if (mayRefuse && (message == "2" || message == "3" || message == "4")) {
        logLine("the system refused the PPP link (cause " + message + "): no retry");
        postReport(ticket, "a refusal", [this] { notifyRefused(LocaleData::vpn_ppp_error_new_4()); });
        sendPPPLogErrorReport(LocaleData::text(pppErrorKey(message)).value_or(message));
        return;
    }
    // The user sees the generic text; the report carries the cause.
    if (auto cause = LocaleData::text(pppErrorKey(message))) {
        postReport(ticket, "an error", [this] { notifyError(LocaleData::vpn_connection_generic_error()); });
        sendPPPLogErrorReport(*cause);
        return;
    }
    const std::string text = LocaleData::vpn_connection_generic_error() + " " + message;
    postReport(ticket, "an error", [this, text] { notifyError(text); });
    sendPPPLogErrorReport(text);
}

void VPNConnectionManager::notifyDisconnected(bool forceDisconnect, bool skipUnsecuredWiFiFlagClear) {
    if (!onDisconnectedStateNotification) {
        log::error(manager_log::kCategory, "onDisconnectedStateNotification is not installed");
        return;
    }
    onDisconnectedStateNotification(forceDisconnect, skipUnsecuredWiFiFlagClear);
}

void VPNConnectionManager::notifyRefused(const std::string& text) {
    if (!onConnectionRefusedNotification) {
        notifyError(text);
        return;
    }
    onConnectionRefusedNotification(text);
}

void VPNConnectionManager::notifyError(const std::string& text) {
    if (!onConnectionErrorNotification) {
        log::error(manager_log::kCategory, "onConnectionErrorNotification is not installed");
        return;
    }
    onConnectionErrorNotification(text);
}

}  // namespace hw
