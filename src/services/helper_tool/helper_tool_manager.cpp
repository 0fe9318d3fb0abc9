#include "services/helper_tool/helper_tool_manager.h"

#include <sys/stat.h>

#include <chrono>

#include "platform/log.h"

namespace hw {

namespace {
constexpr const char* kLog = "HelperToolManager";
constexpr const char* kJobLabel = "com.havenway.HelperTool";

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

HelperToolManager::CreatedBlock orNothing(HelperToolManager::CreatedBlock b) {
    return b ? b : [](bool) {};
}
}  // namespace

HelperToolManager::HelperToolManager(MainQueue& queue, HelperTool_XPC_Connector& connector, HelperJobTable& jobs,
                                     HelperInstaller& installer, ProcessRunner& runner, std::string bundledVersion)
    : queue_(queue), connector_(connector), jobs_(jobs), installer_(installer), runner_(runner),
      bundledVersion_(std::move(bundledVersion)) {}

HelperParameterList HelperToolManager::orderedUntilAbsent(HelperParameterList parameters) {
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (std::holds_alternative<std::monostate>(parameters[i].second)) {
            parameters.resize(i);
            break;
        }
    }
    return parameters;
}

HelperDictionary HelperToolManager::toDictionary(const HelperParameterList& parameters) {
    HelperDictionary d;
    for (const auto& [key, value] : parameters) {
        if (auto s = std::get_if<std::string>(&value)) {
            d[key] = HelperValue(*s);
        } else if (auto n = std::get_if<std::int64_t>(&value)) {
            // Numbers travel as their 32-bit value, sign-extended.
            d[key] = HelperValue(static_cast<std::int64_t>(static_cast<std::int32_t>(*n)));
        }
    }
    return d;
}

HelperToolManager::StringBlock HelperToolManager::logOnly(const char* line) {
    return [line](const std::string&) { log::info(kLog, line); };
}

HelperToolManager::StringBlock HelperToolManager::logThen(const char* line, StringBlock next) {
    return [line, next = std::move(next)](const std::string& reply) {
        log::info(kLog, line);
        if (next) next(reply);
    };
}

HelperToolManager::StringBlock HelperToolManager::logOutcome(const char* command, const char* line, StringBlock next) {
    return [command, line, next = std::move(next)](const std::string& reply) {
        // A "NO" or a helper out of reach did not do it: never logged as done.
        if (reply == kNo) log::warning(kLog, std::string(command) + " failed: the helper did not carry it out");
        else log::info(kLog, line);
        if (next) next(reply);
    };
}

void HelperToolManager::connectToHelperTool_XPC() {
    helper_ = connector_.getConnection();
    if (helper_ && helper_ != channelOwner_) {
        // The return channel lives on its connection; a new connection gets a new one.
        channelOwner_ = helper_;
        app_connection_ = helper_->makeChannel([](HelperIncoming in) {
            // Nothing is expected here; answer what asks, so no peer waits.
            if (in.expectsReply()) in.reply({});
        }).peer;
    }
}

void HelperToolManager::noteReachable(bool reachable) {
    const bool died = answered_ && !reachable;
    const bool wasDead = helperDied();
    if (reachable) answered_ = true;
    reachable_ = reachable;
    if (died == wasDead) return;
    if (died) log::warning(kLog, "the helper that answered before cannot be reached");
    else log::info(kLog, "the helper answers again");
    if (diedObserver_) diedObserver_(died);
}

void HelperToolManager::execute_XPC_command(const std::string& command,
                                            const std::optional<HelperParameterList>& parameters, StringBlock reply) {
    execute(command, parameters, [reply = std::move(reply)](const std::string& text, const HelperMessage&) {
        if (reply) reply(text);
    });
}

void HelperToolManager::execute(const std::string& command, const std::optional<HelperParameterList>& parameters,
                                MessageBlock reply) {
    connectToHelperTool_XPC();
    if (!helper_) {
        // Inside the connector's back-off nothing was tried, and a try that
        // failed has the connector's one line: a helper that is gone costs
        // one line per interval, however many commands meet it.
        queue_.post([this, alive = std::weak_ptr<int>(lifetime_), reply] {
            if (alive.lock()) noteReachable(false);
            if (reply) reply(kNo, {});
        });
        return;
    }
    HelperMessage message{{"type", "helper_tool_rpc"}, {"rpc", command}};
    if (parameters && !parameters->empty()) message["parameters"] = HelperValue(toDictionary(*parameters));
    if (app_connection_.channel()) message["channel"] = app_connection_;
    helper_->send(std::move(message), [this, alive = std::weak_ptr<int>(lifetime_), command, reply](HelperReply r) {
        // Our own close (the app ending) says nothing of the helper.
        if (alive.lock() && r.error != "connection cancelled") noteReachable(r.ok());
        const std::string* text = r.ok() ? helperString(r.message, "reply") : nullptr;
        if (!text) {
            log::warning(kLog, "helperTool call '" + command + "' -- no reply" + (r.ok() ? "" : ": " + r.error));
            if (reply) reply(kNo, {});
            return;
        }
        log::info(kLog, "helperTool call '" + command + "' -- response received: " + *text);
        if (reply) reply(*text, r.message);
    });
}

void HelperToolManager::now(std::string command, std::optional<HelperParameterList> parameters, StringBlock reply) {
    if (!queue_.isMainThread()) {
        later(std::move(command), std::move(parameters), std::move(reply));
        return;
    }
    execute_XPC_command(command, parameters, std::move(reply));
}

void HelperToolManager::later(std::string command, std::optional<HelperParameterList> parameters, StringBlock reply) {
    later(std::move(command), std::move(parameters),
          MessageBlock([reply = std::move(reply)](const std::string& text, const HelperMessage&) {
              if (reply) reply(text);
          }));
}

void HelperToolManager::later(std::string command, std::optional<HelperParameterList> parameters,
                              MessageBlock reply) {
    // This call's own parameters and block travel with it.
    std::weak_ptr<int> alive = lifetime_;
    queue_.post([this, alive, command = std::move(command), parameters = std::move(parameters),
                 reply = std::move(reply)] {
        if (alive.lock()) execute(command, parameters, reply);
        else if (reply) reply(kNo, {});
    });
}

void HelperToolManager::createVPNConnection(const HelperVPNServiceDescription& config,
                                            CreatedBlock onSuccessfullyConnected, ProxyErrorBlock onProxyError) {
    if (config.type == 1) {
        log::info(kLog, "createVPNConnection -- vpnConfig.type == VPNTypesOpenVPN");
        createOpenVPNConnection(config.openVPNParameters, std::move(onSuccessfullyConnected), std::move(onProxyError));
        return;
    }
    auto text = [](const std::optional<std::string>& v) { return v ? HelperParameter(*v) : HelperParameter(); };
    // Absent values are left out; the rest still go.
    HelperParameterList p{{"type", config.type},
                          {"name", text(config.name)},
                          {"endpointPrefix", text(config.endpointPrefix)},
                          {"endpointIPAddress", text(config.endpointIPAddress)},
                          {"endpointSuffix", text(config.endpointSuffix)},
                          {"username", text(config.username)},
                          {"password", text(config.password)},
                          {"sharedSecret", text(config.sharedSecret)}};
    later("connectToVPN", p, [done = orNothing(std::move(onSuccessfullyConnected))](const std::string& reply) {
        log::info(kLog, "oncreateVPNConnectionCompletedBlock");
        done(reply != kNo);
    });
}

void HelperToolManager::createOpenVPNConnection(const HelperParameterList& openVPNParameters,
                                                CreatedBlock onConnectionCreated, ProxyErrorBlock) {
    later("createOpenVPNConnection", openVPNParameters,
          MessageBlock([this, done = orNothing(std::move(onConnectionCreated))](const std::string& reply,
                                                                                const HelperMessage& message) {
              log::info(kLog, "onCreateOpenVPNConnectionCompletedBlock");
              HelperChannel management = helperChannel(message, "management");
              // Success without the interface of the helper's own openvpn
              // would leave nothing to dial but a port someone may squat.
              if (reply != kNo && !(management && *management)) {
                  log::warning(kLog, "createOpenVPNConnection -- no management interface handed over");
                  done(false);
                  return;
              }
              if (reply != kNo && openVPNManagement_) openVPNManagement_(UniqueFd(management->release()));
              done(reply != kNo);
          }));
}

void HelperToolManager::deleteExistingVPNService(const std::optional<std::string>& serviceName) {
    HelperParameterList p{{"connectionName", serviceName ? HelperParameter(*serviceName) : HelperParameter()}};
    later("deleteExistingVPNService", orderedUntilAbsent(p), logOnly("onDeleteExistingVPNServiceCompletedBlock"));
}

void HelperToolManager::disableIPV6() { disableIPV6({}); }

void HelperToolManager::disableIPV6(StringBlock done) {
    now("disableIPV6", std::nullopt, logOutcome("disableIPV6", "onDisableIPV6CompletedBlock", std::move(done)));
}

void HelperToolManager::reEnableIPV6() { reEnableIPV6({}); }

void HelperToolManager::reEnableIPV6(StringBlock done) {
    later("reEnableIPV6", std::nullopt, logThen("onReEnableIPV6CompletedBlock", std::move(done)));
}

void HelperToolManager::enableNetworkLock(StringBlock completion, ProxyErrorBlock) {
    later("enableNetworkLock", std::nullopt, logThen("onEnableNetworkLockCompletedBlock", std::move(completion)));
}

void HelperToolManager::enableNetworkLock(LockBlock completion) {
    later("enableNetworkLock", std::nullopt,
          MessageBlock([completion = std::move(completion)](const std::string& reply, const HelperMessage& message) {
              log::info(kLog, "onEnableNetworkLockCompletedBlock");
              // A helper that does not say answers "NO" only when it failed.
              const bool engaged = helperBool(message, "engaged").value_or(reply != kNo);
              if (completion) completion(reply, engaged);
          }));
}

void HelperToolManager::enableNetworkLock(const std::vector<std::string>& resolvers, LockBlock completion) {
    HelperParameterList p;
    const char* keys[] = {"dnsResolver", "dnsResolverSecondary"};
    for (std::size_t i = 0; i < resolvers.size() && i < 2; ++i) p.push_back({keys[i], HelperParameter(resolvers[i])});
    std::optional<HelperParameterList> parameters;
    if (!p.empty()) parameters = std::move(p);
    later("enableNetworkLock", std::move(parameters),
          MessageBlock([completion = std::move(completion)](const std::string& reply, const HelperMessage& message) {
              log::info(kLog, "onEnableNetworkLockCompletedBlock");
              const bool engaged = helperBool(message, "engaged").value_or(reply != kNo);
              if (completion) completion(reply, engaged);
          }));
}

void HelperToolManager::disableNetworkLock(const std::optional<std::string>& gatewayAddress) {
    disableNetworkLock(gatewayAddress, {});
}

void HelperToolManager::disableNetworkLock(const std::optional<std::string>& gatewayAddress, StringBlock done) {
    HelperParameterList p{{"gatewayAddress", gatewayAddress ? HelperParameter(*gatewayAddress) : HelperParameter()}};
    now("disableNetworkLock", orderedUntilAbsent(p), logThen("onDisableNetworkLockCompletedBlock", std::move(done)));
}

void HelperToolManager::retrieveDefaultGateway(StringBlock completion) {
    later("retrieveDefaultGateway", std::nullopt,
          logThen("onRetrieveDefaultGatewayCompletedBlock", std::move(completion)));
}

void HelperToolManager::networkLockState(std::function<void(std::optional<bool> engaged)> completion) {
    later("networkLockState", std::nullopt,
          MessageBlock([completion = std::move(completion)](const std::string&, const HelperMessage& message) {
              if (completion) completion(helperBool(message, "engaged"));
          }));
}

void HelperToolManager::resolveVPNServerHost(const std::string& host, const std::vector<std::string>& resolvers,
                                             StringBlock completion) {
    HelperParameterList p{{"vpnServerHost", HelperParameter(host)}};
    const char* keys[] = {"dnsResolver", "dnsResolverSecondary"};
    for (std::size_t i = 0; i < resolvers.size() && i < 2; ++i) p.push_back({keys[i], HelperParameter(resolvers[i])});
    later("resolveVPNServerHost", std::move(p), logThen("onResolveVPNServerHostCompletedBlock", std::move(completion)));
}

void HelperToolManager::staticRouteAddingProcessing(const std::optional<std::string>& vpnServerAddress,
                                                    const std::optional<std::string>& defaultGateway,
                                                    StringBlock onStaticRouteAdded) {
    auto text = [](const std::optional<std::string>& v) { return v ? HelperParameter(*v) : HelperParameter(); };
    HelperParameterList p{{"vpnServerAddress", text(vpnServerAddress)}, {"defaultGateway", text(defaultGateway)}};
    later("staticRouteAddingProcessing", orderedUntilAbsent(p),
          logThen("onStaticRouteAddingProcessingCompletedBlock", std::move(onStaticRouteAdded)));
}

void HelperToolManager::addDefaultGatewayForOpenVPN(const std::optional<std::string>& gatewayAddress,
                                                    StringBlock completion) {
    HelperParameterList p{{"gatewayAddress", gatewayAddress ? HelperParameter(*gatewayAddress) : HelperParameter()}};
    later("addDefaultGatewayForOpenVPN", orderedUntilAbsent(p),
          logThen("onAddDefaultGatewayForOpenVPNCompletedBlock", std::move(completion)));
}

void HelperToolManager::attachRunningOpenVPN(std::function<void(bool attached)> done) {
    later("attachRunningOpenVPN", std::nullopt,
          MessageBlock([this, done = std::move(done)](const std::string& reply, const HelperMessage& message) {
              HelperChannel management = helperChannel(message, "management");
              const bool attached = reply != kNo && management && *management && openVPNManagement_;
              const std::string* gateway = helperString(message, "gateway");
              if (attached && gateway && openVPNGateway_) openVPNGateway_(*gateway);
              if (attached) openVPNManagement_(UniqueFd(management->release()));
              if (done) done(attached);
          }));
}

void HelperToolManager::terminatePreviousOpenVPNProcesses(std::function<void(bool ended)> done) {
    later("terminatePreviousOpenVPNProcesses", std::nullopt,
          MessageBlock([done = std::move(done)](const std::string& reply, const HelperMessage& message) {
              // A helper that does not count may have ended one; a call that
              // failed, or no helper at all, ended nothing.
              if (done) done(reply != kNo && helperInt(message, "terminated").value_or(1) > 0);
          }));
}

void HelperToolManager::install_DNS_for_VPN() { now("install_DNS_for_VPN", std::nullopt, {}); }

void HelperToolManager::install_DNS_for_VPN(bool forOpenVPN, const std::vector<std::string>& pushed,
                                            StringBlock done) {
    std::optional<HelperParameterList> p;
    if (forOpenVPN) {
        std::string list;
        for (const auto& s : pushed) list += (list.empty() ? "" : ",") + s;
        p = HelperParameterList{{"forOpenVPN", std::int64_t{1}}};
        if (!list.empty()) p->emplace_back("pushedServers", list);
    }
    now("install_DNS_for_VPN", p, logOutcome("install_DNS_for_VPN", "onInstallDNSForVPNCompletedBlock", std::move(done)));
}

void HelperToolManager::restore_DNS_to_original(bool forOpenVPN, bool skipFallback) {
    restore_DNS_to_original(forOpenVPN, skipFallback, {});
}

void HelperToolManager::restore_DNS_to_original(bool forOpenVPN, bool skipFallback, StringBlock done) {
    HelperParameterList p{{"forOpenVPN", std::int64_t{forOpenVPN ? 1 : 0}},
                          {"skipFallback", std::int64_t{skipFallback ? 1 : 0}}};
    now("restore_DNS_to_original", p, std::move(done));
}

void HelperToolManager::closeHelperTool() { now("closeHelperTool", std::nullopt, {}); }

void HelperToolManager::installAction(InstallBlock completion) {
    installer_.install([this, completion = std::move(completion)](HelperInstallResult r) {
        if (!completion) return;
        if (r.succeeded) completion(true, false, 0, getHelperToolVersionInsideOfBundle());
        else if (r.refused) completion(false, true, 0, "");
        else completion(false, false, r.errorCode, "");
    });
}

HelperToolManager::HelperFileIdentity HelperToolManager::identityOf(const std::string& path, const struct stat& st) {
    return {path, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec,
            st.st_ctim.tv_nsec};
}

std::optional<std::string> HelperToolManager::askVersion(ProcessRunner& runner, const std::string& path) {
    ProcessRequest request;
    request.argv = {path, "--version"};
    request.timeout = std::chrono::seconds(2);
    auto result = runner.run(request);
    if (!result.ok()) return std::nullopt;
    return trimmed(result.out);
}

std::optional<std::string> HelperToolManager::installedVersion(const std::string& path, const struct stat& st) {
    // Asked once per helper file: a reinstall or an update shows as another file.
    const HelperFileIdentity identity = identityOf(path, st);
    if (knownVersion_ && knownVersion_->first == identity) return knownVersion_->second;
    auto version = askVersion(runner_, path);
    if (version) knownVersion_.emplace(identity, *version);
    return version;
}

void HelperToolManager::learnInstalledVersion(BackgroundQueue& background) {
    background.async([&jobs = jobs_, &runner = runner_, &queue = queue_, alive = std::weak_ptr<int>(lifetime_),
                      this] {
        auto path = jobs.programPath(kJobLabel);
        struct stat st{};
        if (!path || ::stat(path->c_str(), &st) != 0) return;
        auto version = askVersion(runner, *path);
        if (!version) return;
        queue.post([this, alive, identity = identityOf(*path, st), version = std::move(*version)] {
            // A connect that asked meanwhile knows as much.
            if (alive.lock() && !knownVersion_) knownVersion_.emplace(identity, version);
        });
    });
}

bool HelperToolManager::isHeloperToolAlreadyInstalled(const std::string& storedVersion, bool withVersionCheck) {
    auto path = jobs_.programPath(kJobLabel);
    struct stat st{};
    if (!path || ::stat(path->c_str(), &st) != 0) return false;
    auto installed = installedVersion(*path, st).value_or("");
    log::info(kLog, "installedVersion: " + installed);
    auto current = getHelperToolVersionInsideOfBundle();
    if (installed == current) return true;
    log::info(kLog, "installedBundleVersion != currentBundleVersion");
    log::info(kLog, "installedBundleVersion -- " + installed);
    log::info(kLog, "currentBundleVersion -- " + current);
    if (!withVersionCheck) return false;
    if (storedVersion == current) {
        log::info(kLog, "storedVersion == currentBundleVersion");
        return true;
    }
    log::info(kLog, "storedVersion != currentBundleVersion");
    return false;
}

}  // namespace hw
