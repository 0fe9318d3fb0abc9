#include "core/application_model.h"

#include <cstdlib>

#include "core/global_constants.h"
#include "core/os_version.h"
#include "core/settings_user_defaults.h"
#include "platform/log.h"

namespace hw {
namespace {

constexpr char logCategory[] = "ApplicationModel";
using Keys = SettingsUserDefaults;

std::string withoutScheme(std::string url) {
    if (const auto p = url.find("://"); p != std::string::npos) url.erase(0, p + 3);
    return url;
}

// The web site's base address, as the global constants build it.
std::string webBase() {
    std::string terms = GlobalConstants::termsOfServiceURL();
    constexpr std::string_view suffix = "/legal/terms";
    if (terms.ends_with(suffix)) terms.resize(terms.size() - suffix.size());
    return terms;
}

std::string deploymentSetting(const char* envName, const char* fallback) {
    const char* value = std::getenv(envName);
    return (value && *value) ? std::string(value) : std::string(fallback);
}

}  // namespace

ApplicationModel::ApplicationModel(ApplicationModelEnvironment environment)
    : appProductName(GlobalConstants::bundleName),
      appBundleID(GlobalConstants::bundleIdentifier),
      appVersion(GlobalConstants::appVersion),
      platform(OSVersion(environment.system).getOSVersion()),
      vpnServersDomainSuffix(deploymentSetting("HAVENWAY_VPN_SERVERS_DOMAIN", "servers.havenway.test")),
      mainDomainName(withoutScheme(GlobalConstants::parseServerHost())),
      reachabilityDomainName(withoutScheme(GlobalConstants::parseServerHost())),
      appAutoUpdateDownloadURL(webBase() + "/downloads/Havenway-latest.zip"),
      authorizeForFreeTrialLink(webBase() + "/api/freeTrial/authorizeForFreeTrial.php"),
      rejectInAppFreeTrialSignUp(GlobalConstants::rejectInAppFreeTrialSignUp),
      store_(environment.store),
      mainQueue_(environment.mainQueue),
      background_(environment.background),
      imageCodec_(environment.imageCodec),
      smartWidgetContext_(std::make_shared<SmartWidgetContext>(environment.http, environment.mainQueue,
                                                               environment.background, environment.imageCodec)),
      self_(std::make_shared<ApplicationModel*>(this)) {
    smartWidgetContext_->saveCachedSmartWidgetData = [this](const SmartWidgetData& record) {
        saveCachedSmartWidgetData(record);
    };
}

ApplicationModel::~ApplicationModel() {
    // Records may outlive the state object; their archiving then stops.
    smartWidgetContext_->saveCachedSmartWidgetData = nullptr;
}

void ApplicationModel::setBool(const char* key, bool value, bool synchronize) {
    store_.set(key, value);
    if (synchronize) store_.synchronize();
}

bool ApplicationModel::appLaunchedFirstTime() const { return store_.boolForKey(Keys::appLaunchedFirstTime); }
void ApplicationModel::setAppLaunchedFirstTime(bool value) { setBool(Keys::appLaunchedFirstTime, value, true); }

std::optional<SettingValue> ApplicationModel::appLaunchParameters() const {
    return store_.object(Keys::appLaunchParameters);
}
void ApplicationModel::setAppLaunchParameters(std::optional<SettingValue> value) {
    if (value) store_.set(Keys::appLaunchParameters, std::move(*value));
    else store_.remove(Keys::appLaunchParameters);
    store_.synchronize();
}

void ApplicationModel::setCurrentLocation(std::shared_ptr<LocationsListItemModel> location) {
    currentLocation_ = std::move(location);
    if (!currentLocation_) return;
    if (!ports_.locations) {
        log::warning(logCategory, "no locations list operations; lastLocation not stored");
        return;
    }
    store_.set(Keys::lastLocation, ports_.locations->objectId(*currentLocation_));
    store_.synchronize();
}

std::optional<LoginData> ApplicationModel::recentLoginData() const {
    return ports_.loginData ? ports_.loginData->recentLoginData() : std::nullopt;
}

bool ApplicationModel::showCreateNewAccountLink() const { return store_.boolForKey(Keys::showCreateNewAccountLink); }
void ApplicationModel::setShowCreateNewAccountLink(bool value) { setBool(Keys::showCreateNewAccountLink, value, false); }
bool ApplicationModel::isMainViewBottomBarHidden() const { return store_.boolForKey(Keys::isMainViewBottomBarHidden); }
void ApplicationModel::setIsMainViewBottomBarHidden(bool value) { setBool(Keys::isMainViewBottomBarHidden, value, false); }

void ApplicationModel::setAutoReconnectInProgress(bool value) {
    autoReconnectInProgress_ = value;
    if (!value) log::info(logCategory, "autoReconnectInProgress == FALSE");
}

void ApplicationModel::setCurrentConnectionState(ConnectionStates state) {
    currentConnectionState_ = state;
    if (onCurrentConnectionStateUpdated) onCurrentConnectionStateUpdated(state);
}

std::string ApplicationModel::helperToolCurrentVersion() const {
    return store_.stringForKey(Keys::helperToolVersion).value_or("");
}
void ApplicationModel::setHelperToolCurrentVersion(const std::string& version) {
    store_.set(Keys::helperToolVersion, version);
}

void ApplicationModel::setAutoReconnectAttemptsCount(int count) {
    autoReconnectAttemptsCount_ = count;
    log::info(logCategory, "connectionAttemptsCount == " + std::to_string(count));
}

bool ApplicationModel::useNetworkLock() const { return store_.boolForKey(Keys::useNetworkLock); }
void ApplicationModel::setUseNetworkLock(bool value) { setBool(Keys::useNetworkLock, value, true); }

void ApplicationModel::setOpenVPN_Reconnect_in_progress(bool value) {
    openVPN_Reconnect_in_progress_ = value;
    if (!value) log::info(logCategory, "openVPN_Reconnect_in_progress == FALSE");
}

std::string ApplicationModel::previousDefaultGatewayValue() const {
    return store_.stringForKey(Keys::previousDefaultGatewayValue).value_or("");
}
void ApplicationModel::setPreviousDefaultGatewayValue(const std::string& gateway) {
    if (gateway.empty() || gateway == " " || gateway == "NO") return;
    store_.set(Keys::previousDefaultGatewayValue, gateway);
    store_.synchronize();
}

void ApplicationModel::setIntensionallyDisconnectedVPN(bool value) {
    intensionallyDisconnectedVPN_ = value;
    if (value) releaseNetworkLock();
}

void ApplicationModel::releaseNetworkLock() {
    networkLockActivated = false;
    if (ports_.connectionManager) ports_.connectionManager->disableNetworkLock();
    if (onNetworkLockReleased) onNetworkLockReleased();
}

void ApplicationModel::liftNetworkLockLeftFromEarlierRun(std::function<void()> lifted) {
    networkLockActivated = false;
    if (ports_.connectionManager) ports_.connectionManager->liftNetworkLockLeftFromEarlierRun(std::move(lifted));
    else if (lifted) lifted();
    if (onNetworkLockReleased) onNetworkLockReleased();
}

void ApplicationModel::setVpnSettingsChangingDisabled(bool value) {
    vpnSettingsChangingDisabled_ = value;
    log::info(logCategory, std::string("vpnSettingsChangingDisabled: ") + (value ? "true" : "false"));
    // A copy: an observer added during the calls is first told next time.
    const auto observers = onVPNSettingsChangingDisabledObservers_;
    for (const auto& observer : observers) {
        if (observer) observer(value);
    }
}

void ApplicationModel::addVPNSettingsChangingDisabledObserver(std::function<void(bool)> observer) {
    onVPNSettingsChangingDisabledObservers_.push_back(std::move(observer));
}
void ApplicationModel::addVPNProtocolUpdatedObserver(std::function<void(const std::string&)> observer) {
    onVPNProtocolUpdatedObservers_.push_back(std::move(observer));
}

void ApplicationModel::setIsAppInUserAgentMode(bool value) {
    const bool changed = value != isAppInUserAgentMode_;
    isAppInUserAgentMode_ = value;
    ApplicationShellPort* shell = ports_.shell;
    if (!shell || shell->skipIsAppInUserAgentModeDidSetProcessing() || !changed) return;
    if (value) shell->stopSheduleNextSmartWidgetUpdateTimer();
    else shell->loadSmartWidgetData();
}

void ApplicationModel::setStartOnOsStartup(bool value) {
    startOnOsStartup_ = value;
    if (startOnOsStartupNotification) startOnOsStartupNotification(value);
}

bool ApplicationModel::sendCrashReportsData() const { return store_.boolForKey(Keys::sendCrashReportsData); }
void ApplicationModel::setSendCrashReportsData(bool value) { setBool(Keys::sendCrashReportsData, value, true); }
bool ApplicationModel::sendAnalyticsData() const { return store_.boolForKey(Keys::sendAnalyticsData); }
void ApplicationModel::setSendAnalyticsData(bool value) { setBool(Keys::sendAnalyticsData, value, true); }

bool ApplicationModel::enableTrustedNetworksManagement() const {
    return store_.boolForKey(Keys::enableTrustedNetworksManagement);
}
void ApplicationModel::setEnableTrustedNetworksManagement(bool value) {
    setBool(Keys::enableTrustedNetworksManagement, value, true);
}

void ApplicationModel::setLocationsListModel(std::shared_ptr<LocationsListModel> model) {
    locationsListModel_ = std::move(model);
    if (!locationsListModel_) return;
    LocationsListOperations* locations = ports_.locations;
    if (!locations) {
        log::warning(logCategory, "no locations list operations; current location kept");
        return;
    }
    locations->rebuildLists(*locationsListModel_);
    auto first = locations->firstRowWithOutGroups(*locationsListModel_);
    // Nothing to choose from: keep the current location and any pending id.
    if (!first) return;
    if (pendingLocationIDToSet) {
        auto chosen = locations->itemWithObjectId(*locationsListModel_, *pendingLocationIDToSet);
        pendingLocationIDToSet.reset();
        setCurrentLocation(std::move(chosen));
    } else {
        setCurrentLocation(std::move(first));
    }
}

std::optional<std::string> ApplicationModel::explicitAutomaticItemLocationID() const {
    return store_.stringForKey(Keys::explicitAutomaticItemLocationID);
}
void ApplicationModel::setExplicitAutomaticItemLocationID(const std::optional<std::string>& id) {
    if (id) store_.set(Keys::explicitAutomaticItemLocationID, *id);
    else store_.remove(Keys::explicitAutomaticItemLocationID);
    store_.synchronize();
}

bool ApplicationModel::useAutomaticLocation() const { return store_.boolForKey(Keys::useAutomaticLocation); }
void ApplicationModel::setUseAutomaticLocation(bool value) { setBool(Keys::useAutomaticLocation, value, true); }

DetailsPanePort* ApplicationModel::mainViewDetailsController() const {
    return ports_.shell ? ports_.shell->mainViewDetailsController() : nullptr;
}

void ApplicationModel::updateVPNConfigUpdatedAt() {
    if (vpnConfigUpdatedAt == parseVPNConfigUpdatedAt) return;
    vpnConfigUpdatedAt = parseVPNConfigUpdatedAt;
    if (vpnConfigUpdatedAt) store_.set(Keys::vpnConfigUpdatedAt, *vpnConfigUpdatedAt);
    else store_.remove(Keys::vpnConfigUpdatedAt);
    store_.synchronize();
}

std::shared_ptr<SmartWidgetData> ApplicationModel::makeSmartWidgetData(std::string link, std::string title,
                                                                       std::string image, std::string subtitle,
                                                                       std::string link_text) {
    return SmartWidgetData::create(smartWidgetContext_, std::move(link), std::move(title), std::move(image),
                                   std::move(subtitle), std::move(link_text));
}

}  // namespace hw
