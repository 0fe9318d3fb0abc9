#include <algorithm>
#include <utility>

#include "connection/vpn_connection_manager.h"
#include "connection/vpn_connection_manager_log.h"
#include "platform/ip_address.h"
#include "services/helper_tool/helper_tool_manager.h"
#include "texts/locale_data.h"

namespace hw {

using manager_log::logLine;

namespace {
std::string trimLineBreaks(const std::string& text) {
    auto isBreak = [](char c) { return c == '\n' || c == '\r'; };
    std::size_t begin = 0, end = text.size();
    while (begin < end && isBreak(text[begin])) ++begin;
    while (end > begin && isBreak(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}
}  // namespace

// --- kill switch, routes and DNS ---

void VPNConnectionManager::enableNetworkLock(std::function<void(const std::string&)> onFinished) {
    engageNetworkLock([onFinished = std::move(onFinished)](const std::string& gateway, bool) {
        if (onFinished) onFinished(gateway);
    });
}

void VPNConnectionManager::engageNetworkLock(std::function<void(const std::string& gateway, bool engaged)> onFinished) {
    logLine("enableNetworkLock before checkAndInstallHelperToolIfRequired()");
    std::weak_ptr<bool> alive = alive_;
    checkAndInstallHelperToolIfRequired([this, alive, onFinished = std::move(onFinished)] {
        logLine("enableNetworkLock before checkAndInstallHelperToolIfRequired() -- success");
        env_.helper.enableNetworkLock(lockResolvers_, [this, alive, onFinished, lock = lockRelease_](
                                                          const std::string& reply, bool engaged) {
            if (!alive.lock()) return;
            logLine("self.helperToolManager.enableNetworkLock");
            noteLockAnswer(engaged, lock);
            if (!engaged) logLine("enableNetworkLock -- the kill switch is not engaged");
            if (reply != HelperToolManager::kNo) {
                logLine("previousDefaultGateway != nil");
                const std::string gateway = trimLineBreaks(reply);
                if (!gateway.empty()) env_.context.setPreviousDefaultGatewayValue(gateway);
            }
            const std::string stored = env_.context.previousDefaultGatewayValue();
            logLine("before onFinished?(" + stored + ")");
            if (onFinished) onFinished(stored, engaged);
        });
    });
}

bool VPNConnectionManager::enableNetworkLock(const std::string& serverHost,
                                             const std::optional<std::string>& previousGateway,
                                             const std::string& dns1, const std::string& dns2,
                                             std::function<void(const std::string&)> completion) {
    if (!env_.context.useNetworkLock()) return false;
    if (env_.helper.helperDied()) {
        // The lock, the route and the lookup under it are the helper's.
        whenHelperAnswers(
            [this, serverHost, previousGateway, dns1, dns2, completion] {
                if (!enableNetworkLock(serverHost, previousGateway, dns1, dns2, completion) && completion)
                    completion(HelperToolManager::kNo);
            },
            [completion] {
                if (completion) completion(HelperToolManager::kNo);
            });
        return true;
    }
    std::weak_ptr<bool> alive = alive_;
    // The resolvers this road uses: the lock lets them through, so that a
    // later try resolves under it.
    std::vector<std::string> servers;
    for (const auto& s : {dns1, dns2}) {
        if (!s.empty() && std::find(servers.begin(), servers.end(), s) == servers.end()) servers.push_back(s);
    }
    if (!servers.empty()) lockResolvers_ = servers;
    auto afterResolve = [this, alive, serverHost, previousGateway, completion](std::optional<std::string> address) {
        if (!alive.lock()) return;
        if (connectionInitiateCanceled()) {
            // The user cancelled meanwhile: no lock comes back for this attempt.
            logLine("enableNetworkLock -- the attempt was cancelled: the lock is not engaged for it");
            if (completion) completion(HelperToolManager::kNo);
            return;
        }
        if (!address || address->empty()) {
            log::warning(manager_log::kCategory, "enableNetworkLock -- the lookup of " + serverHost + " failed");
            if (completion) completion(HelperToolManager::kNo);
            return;
        }
        const std::string resolved = *address;
        // Before the first lock the way out is not known here yet: the helper
        // then takes the one in force.
        const auto gateway = previousGateway && !previousGateway->empty() ? previousGateway : std::nullopt;
        env_.helper.staticRouteAddingProcessing(resolved, gateway, [this, alive, resolved, completion](const std::string&) {
            if (!alive.lock()) return;
            if (connectionInitiateCanceled()) {
                logLine("enableNetworkLock -- the attempt was cancelled: the lock is not engaged for it");
                if (completion) completion(HelperToolManager::kNo);
                return;
            }
            engageNetworkLock([resolved, completion](const std::string&, bool engaged) {
                // An address handed back is a promise that the lock holds:
                // the caller connects through it.
                if (!engaged) log::warning(manager_log::kCategory, "enableNetworkLock -- no lock for " + resolved);
                if (completion) completion(engaged ? resolved : std::string(HelperToolManager::kNo));
            });
        });
    };
    auto resolve = [this, serverHost, servers, afterResolve] {
        if (lockEngaged_ && !isIPv4Address(serverHost)) {
            // The lock lets no lookup of ours out: the helper's goes.
            env_.helper.resolveVPNServerHost(serverHost, servers, [afterResolve](const std::string& reply) {
                afterResolve(reply == HelperToolManager::kNo ? std::nullopt : std::optional<std::string>(reply));
            });
        } else if (isIPv4Address(serverHost) || !env_.resolver) {
            afterResolve(isIPv4Address(serverHost) ? std::optional<std::string>(serverHost) : std::nullopt);
        } else {
            env_.resolver->resolve(serverHost, servers, afterResolve);
        }
    };
    if (lockEngaged_ && !servers.empty() && !isIPv4Address(serverHost)) {
        // The lock holds already (an earlier try's): it lets the resolvers
        // through first, or the lookup meets it and fails at once.
        logLine("enableNetworkLock -- the lock holds: the resolvers are let through before the lookup");
        env_.helper.enableNetworkLock(servers, [this, alive, resolve, lock = lockRelease_](const std::string&, bool engaged) {
            if (!alive.lock()) return;
            noteLockAnswer(engaged, lock);
            resolve();
        });
    } else {
        resolve();
    }
    return true;
}

void VPNConnectionManager::noteLockAnswer(bool engaged, std::uint64_t release) {
    // The helper takes one connection's requests in order: an answer to an
    // engagement asked before a release is not the lock in place now.
    if (release != lockRelease_) {
        logLine("dropped: the lock's answer to an engagement asked before its release");
        return;
    }
    lockEngaged_ = engaged;
}

void VPNConnectionManager::reapplyNetworkLock(std::function<void()> onError) {
    // The gateway answered now is the locked one: the stored one is kept.
    std::weak_ptr<bool> alive = alive_;
    // With no default route the lock is engaged all the same and answers
    // "NO"; only a lock that is not engaged is an error.
    env_.helper.enableNetworkLock(lockResolvers_, [this, alive, onError = std::move(onError),
                                                   lock = lockRelease_](const std::string&, bool engaged) {
        if (!alive.lock()) return;
        noteLockAnswer(engaged, lock);
        if (!engaged && onError) onError();
    });
}

void VPNConnectionManager::disableNetworkLock() {
    // Any helper that runs can lift its lock, whatever its version; none is
    // installed just for that.
    if (!env_.helper.isHelperToolPresent()) return;
    lockEngaged_ = false;
    ++lockRelease_;
    lockWayOutSeen_.reset();
    const std::string gateway = env_.context.previousDefaultGatewayValue();
    std::weak_ptr<bool> alive = alive_;
    env_.helper.disableNetworkLock(gateway.empty() ? std::nullopt : std::optional<std::string>(gateway),
                                   [this, alive](const std::string& reply) {
                                       if (!alive.lock() || reply != "NO") return;
                                       logLine("the lock is lifted, but no default route leads out");
                                       if (onNoWayOutAfterReleaseNotification) onNoWayOutAfterReleaseNotification();
                                   });
}

void VPNConnectionManager::keepNetworkLockLeftFromEarlierRun() {
    if (!env_.helper.isHelperToolPresent()) return;
    std::weak_ptr<bool> alive = alive_;
    env_.helper.networkLockState([this, alive, lock = lockRelease_](std::optional<bool> engaged) {
        if (!alive.lock() || engaged != true || !env_.context.useNetworkLock() || lock != lockRelease_) return;
        // Lifting it here would let traffic out with no tunnel and no one
        // having asked for that.
        logLine("a network lock left from an earlier run is kept");
        lockEngaged_ = true;
        env_.context.setNetworkLockActivated(true);
    });
}

void VPNConnectionManager::liftNetworkLockLeftFromEarlierRun(std::function<void()> lifted) {
    // The run that crashed set DNS and IPv6 for a tunnel that is gone; with
    // no helper, nothing can be lifted and the caller goes on as after it.
    restoreDNSToOriginal(false, false);
    env_.helper.reEnableIPV6();
    disableNetworkLock();
    // The helper takes one connection's requests in order: this answer comes
    // once the release is done, so what follows is not sent into the lock.
    std::weak_ptr<bool> alive = alive_;
    env_.helper.networkLockState([alive, lifted = std::move(lifted)](std::optional<bool>) {
        if (alive.lock() && lifted) lifted();
    });
}

void VPNConnectionManager::staticRouteAddingProcessing(
    const std::string& serverAddress, const std::string& gateway,
    std::function<void(const std::optional<std::string>&)> completion) {
    env_.helper.staticRouteAddingProcessing(serverAddress, gateway,
                                            [completion = std::move(completion)](const std::string& reply) {
                                                if (completion) completion(reply);
                                            });
}

void VPNConnectionManager::addVPNServerStaticRoute(const std::string& serverAddress,
                                                   const std::optional<std::string>& gateway,
                                                   std::function<void(const std::optional<std::string>&)> completion) {
    startedAddVPNServerStaticRoute_ = true;
    std::weak_ptr<bool> alive = alive_;
    env_.helper.staticRouteAddingProcessing(
        serverAddress, gateway, [this, alive, completion = std::move(completion)](const std::string& reply) {
            if (!alive.lock()) return;
            startedAddVPNServerStaticRoute_ = false;
            if (completion) completion(reply);
        });
}

void VPNConnectionManager::installDNSForVPN() { env_.helper.install_DNS_for_VPN(false, {}, {}); }

void VPNConnectionManager::restoreDNSToOriginal(bool forOpenVPN, bool skipFallback) {
    env_.helper.restore_DNS_to_original(forOpenVPN, skipFallback);
}

void VPNConnectionManager::closeHelperTool() { env_.helper.closeHelperTool(); }

// --- teardown ---

void VPNConnectionManager::disconnect(bool forced) {
    ++attempt_;
    establishedUnheard_ = false;
    currentVPNConnection().resetTimer();
    if (currentProvider_) {
        if (isType(currentProvider_, VPNTypesIKEv2_StrongSwan) && forced) {
            currentProvider_->forceDisconnect();
        } else if (isType(currentProvider_, VPNTypesOpenVPN)) {
            currentProvider_->disconnect([] { logLine("OpenVPN Disconnected."); });
            // Mid-handshake on a busy machine openvpn may never act on its
            // management stop and come up alone: the helper ends what it started.
            terminatePreviousOpenVPNProcesses();
        } else {
            currentProvider_->disconnect([] { logLine("disconnected!"); });
        }
    }
    // The main window installs the tunnel's DNS whatever the protocol: the
    // user's own resolver comes back with every teardown (a no-op in the
    // helper when nothing was installed).
    restoreDNSToOriginal(isType(currentProvider_, VPNTypesOpenVPN), false);
    if (activeTimer_) {
        activeTimer_->cancel();
        activeTimer_.reset();
    }
    env_.helper.reEnableIPV6();
    connectionInProgress_ = false;
}

void VPNConnectionManager::disconnect() {
    disconnect(false);
    connectionExists_ = false;
    if (!env_.helper.helperDied()) return;
    // Without the helper a tunnel it runs, and the DNS and IPv6 it changed,
    // stay: said, rather than a Disconnected that is not true. A helper just
    // back carries the Disconnect out, unnoticed so far: its answer, which
    // comes after the Disconnect's own (one connection, in order), decides.
    post([this] {
        std::weak_ptr<bool> alive = alive_;
        env_.helper.networkLockState([this, alive](std::optional<bool> answered) {
            if (!alive.lock()) return;
            if (answered) {
                logLine("the helper is back and has carried out the Disconnect");
                return;
            }
            helperTeardownPending_ = true;
            notifyError(LocaleData::helper_unreachable_disconnect_error());
        });
    });
}

void VPNConnectionManager::helperCarriedOutTeardown() {
    if (!helperTeardownPending_) return;
    helperTeardownPending_ = false;
    // What the bar said stays no longer: nothing is held now.
    if (onHelperCarriedOutNotification) onHelperCarriedOutNotification();
}

void VPNConnectionManager::helperDied(bool died) {
    if (!died) {
        // Its next loss is told again.
        helperLossTold_ = false;
        // "Cannot be reached" is no longer true once it answers; a bar that
        // says what a Disconnect left to it goes when that is carried out.
        post([this] {
            if (!helperTeardownPending_ && onHelperCarriedOutNotification) onHelperCarriedOutNotification();
        });
        return;
    }
    // No try can reach a helper that is gone: an attempt without a tunnel
    // up ends in this error rather than showing Connecting through tries
    // that cannot work; a tunnel that was up is a drop like any.
    const bool tunnelUp = currentVPNConnection().isTimerValid();
    post([this, tunnelUp] {
        if (std::exchange(helperLossTold_, true)) return;
        life_->helperLost(LocaleData::helper_unreachable_error(), tunnelUp);
    });
}

void VPNConnectionManager::disconnectAndNotify() {
    disconnect(false);
    notifyDisconnected(false, false);
}

void VPNConnectionManager::cleanUpSession(bool forced) { disconnect(forced); }

void VPNConnectionManager::cleanUpSessionAndNotifyDisconnected() {
    cleanUpSession(false);
    notifyDisconnected(false, false);
}

void VPNConnectionManager::deleteExistingVPNService() {
    const bool viaHelper =
        !currentProvider_ || isType(currentProvider_, VPNTypesL2TP) || isType(currentProvider_, VPNTypesPPTP);
    if (viaHelper) {
        logLine("deleteExistingVPNService before checkAndInstallHelperToolIfRequired()");
        checkAndInstallHelperToolIfRequired([this] {
            logLine("deleteExistingVPNService before checkAndInstallHelperToolIfRequired() -- success");
            env_.helper.deleteExistingVPNService(connectionName());
        });
        connectionInProgress_ = false;
    } else if (isType(currentProvider_, VPNTypesOpenVPN) || isType(currentProvider_, VPNTypesIKEv2_StrongSwan)) {
        disconnect(false);
    } else if (isType(currentProvider_, VPNTypesIKEv2)) {
        currentProvider_->deleteExistingVPNService(connectionName());
    }
}

void VPNConnectionManager::removeExistingConnection() {
    deleteExistingVPNService();
    stopStatusUpdates();
    connectionExists_ = false;
}

void VPNConnectionManager::terminatePreviousOpenVPNProcesses(std::function<void(bool ended)> done) {
    logLine("terminatePreviousOpenVPNProcesses() started");
    std::weak_ptr<bool> alive = alive_;
    ++openVPNEndings_;
    // The helper answers once openvpn has exited (its own grace is 3 s); a
    // helper that never answers must not hold the next tunnel for good.
    auto ended = std::make_shared<bool>(false);
    auto settle = [this, ended] {
        if (*ended) return;
        *ended = true;
        if (--openVPNEndings_ > 0) return;
        auto waiting = std::move(afterOpenVPNEnds_);
        afterOpenVPNEnds_.clear();
        for (auto& task : waiting) task();
    };
    postAfter(kOpenVPNEndBoundMs, settle);
    env_.helper.terminatePreviousOpenVPNProcesses([alive, settle, done = std::move(done)](bool gone) {
        if (!alive.lock()) return;
        settle();
        if (done) done(gone);
    });
}

void VPNConnectionManager::whenOpenVPNIsGone(Task next) {
    if (openVPNEndings_ == 0) {
        next();
        return;
    }
    logLine("the next tunnel starts once openvpn has ended");
    afterOpenVPNEnds_.push_back(std::move(next));
}

void VPNConnectionManager::adoptRunningTunnel(std::function<void(bool adopted)> done) {
    if (!env_.helper.isHelperToolPresent()) {
        if (done) done(false);
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    auto adoptIKEv2 = [this, done](bool) mutable {
        // The helper answers for an IKEv2 tunnel itself: none, and the
        // provider reports disconnected, which ends the take-over.
        if (IKEv2_StrongSwan_connectionProvider) beginAdoption(IKEv2_StrongSwan_connectionProvider, std::move(done));
        else if (done) done(false);
    };
    if (!OpenVPN_connectionProvider) {
        adoptIKEv2(false);
        return;
    }
    env_.helper.attachRunningOpenVPN([this, alive, done, adoptIKEv2](bool attached) mutable {
        if (!alive.lock()) return;
        if (attached) beginAdoption(OpenVPN_connectionProvider, std::move(done));
        else adoptIKEv2(false);
    });
}

void VPNConnectionManager::beginAdoption(const Provider& provider, std::function<void(bool adopted)> done) {
    logLine(isType(provider, VPNTypesOpenVPN) ? "an openvpn left running by an earlier run is being taken over"
                                              : "looking for an IKEv2 tunnel an earlier run left running");
    std::weak_ptr<bool> alive = alive_;
    const std::uint64_t attempt = ++attempt_;
    // Set while the take-over runs, whoever waits for it.
    adoption_ = done ? std::move(done) : [](bool) {};
    currentProvider_ = provider;
    provider->retrieveConnectionAndSubscribeToStatusUpdates(
        connectionName(),
        [this, alive](std::int32_t status, const std::optional<std::string>& message, VPNTypes type) {
            // No try of ours began it: it names the take-over (attempt 0).
            if (alive.lock()) handleStatusChange(status, message, type, ConnectionTicket{});
        },
        true);
    provider->adoptRunning();
    postAfter(kAdoptionTimeoutMs, [this, attempt] {
        if (attempt != attempt_ || !adoption_) return;
        logLine("the running tunnel did not answer in time");
        endAdoption(false);
    });
}

void VPNConnectionManager::replayEstablishedToLateListener() {
    if (!establishedUnheard_ || !onConnectionEstablishedNotification) return;
    establishedUnheard_ = false;
    post([this] {
        if (onConnectionEstablishedNotification) onConnectionEstablishedNotification();
    });
}

void VPNConnectionManager::endAdoption(bool adopted) {
    auto done = std::move(adoption_);
    adoption_ = nullptr;
    if (!adopted && currentProvider_) {
        currentProvider_->stopConnectionStatusUpdates();
        currentProvider_->disconnect([] {});
        connectionExists_ = false;
        updateCurrentProvider();
    }
    if (done) done(adopted);
}

void VPNConnectionManager::stopStatusUpdates(const Provider& provider) {
    if (provider) provider->stopConnectionStatusUpdates();
    else if (currentProvider_) currentProvider_->stopConnectionStatusUpdates();
}

void VPNConnectionManager::scheduleVPNServiceCleanup() {
    if (env_.context.networkLockActivated() || env_.context.openVPN_Reconnect_in_progress()) return;
    // The try in force at the loss decides, not a flag read a second later:
    // on a first try no reconnect has been announced yet.
    const auto ticket = env_.context.currentTry();
    postAfter(1000, [this, ticket] {
        if (!currentProvider_ || isType(currentProvider_, VPNTypesIKEv2_StrongSwan)) return;
        if (env_.context.currentTry() != ticket) {
            // The connection's life moved on (ended that session, or started
            // another try, which replaces it itself).
            logLine("internet lost: the session of that time is no longer in force");
            return;
        }
        removeExistingConnection();
        // Its reports are stopped with it: the try's end is said here, or the
        // life would wait for it for good.
        if (ticket) env_.context.requestReconnect(ReconnectReason::tryEnded, *ticket);
    });
}

void VPNConnectionManager::onInternetConnectionLost() { scheduleVPNServiceCleanup(); }

void VPNConnectionManager::shutDown() {
    // The helper keeps a tunnel that is up when the app goes away without a
    // word (for its next run): a quit says the word, for both protocols.
    if (isType(currentProvider_, VPNTypesOpenVPN) || isType(currentProvider_, VPNTypesIKEv2_StrongSwan))
        disconnect(false);
    // No tunnel outlives a quit: a lock left engaged would keep the user
    // offline after it. Also one the state object no longer knows of (an
    // engagement still in flight at a cancel): released without a gateway
    // hint, which leaves a network without a lock as it is.
    if (env_.context.networkLockActivated()) {
        disableNetworkLock();
    } else if (env_.helper.isHelperToolPresent()) {
        lockEngaged_ = false;
        ++lockRelease_;
        env_.helper.disableNetworkLock(std::nullopt);
    }
    closeHelperTool();
    stopStatusUpdates();
}

void VPNConnectionManager::onDeviceWillSleep() {
    env_.context.setDeviceEnteredSleepMode(true);
    env_.context.deviceWillSleep();
}

void VPNConnectionManager::onDeviceDidWake() {
    env_.context.setDeviceEnteredSleepMode(false);
    // Under the lock the network's return after a wake is hidden from the
    // watch (the lock holds the default route): the wake itself starts a try.
    if (isType(currentProvider_, VPNTypesIKEv2_StrongSwan) || env_.context.networkLockActivated())
        env_.context.requestReconnect(ReconnectReason::woke);
}

void VPNConnectionManager::routesChanged(std::function<bool(const std::string&)> reaches) {
    using State = ConnectionLife::State;
    const auto waitingFor = [this] {
        const State state = life_->life().state();
        return state == State::waiting || state == State::waitingForNetwork ? std::optional(state) : std::nullopt;
    };
    if (!env_.context.networkLockActivated() || !waitingFor() || lockWayOutLooking_ || !reaches) return;
    lockWayOutLooking_ = true;
    std::weak_ptr<bool> alive = alive_;
    env_.helper.retrieveDefaultGateway([this, alive, waitingFor, reaches](const std::string& answer) {
        if (!alive.lock()) return;
        const std::string gateway = isIPv4Address(answer) ? answer : std::string();
        // The queue outlives the manager; the manager may not outlive the look.
        MainQueue& main = env_.mainQueue;
        env_.background.async([this, &main, alive, waitingFor, reaches, gateway] {
            const bool reached = !gateway.empty() && reaches(gateway);
            main.post([this, alive, waitingFor, gateway, reached] {
                if (!alive.lock()) return;
                lockWayOutLooking_ = false;
                // Before any look, the way out the lock was engaged on counts as seen.
                const std::string seen = lockWayOutSeen_.value_or(env_.context.previousDefaultGatewayValue());
                const std::string now = reached ? gateway : std::string();
                lockWayOutSeen_ = now;
                // The tries' own route changes find the same way out: only a
                // new one cuts the wait short, or the pacing would be lost.
                const auto state = waitingFor();
                if (now.empty() || now == seen || !state || !env_.context.networkLockActivated()) return;
                logLine("under the lock the way out via " + now + " reaches: the tries go on now");
                env_.context.requestReconnect(*state == ConnectionLife::State::waitingForNetwork
                                                  ? ReconnectReason::networkReturned
                                                  : ReconnectReason::networkChanged);
            });
        });
    });
}

}  // namespace hw
