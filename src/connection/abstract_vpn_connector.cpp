#include "connection/abstract_vpn_connector.h"

#include <utility>

#include "core/vpn_types.h"
#include "platform/log.h"

namespace hw {

namespace {

constexpr char kLog[] = "vpn-service";

std::string errorText(const SystemVPNError& e) { return e.text + " (Code " + std::to_string(e.code) + ")"; }

void logStatusBeforeStart(std::int32_t status) {
    switch (status) {
        case 0: break;
        case -1: log::warning(kLog, "Service is invalid. Weird."); break;
        case 1: log::info(kLog, "Service is already connecting."); break;
        case 2: log::info(kLog, "Service is already connected."); break;
        case 3: log::info(kLog, "Service is disconnecting."); break;
        default: log::warning(kLog, "Unexpected status."); break;
    }
    log::info(kLog, "Connecting...");
}

}  // namespace

AbstractVPNConnector::AbstractVPNConnector(std::shared_ptr<SystemVPNServiceStore> store,
                                           std::shared_ptr<SecretStore> systemKeychain)
    : store_(std::move(store)), keychain_(std::move(systemKeychain)) {
    reportThread_ = std::thread([this] { runReports(); });
}

AbstractVPNConnector::~AbstractVPNConnector() {
    stopConnectionStatusUpdates();
    {
        std::lock_guard lock(queueMutex_);
        quitting_ = true;
    }
    queueChanged_.notify_all();
    if (reportThread_.get_id() == std::this_thread::get_id())
        reportThread_.detach();
    else
        reportThread_.join();
}

bool AbstractVPNConnector::configureTopInterface(SystemVPNPreferences&, const std::string&, const VPNServiceConfig&) {
    return false;
}

std::int32_t AbstractVPNConnector::applyAdditionalInterfacesConfiguration(SystemVPNPreferences&, const std::string&,
                                                                          const VPNServiceConfig&) {
    return 0;
}

std::string AbstractVPNConnector::connectionName() const {
    std::lock_guard lock(mutex_);
    return connectionName_;
}

bool AbstractVPNConnector::isWatching() const {
    std::lock_guard lock(mutex_);
    return lastConnectionObject_ != nullptr;
}

// --- watching ---------------------------------------------------------------

void AbstractVPNConnector::post(std::function<void()> task) {
    {
        std::lock_guard lock(queueMutex_);
        reports_.push_back(std::move(task));
    }
    queueChanged_.notify_one();
}

void AbstractVPNConnector::runReports() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(queueMutex_);
            queueChanged_.wait(lock, [this] { return quitting_ || !reports_.empty(); });
            if (reports_.empty()) return;
            task = std::move(reports_.front());
            reports_.pop_front();
        }
        task();
    }
}

std::shared_ptr<SystemVPNConnection> AbstractVPNConnector::makeConnection(const std::string& serviceName) {
    auto service = getExistedVPNNetworkService(serviceName);
    if (!service || !store_) return nullptr;
    return store_->connectionForService(service->serviceID);
}

void AbstractVPNConnector::watch(std::shared_ptr<SystemVPNConnection> connection, StatusBlock block) {
    std::shared_ptr<SystemVPNConnection> previous;
    std::uint64_t generation;
    {
        std::lock_guard reportLock(reportMutex_);
        std::lock_guard lock(mutex_);
        previous = std::exchange(lastConnectionObject_, connection);
        newStatusReceivedCallback_ = std::move(block);
        generation = ++generation_;
    }
    if (previous && previous != connection) previous->setStatusCallback({});
    if (!connection) return;
    std::weak_ptr<SystemVPNConnection> weak = connection;
    connection->setStatusCallback([this, generation, weak](std::int32_t s) { statusChanged(generation, weak, s); });
}

void AbstractVPNConnector::statusChanged(std::uint64_t generation, const std::weak_ptr<SystemVPNConnection>& connection,
                                         std::int32_t status) {
    // The cause belongs to this change: read it now, not when the report runs.
    auto message = lastCauseMessage(connection.lock(), status);
    post([this, generation, status, message] { report(generation, status, message); });
}

std::optional<std::string> AbstractVPNConnector::lastCauseMessage(
    const std::shared_ptr<SystemVPNConnection>& connection, std::int32_t status) {
    if (!connection || (status != 0 && status != 3)) return std::nullopt;
    auto extended = connection->extendedStatus();
    if (!extended.lastCause) return std::nullopt;
    return std::to_string(*extended.lastCause);
}

void AbstractVPNConnector::report(std::uint64_t generation, std::int32_t status,
                                  const std::optional<std::string>& message) {
    std::lock_guard reportLock(reportMutex_);
    StatusBlock block;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) return;
        block = newStatusReceivedCallback_;
    }
    log::info(kLog, "networkStateCallback: connection status changed to " + std::to_string(status));
    if (block) block(status, message, getConnectorType());
}

std::int32_t AbstractVPNConnector::retrieveConnectionAndSubscribeToStatusUpdates(const std::string& serviceName,
                                                                                 StatusBlock block,
                                                                                 bool skipCurrentStatusNotification) {
    std::int32_t status = retrieveConnection(serviceName);
    subscribeToConnectionStatusUpdates(std::move(block), status, skipCurrentStatusNotification);
    return status;
}

std::int32_t AbstractVPNConnector::retrieveConnection(const std::string& serviceName) {
    {
        std::lock_guard lock(mutex_);
        connectionName_ = serviceName;
    }
    auto connection = makeConnection(serviceName);
    if (!connection) {
        // Whatever was watched before belongs to another service now.
        watch(nullptr, {});
        return -1;
    }
    std::int32_t status = connection->status();
    auto extended = connection->extendedStatus();
    log::info(kLog, "extendedCurrentStatus " +
                        (extended.pppStatus ? std::to_string(*extended.pppStatus) : std::string("(null)")));
    if (extended.pppStatus == 8)
        status = 2;
    else if (extended.pppStatus == 0)
        status = 0;
    // The status callback stays unset until the subscription installs it.
    std::shared_ptr<SystemVPNConnection> previous;
    {
        std::lock_guard reportLock(reportMutex_);
        std::lock_guard lock(mutex_);
        previous = std::exchange(lastConnectionObject_, connection);
        newStatusReceivedCallback_ = nullptr;
        ++generation_;
    }
    if (previous) previous->setStatusCallback({});
    return status;
}

void AbstractVPNConnector::subscribeToConnectionStatusUpdates(StatusBlock block, std::int32_t status,
                                                              bool skipCurrentStatusNotification) {
    std::shared_ptr<SystemVPNConnection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = lastConnectionObject_;
    }
    watch(connection, std::move(block));
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        generation = generation_;
    }
    if (skipCurrentStatusNotification) return;
    auto message = lastCauseMessage(connection, status);
    post([this, generation, status, message] { report(generation, status, message); });
}

bool AbstractVPNConnector::startConnection(SystemVPNConnection& connection) {
    logStatusBeforeStart(connection.status());
    SystemVPNError error;
    if (!connection.start(&error)) {
        log::error(kLog, "SCNetworkConnectionStart failed: " + std::to_string(error.code));
        return false;
    }
    log::info(kLog, "SCNetworkConnectionStart CONNECTED");
    return true;
}

void AbstractVPNConnector::connect(const std::optional<std::string>& serviceName,
                                   std::function<void()> onSuccessfullyConnected, StatusBlock statusBlock) {
    if (!serviceName) return;
    {
        std::lock_guard lock(mutex_);
        connectionName_ = *serviceName;
    }
    auto connection = makeConnection(*serviceName);
    if (!connection) return;
    if (!startConnection(*connection)) return;
    watch(connection, std::move(statusBlock));
    if (onSuccessfullyConnected) onSuccessfullyConnected();
}

void AbstractVPNConnector::startDialCurrentConnection(std::function<void()> onStarted) {
    std::shared_ptr<SystemVPNConnection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = lastConnectionObject_;
    }
    if (!connection) return;
    if (startConnection(*connection)) {
        if (onStarted) onStarted();
        return;
    }
    // A refused start changes no status, so no change would ever report
    // it: the attempt ends here, with the cause the helper recorded.
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (connection != lastConnectionObject_) return;
        generation = generation_;
    }
    auto cause = lastCauseMessage(connection, 0);
    // "0" and "5" would read as a disconnect the user asked for.
    if (!cause || *cause == "0" || *cause == "5") cause = std::to_string(kStartRefusedCause);
    post([this, generation, cause] { report(generation, 0, cause); });
}

void AbstractVPNConnector::disconnect(std::function<void()>) {
    std::shared_ptr<SystemVPNConnection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = lastConnectionObject_;
    }
    if (!connection) return;
    if (connection->status() == 2) log::info(kLog, "Service is connected.");
    SystemVPNError error;
    if (!connection->stop(true, &error))
        log::error(kLog, "SCNetworkConnectionStop failed: " + std::to_string(error.code));
}

void AbstractVPNConnector::stopConnectionStatusUpdates() { watch(nullptr, {}); }

void AbstractVPNConnector::cleanupConnectorBeforeAppExit() { stopConnectionStatusUpdates(); }

// --- the store ----------------------------------------------------------------

std::optional<SystemVPNServiceInfo> AbstractVPNConnector::getExistedVPNNetworkService(const std::string& serviceName) {
    auto prefs = store_ ? store_->openPreferences() : nullptr;
    if (!prefs) {
        log::error(kLog, "Could not create preferences");
        return std::nullopt;
    }
    return prefs->findService(serviceName);
}

std::int32_t AbstractVPNConnector::getExistingVPNConnectionProtocolType(const std::string& serviceName) {
    auto service = getExistedVPNNetworkService(serviceName);
    if (!service || !service->hasIPSecProtocol) return -1;
    return *service->hasIPSecProtocol ? 2 : 3;
}

void AbstractVPNConnector::deleteExistingVPNService(const std::string& serviceName) {
    auto prefs = store_ ? store_->openPreferences() : nullptr;
    if (!prefs) {
        log::error(kLog, "Could not create preferences");
        return;
    }
    auto service = prefs->findService(serviceName);
    if (!service) return;
    bool locked = prefs->lock();
    if (locked)
        log::info(kLog, "Gained superhuman rights.");
    else
        log::warning(kLog, "Sorry, without superuser privileges I won't be able to add any VPN interfaces.");
    prefs->removeService(service->serviceID);
    if (!prefs->commit())
        log::error(kLog, "Error: Could not commit preferences with service " + serviceName + ". " +
                             errorText(prefs->lastError()));
    else if (!prefs->apply())
        log::error(kLog, "Error: Could not apply changes with service " + serviceName + ". " +
                             errorText(prefs->lastError()));
    if (locked) prefs->unlock();
}

// --- the creation road --------------------------------------------------------

std::int32_t AbstractVPNConnector::createAndConnect(VPNServiceConfig& config,
                                                    std::function<void()> onSuccessfullyConnected) {
    auto prefs = store_ ? store_->openPreferences() : nullptr;
    if (!prefs) {
        log::error(kLog, "Could not create preferences");
        return 31;
    }
    if (!prefs->lock()) {
        log::error(kLog, "Sorry, without superuser privileges I won't be able to add any VPN interfaces.");
        return 31;
    }
    log::info(kLog, "Gained superhuman rights.");
    std::int32_t result = createService(config, *prefs, std::move(onSuccessfullyConnected));
    prefs->unlock();
    return result;
}

std::int32_t AbstractVPNConnector::createService(VPNServiceConfig& config, SystemVPNPreferences& prefs,
                                                 std::function<void()> onSuccessfullyConnected) {
    const std::string name = config.name.value_or("");
    {
        std::lock_guard lock(mutex_);
        connectionName_ = name;
    }
    auto fail = [&](std::int32_t code, const std::string& what) {
        log::error(kLog, what + " " + errorText(prefs.lastError()));
        return code;
    };

    std::optional<std::string> serviceID;
    if (auto existing = prefs.findService(name)) serviceID = existing->serviceID;
    if (!serviceID) {
        serviceID = prefs.createService(config.is(VPNTypesL2TP) ? SystemVPNInterfaceType::L2TP
                                                                : SystemVPNInterfaceType::PPTP);
        if (!serviceID) return fail(33, "Error: Could not configure PPP interface for service " + name + ".");
    }
    // The tunnel's MTU is set on the PPP link by the service itself; the
    // primary interface is left alone.
    prefs.setServiceName(*serviceID, name);
    config.setServiceID(*serviceID);

    if (!configureTopInterface(prefs, *serviceID, config)) {
        log::error(kLog, "Error: Could not configure PPP interface for service " + name);
        return 33;
    }
    log::info(kLog, "Successfully configured PPP interface of service " + name);
    log::info(kLog, "Preparing to add Keychain items for service " + name + "...");

    // A service whose secrets could not be stored cannot authenticate: that
    // is a failed creation, not a success.
    std::int32_t keychainResult =
        keychain_.createPasswordKeyChainItem(name, *serviceID, config.username.value_or(""),
                                             config.password.value_or(""));
    if (keychainResult == 0 && config.is(VPNTypesL2TP))
        keychainResult = keychain_.createSharedSecretKeyChainItem(name, *serviceID, config.sharedSecret.value_or(""));
    if (keychainResult != 0) return keychainResult;

    if (std::int32_t r = applyAdditionalInterfacesConfiguration(prefs, *serviceID, config); r >= 1) return r;

    log::info(kLog, "Adding default protocols (DNS, etc.) to service " + name + "...");
    if (!prefs.establishDefaultConfiguration(*serviceID))
        return fail(36, "Error: Could not establish a default service configuration for " + name + ".");

    log::info(kLog, "Fetching set of all available network services...");
    if (!prefs.hasCurrentSet())
        return fail(37, "Error: Could not fetch current network set when creating " + name + ".");

    switch (prefs.addServiceToCurrentSet(*serviceID)) {
        case SystemVPNPreferences::AddResult::Added: break;
        case SystemVPNPreferences::AddResult::AlreadyPresent:
            log::info(kLog, "Skipping VPN Service " + config.humanType() + " because it already exists.");
            break;
        case SystemVPNPreferences::AddResult::Failed:
            return fail(38, "Error: Could not add new VPN service " + name + " to current network set.");
    }

    log::info(kLog, "Fetching IPv4 protocol of service " + name + "...");
    if (!prefs.hasIPv4Protocol(*serviceID)) return fail(39, "Error: Could not fetch IPv4 protocol of " + name + ".");
    log::info(kLog, "Configuring IPv4 protocol of service " + name + "...");
    if (!prefs.setIPv4Configuration(*serviceID, VPNServiceConfig::L2TPIPv4Config()))
        return fail(40, "Error: Could not configure IPv4 protocol of " + name + ".");

    log::info(kLog, "Commiting all changes including service " + name + "...");
    if (!prefs.commit()) return fail(41, "Error: Could not commit preferences with service " + name + ".");
    if (!prefs.apply()) return fail(42, "Error: Could not apply changes with service " + name + ".");

    log::info(kLog,
              "Successfully created OR updated " + config.humanType() + " VPN " + name + " with ID " + *serviceID);
    if (onSuccessfullyConnected) onSuccessfullyConnected();
    return 0;
}

}  // namespace hw
