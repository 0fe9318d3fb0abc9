#include "connection/vpn_connection_manager.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "connection/vpn_connection_manager_log.h"
#include "platform/paths.h"
#include "texts/locale_data.h"

namespace hw {

using manager_log::logLine;

VPNConnectionManager::VPNConnectionManager(VPNConnectionManagerEnvironment environment,
                                           VPNConnectionManagerProviders providers)
    : L2TP_connectionProvider(std::move(providers.L2TP)),
      PPTP_connectionProvider(std::move(providers.PPTP)),
      OpenVPN_connectionProvider(std::move(providers.OpenVPN)),
      IKEv2_StrongSwan_connectionProvider(std::move(providers.IKEv2_StrongSwan)),
      env_(std::move(environment)) {
    for (const auto& p : {IKEv2_StrongSwan_connectionProvider, OpenVPN_connectionProvider, L2TP_connectionProvider}) {
        if (!p) continue;
        // A road this machine cannot build would end every round in its
        // refusal: Automatic goes without it.
        const auto why = env_.cannotBuild && p->type() ? env_.cannotBuild(*p->type()) : std::nullopt;
        if (why) logLine("Automatic leaves " + manager_log::protocolName(*p->type()) + " out: " + *why);
        else preferedConnectionProviders_.push_back(p);
    }
    life_ = std::make_unique<ConnectionLifeHost>(env_.mainQueue, env_.context, [this] { cleanUpSession(true); });
    life_->setProtocolInForce([this] { return currentProvider_ ? currentProvider_->type() : std::nullopt; });
    life_->setDiscoveryInProgress([this] { return automaticModeDiscoveryInProgress_; });
    life_->setLockEngaged([this] { return lockEngaged_; });
    env_.context.attachLife(life_.get());
    env_.helper.setTeardownCarriedOut([this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock()) helperCarriedOutTeardown();
    });
}

VPNConnectionManager::~VPNConnectionManager() {
    *alive_ = false;
    env_.context.attachLife(nullptr);
    for (const auto& p : {L2TP_connectionProvider, PPTP_connectionProvider, OpenVPN_connectionProvider,
                          IKEv2_StrongSwan_connectionProvider}) {
        if (p) p->stopConnectionStatusUpdates();
    }
}

void VPNConnectionManager::post(Task task) {
    std::weak_ptr<bool> alive = alive_;
    env_.mainQueue.post([alive, task = std::move(task)] {
        if (alive.lock()) task();
    });
}

void VPNConnectionManager::postAfter(double ms, Task task) {
    std::weak_ptr<bool> alive = alive_;
    env_.mainQueue.postAfter(ms, [alive, task = std::move(task)] {
        if (alive.lock()) task();
    });
}

bool VPNConnectionManager::isType(const Provider& provider, VPNTypes type) const {
    return provider && provider->type() == type;
}

VPNConnection& VPNConnectionManager::currentVPNConnection() {
    if (!vpnConnection_) vpnConnection_ = std::make_unique<VPNConnection>(env_.mainQueue, env_.clock);
    return *vpnConnection_;
}

// --- start-up and provider choice ---

void VPNConnectionManager::prepareConnectionManager() {
    if (prepared_) return;
    prepared_ = true;
    updateCurrentProvider();
    std::weak_ptr<bool> alive = alive_;
    env_.context.addVPNProtocolUpdatedObserver([this, alive] {
        if (alive.lock()) onVPNProtocolChanged();
    });
    syncWithSystemConnection();
}

void VPNConnectionManager::prepareAfterDataLoaded() { prepareConnectionManager(); }

void VPNConnectionManager::onVPNProtocolChanged() {
    // A protocol the user picked ends Automatic's search.
    if (selectedProtocol() != VPNTypesAutomatic) automaticModeDiscoveryInProgress_ = false;
    if (currentProvider_ && currentProvider_ == OpenVPN_connectionProvider) terminatePreviousOpenVPNProcesses();
    updateCurrentProvider();
}

void VPNConnectionManager::updateCurrentProvider() { currentProvider_ = providerForType(selectedProtocol()); }

void VPNConnectionManager::beginUserConnect() {
    if (selectedProtocol() != VPNTypesAutomatic) return;
    // The road that last connected goes first; the rest of the order follows
    // it in the same round, so a winner that stopped working is no dead end.
    // Only a road that connected is a winner, never the last of a failed round.
    automaticRound_ = preferedConnectionProviders_;
    const auto winner = std::find_if(automaticRound_.begin(), automaticRound_.end(), [this](const Provider& p) {
        return p && preferedVPNProtocolForAutomaticMode_ && p->type() == preferedVPNProtocolForAutomaticMode_;
    });
    if (winner != automaticRound_.end()) std::rotate(automaticRound_.begin(), winner, std::next(winner));
    Provider first = firstProviderForAutomaticMode();
    if (currentProvider_ && currentProvider_ != first) {
        currentProvider_->stopConnectionStatusUpdates();
        // The round starts again after openvpn's try: its process may still hold the routes.
        if (isType(currentProvider_, VPNTypesOpenVPN)) terminatePreviousOpenVPNProcesses();
    }
    currentProvider_ = first;
}

void VPNConnectionManager::forgetAccountAttempt() {
    // The next account starts afresh: no road, server or flag of this one,
    // and no attempt, window or not.
    life_->signOut();
    if (currentProvider_) currentProvider_->stopConnectionStatusUpdates();
    currentVPNConfig_.reset();
    preferedVPNProtocolForAutomaticMode_.reset();
    automaticRound_.clear();
    automaticModeDiscoveryInProgress_ = false;
    connectionInProgress_ = false;
    connectionEstablishingInProgress_ = false;
    startedAddVPNServerStaticRoute_ = false;
    updateCurrentProvider();
}

VPNConnectionManager::Provider VPNConnectionManager::providerForType(VPNTypes type) {
    switch (type) {
        case VPNTypesAutomatic: return firstProviderForAutomaticMode();
        case VPNTypesOpenVPN: return OpenVPN_connectionProvider;
        case VPNTypesL2TP: return L2TP_connectionProvider;
        case VPNTypesPPTP: return PPTP_connectionProvider;
        case VPNTypesIKEv2: logLine("IKEv2 protocol is only supported in AppStore version"); return nullptr;
        case VPNTypesIKEv2_StrongSwan: return IKEv2_StrongSwan_connectionProvider;
    }
    return nullptr;
}

bool VPNConnectionManager::isHelperToolInstalled() {
    return env_.helper.isHeloperToolAlreadyInstalled(env_.context.helperToolCurrentVersion(),
                                                     env_.context.perfromHelperToolStoredVersionCheck());
}

void VPNConnectionManager::checkAndInstallHelperToolIfRequired(std::function<void()> onSucceed) {
    if (isHelperToolInstalled()) {
        logLine("isHeloperToolAlreadyInstalled == true");
        logLine("HeloperToolAlreadyInstalled -- proceeding");
        if (onSucceed) onSucceed();
        return;
    }
    logLine("HeloperTool NOT Installed! -- proceeding");
    logLine("HeloperTool NOT Installed! -- proceeding");
    std::weak_ptr<bool> alive = alive_;
    // The installation answers the try that asked for it, whichever runs by then.
    const auto ticket = env_.context.currentTry();
    env_.helper.installAction([this, alive, ticket, onSucceed = std::move(onSucceed)](
                                  bool succeeded, bool refused, int errorCode, const std::string& version) {
        if (!alive.lock()) return;
        logLine(std::string("installAction finished RESULT: ") + (succeeded ? "true" : "false"));
        if (succeeded) {
            logLine("installAction finished RESULT: succeed");
            helperToolInstallFailed_ = false;
            logLine("installAction before onSucceed()");
            env_.helper.disableIPV6({});
            // The new helper settles for a second; the main thread is not held meanwhile.
            postAfter(1000, [this, ticket, onSucceed, version] {
                env_.context.setHelperToolCurrentVersion(version);
                // A teardown's call asked for no try; a try's goes on only while it runs.
                if (ticket && staleTry(ticket, "the installation's answer")) return;
                if (onSucceed) onSucceed();
            });
            return;
        }
        logLine("HelperTool install failed -- error: " + std::to_string(errorCode));
        helperToolInstallFailed_ = true;
        const std::string& info = refused ? LocaleData::helper_tool_install_error_user_canceled_permissions_popup_text()
                                          : LocaleData::helper_tool_install_error_restart_popup_text();
        if (ticket && !staleTry(ticket, "the installation's answer")) endTryWithoutHelper();
        // The sheet tells why; the attempt has ended already, whatever it answers.
        env_.context.showHelperInstallAlert(LocaleData::helper_tool_install_error_popup_header(), info, [](int) {});
    });
}

void VPNConnectionManager::endTryWithoutHelper() {
    // No try can run without the helper: the attempt ends, lock or not. A
    // lock asked for and never engaged holds nothing; what the try had the
    // helper add for it (the server's host route) goes with its release.
    if (!lockEngaged_ && env_.context.networkLockActivated()) {
        logLine("the installation failed before the lock was engaged: what the try added is removed");
        env_.context.setNetworkLockActivated(false);
        disableNetworkLock();
    }
    connectionInProgress_ = false;
    connectionEstablishingInProgress_ = false;
    notifyDisconnected(true, false);
}

void VPNConnectionManager::syncWithSystemConnection() {
    syncWithSystemConnectionStarted_ = true;
    const VPNTypes protocol = selectedProtocol();
    if (protocol != VPNTypesAutomatic) {
        if (protocol != VPNTypesIKEv2) subscribeToStatusUpdates(false);
        return;
    }
    const std::int32_t existing = existingSystemConnectionType();
    if (existing == VPNStatusCodes::invalid) return;
    if (existing == VPNTypesL2TP && L2TP_connectionProvider) {
        preferedVPNProtocolForAutomaticMode_ = VPNTypesL2TP;
        automaticModeDiscoveryInProgress_ = false;
        currentProvider_ = L2TP_connectionProvider;
    }
    subscribeToStatusUpdates(false);
}

std::int32_t VPNConnectionManager::existingSystemConnectionType() {
    if (!L2TP_connectionProvider) return VPNStatusCodes::invalid;
    return L2TP_connectionProvider->getExistingVPNConnectionProtocolType(connectionName());
}

void VPNConnectionManager::subscribeToStatusUpdates(bool skipCurrentStatusNotification) {
    // Providers are main-thread objects: the subscription is made on a later
    // turn of the main queue, with the provider current now.
    Provider provider = currentProvider_;
    if (!provider) {
        logLine("subscribeToStatusUpdates -- no current provider");
        return;
    }
    post([this, provider, skipCurrentStatusNotification] { subscribeNow(provider, skipCurrentStatusNotification); });
}

void VPNConnectionManager::subscribeNow(const Provider& provider, bool skipCurrentStatusNotification) {
    std::weak_ptr<bool> alive = alive_;
    // Every report of this subscription names the try it was made for.
    provider->retrieveConnectionAndSubscribeToStatusUpdates(
        connectionName(),
        [this, alive, ticket = ticket_](std::int32_t status, const std::optional<std::string>& message,
                                        VPNTypes type) {
            if (alive.lock()) handleStatusChange(status, message, type, ticket);
        },
        skipCurrentStatusNotification);
}

// --- the connect road ---

void VPNConnectionManager::connect(const ManagerServerConfig& config) {
    logLine("VPNManager -- connect() started.");
    if (connectionInitiateCanceled()) return;
    ++attempt_;
    const auto ticket = env_.context.currentTry();
    // The life starts a try only after the one before ended: whatever that
    // one left in progress holds nothing back (Automatic's next road, too).
    if (ticket != ticket_) connectionInProgress_ = false;
    ticket_ = ticket;
    establishedUnheard_ = false;
    syncWithSystemConnectionStarted_ = false;
    currentVPNConfig_ = config;
    if (!currentProvider_) {
        // Protocol 4, or a manager never prepared: nothing can carry the tunnel.
        logLine("connect() -- no provider for the selected protocol");
        connectionInProgress_ = false;
        connectionEstablishingInProgress_ = false;
        // No try can run here: the attempt ends in its error, lock or not.
        post([this] { notifyRefused(LocaleData::vpn_connection_generic_error()); });
        return;
    }
    currentProvider_->stopConnectionStatusUpdates();
    if (isType(currentProvider_, VPNTypesIKEv2)) {
        currentProvider_->prepare(config, [this, alive = std::weak_ptr<bool>(alive_)] {
            if (!alive.lock()) return;
            logLine("onAboutToStartConnection() through IKEv2");
            subscribeToStatusUpdates(true);
        });
        return;
    }
    logLine("before checkAndInstallHelperToolIfRequired()");
    // strongSwan's road reaches the helper on a connection of its own, whose
    // failure would read as a dropped try: the installed helper is asked first.
    const bool ask = isType(currentProvider_, VPNTypesIKEv2_StrongSwan);
    whenHelperAnswers([this, config, ask] {
        checkAndInstallHelperToolIfRequired([this, config, ask] {
            if (!ask) {
                continueConnectAfterHelperCheck(config);
                return;
            }
            whenHelperAnswers([this, config] { continueConnectAfterHelperCheck(config); }, {}, true);
        });
    });
}

void VPNConnectionManager::whenHelperAnswers(Task next, Task gone, bool ask) {
    const bool knownGone = env_.helper.helperDied();
    if (!knownGone && !ask) {
        next();
        return;
    }
    // Its death was told once, when nothing may have run: each try asks
    // again, or a dead helper would fail every try of the attempt in turn.
    if (knownGone) logLine("the helper was gone: is it back?");
    helperLossTold_ = false;
    std::weak_ptr<bool> alive = alive_;
    env_.helper.networkLockState([this, alive, ask, knownGone, stamp = stampNow(std::nullopt), next = std::move(next),
                                  gone = std::move(gone)](std::optional<bool> answered) {
        if (!alive.lock() || replyStale(stamp, "the helper's answer")) return;
        // The client notes the helper's reach before it answers.
        if (answered || (!ask && !env_.helper.helperDied())) {
            if (knownGone) logLine("the helper answers again");
            next();
            return;
        }
        logLine("the helper cannot be reached: the try cannot start");
        connectionInProgress_ = false;
        connectionEstablishingInProgress_ = false;
        // The client may have told of its death on this same answer: said once.
        if (!std::exchange(helperLossTold_, true)) life_->helperLost(LocaleData::helper_unreachable_error(), false);
        if (gone) gone();
    });
}

void VPNConnectionManager::continueConnectAfterHelperCheck(const ManagerServerConfig& config) {
    logLine("right after checkAndInstallHelperToolIfRequired");
    if (connectionInProgress_) {
        logLine("Connection created callback executed");
        return;
    }
    if (!currentProvider_ || !currentProvider_->type()) {
        logLine("connect() -- the current provider went away");
        post([this] { notifyDisconnected(false, false); });
        return;
    }
    connectionInProgress_ = true;
    logLine("right before vpnConfigForConnector = ...");
    ManagerServiceConfig service = vpnConfigForConnector(config);
    logLine("self.helperToolManager.createVPNConnection");
    if (isType(currentProvider_, VPNTypesIKEv2_StrongSwan)) {
        service.endpoint = config.dnsPrefix + "." + env_.context.vpnServersDomainSuffix();
        service.description.endpointIPAddress = config.vpnServerIPAddress;
        whenOpenVPNIsGone([this, service, attempt = attempt_, ticket = ticket_, provider = currentProvider_] {
            if (provider != currentProvider_ || dialEnded(attempt, ticket)) return;
            // A start that fails at once reports before the success callback
            // would subscribe: listen from the start.
            subscribeNow(currentProvider_, true);
            std::weak_ptr<bool> alive = alive_;
            currentProvider_->connect(service, [this, alive] {
                if (!alive.lock()) return;
                logLine("onConnectionPrepared() through IKEv2 StrongSwan");
                subscribeToStatusUpdates(true);
            });
        });
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    env_.helper.createVPNConnection(service.description, [this, alive, ticket = ticket_](bool created) {
        if (alive.lock()) onConnectionCreated(created, ticket);
    });
}

void VPNConnectionManager::onConnectionCreated(bool created, std::optional<ConnectionTicket> ticket) {
    logLine("Connection created callback executed");
    if (connectionInitiateCanceled() || staleTry(ticket, "the helper's creation reply")) {
        logLine("self.connectionInitiateCanceled 1");
        connectionInProgress_ = false;
        // An openvpn started for a try that is over would wait for its
        // credentials for good. Only with no try in force: one that runs
        // has asked the helper for its own, which ends this one.
        if (created && isType(currentProvider_, VPNTypesOpenVPN) && !env_.context.currentTry())
            terminatePreviousOpenVPNProcesses();
        return;
    }
    if (!created) {
        logLine("Connection created callback -- the helper created nothing");
        const VPNTypes type = currentProvider_ && currentProvider_->type() ? *currentProvider_->type() : VPNTypesAutomatic;
        // The automatic order moves on to its next road; otherwise the
        // refusal ends this attempt as its error, never in silence.
        if (automaticModeDiscoveryInProgress_ && stepAutomaticOrder(VPNStatusCodes::disconnected, type)) return;
        connectionEstablishingInProgress_ = false;
        connectionInProgress_ = false;
        // The helper's refusal ends the attempt in its error where the user
        // chose this protocol; Automatic's round ends as a failed try, paced.
        if (selectedProtocol() == VPNTypesAutomatic)
            postReport(ticket, "an error", [this] { notifyError(LocaleData::vpn_connection_generic_error()); });
        else
            postReport(ticket, "a refusal", [this] { notifyRefused(LocaleData::vpn_connection_generic_error()); });
        return;
    }
    const std::uint64_t attempt = attempt_;
    std::weak_ptr<bool> alive = alive_;
    // openvpn is dialled as soon as its provider is ready; the other roads
    // settle for a second.
    auto ready = [this, alive, attempt, ticket](bool answered) {
        if (!alive.lock()) return;
        logLine(answered ? "the tunnel process answered" : "the tunnel process did not answer");
        dialAfterCreation(attempt, ticket);
    };
    const bool waits = currentProvider_ && currentProvider_->whenReadyToDial(std::move(ready));
    if (!waits) postAfter(1000, [this, attempt, ticket] { dialAfterCreation(attempt, ticket); });
}

void VPNConnectionManager::dialAfterCreation(std::uint64_t attempt, const std::optional<ConnectionTicket>& ticket) {
    if (connectionInitiateCanceled()) {
        logLine("self.connectionInitiateCanceled 2");
        return;
    }
    if (dialEnded(attempt, ticket)) return;
    subscribeToStatusUpdates(true);
    logLine("before startDialConnection");
    post([this, attempt, ticket] { startDialConnection(attempt, ticket); });
}

bool VPNConnectionManager::staleTry(const std::optional<ConnectionTicket>& ticket, const char* what) const {
    if (ticket && ticket->attempt == 0) {
        // A tunnel taken over names its own: current while the life holds it.
        const ConnectionLife& life = life_->life();
        if (life.origin() == ConnectionLife::Origin::takeOver && life.currentTry()) return false;
        logLine(std::string("dropped: ") + what + " of a tunnel taken over that the life no longer holds");
        return true;
    }
    if (ticket) return !env_.context.isCurrentTry(*ticket, what);
    // Fail closed: what no try asked for acts for none (a take-over names its own).
    logLine(std::string("dropped: ") + what + " of no try");
    return true;
}

bool VPNConnectionManager::dialEnded(std::uint64_t attempt, const std::optional<ConnectionTicket>& ticket) {
    if (attempt == attempt_ && !staleTry(ticket, "the dial")) return false;
    // Its try ended (or another began) meanwhile: it never dials, and it
    // leaves nothing that would hold the next connect back.
    logLine("a dial of an ended try is dropped");
    connectionInProgress_ = false;
    return true;
}

void VPNConnectionManager::startDialConnection(std::uint64_t attempt, std::optional<ConnectionTicket> ticket) {
    env_.helper.disableIPV6({});
    // openvpn is dialled once its management interface answered: a fixed
    // wait would only add to the click-to-connected time.
    const bool settles = !isType(currentProvider_, VPNTypesOpenVPN);
    logLine(settles ? "before startDialConnection -- dispatch(after: 50)" : "before startDialConnection");
    auto dial = [this, attempt, ticket] {
        if (connectionInitiateCanceled()) {
            logLine("self.connectionInitiateCanceled 3");
            return;
        }
        if (dialEnded(attempt, ticket)) return;
        if (!currentProvider_) {
            logLine("startDialConnection -- no current provider");
            connectionInProgress_ = false;
            return;
        }
        std::weak_ptr<bool> alive = alive_;
        currentProvider_->startDial([this, alive] {
            if (!alive.lock()) return;
            logLine("startDialCurrentConnection finished.");
            connectionInProgress_ = false;
        });
    };
    // openvpn waits for its credentials meanwhile: no further turn of a
    // main queue that the window's drawing keeps busy.
    if (settles) postAfter(50, std::move(dial));
    else dial();
}

ManagerServiceConfig VPNConnectionManager::vpnConfigForConnector(const ManagerServerConfig& config) {
    ManagerServiceConfig service;
    auto& d = service.description;
    d.type = currentProvider_ && currentProvider_->type() ? static_cast<std::int64_t>(*currentProvider_->type()) : 0;
    d.name = config.connectionName;
    d.sharedSecret = config.l2tpSharedKey;
    d.endpointPrefix = config.dnsPrefix + ".";
    d.endpointSuffix = config.domainSuffix;
    d.endpointIPAddress = config.vpnServerIPAddress;
    d.username = config.username;
    d.password = config.password;
    if (env_.openVPNParameters) d.openVPNParameters = env_.openVPNParameters();
    // Only openvpn reads the file.
    if (config.ovpnConfig && isType(currentProvider_, VPNTypesOpenVPN)) writeOpenVPNConfig(*config.ovpnConfig);
    return service;
}

void VPNConnectionManager::writeOpenVPNConfig(const std::string& text) {
    if (env_.openVPNConfigFilePath.empty()) return;
    // Unchanged since the last connect: nothing to write.
    std::string current;
    if (paths::readFile(env_.openVPNConfigFilePath, current, text.size() + 1) == paths::ReadStatus::Ok &&
        current == text)
        return;
    // The configuration may carry credentials: private, and never half-written.
    if (!writeString(text, env_.openVPNConfigFilePath)) logLine("writeOpenVPNConfig -- the write failed");
}

bool VPNConnectionManager::writeString(const std::string& text, const std::string& path) {
    std::string error;
    return paths::writeFileAtomically(path, text, 0600, &error);
}

}  // namespace hw
