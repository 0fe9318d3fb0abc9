#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/application_model_ports.h"
#include "core/smart_widget_data.h"
#include "core/trusted_network_item.h"
#include "core/vpn_types.h"
#include "platform/http.h"
#include "platform/image_codec.h"
#include "platform/main_queue.h"
#include "platform/settings_store.h"
#include "platform/system_info.h"

namespace hw {

// What the state object is built on. Each reference must outlive it.
struct ApplicationModelEnvironment {
    SettingsStore& store;
    MainQueue& mainQueue;
    BackgroundQueue& background;
    const ImageCodec& imageCodec;
    HttpClient& http;  // for the widget icon
    const SystemInfo& system;
};

// The one state object of the application. It lives on the main thread:
// every field is read and written there, and every callback it makes runs
// there. Plain fields are public members; a field with a side effect, or one
// that lives in the settings store, has a getter and a setter.
class ApplicationModel {
public:
    explicit ApplicationModel(ApplicationModelEnvironment environment);
    ~ApplicationModel();
    ApplicationModel(const ApplicationModel&) = delete;
    ApplicationModel& operator=(const ApplicationModel&) = delete;

    // The hub injects the components above core/ once they exist.
    void setPorts(const ApplicationModelPorts& ports) { ports_ = ports; }
    const ApplicationModelPorts& ports() const { return ports_; }

    // Identity of the running build.
    const std::string appProductName;
    const std::string appBundleID;
    const std::string appVersion;
    const std::string platform;

    // Backend addressing and the machine's public address.
    std::string vpnServersDomainSuffix;
    std::string mainDomainName;
    std::string reachabilityDomainName;
    std::optional<std::vector<std::string>> mirrorDomainCountries;
    std::string parseMainDomainName;
    std::string parseMirrorDomainName;
    std::optional<std::string> userPublicIP;
    std::string userCountry;
    std::string userContinent = "Europe";
    std::optional<std::string> publicIPInfoUrl;
    std::optional<std::vector<DomainForCountryObject>> domainForCountriesList;
    std::string appAutoUpdateDownloadURL;
    bool useAutoUpdater = true;
    std::optional<std::string> newAppVersionString;
    std::optional<std::string> newAppVersionDowloadLink;

    // Sign-in, windows and first launch.
    bool isInWaitingForVPNProfileInstallUserAction = false;
    bool showAppFooter = true;
    std::string authorizeForFreeTrialLink;
    bool rejectInAppFreeTrialSignUp;
    bool isFirstTimeLaunch = false;
    std::optional<std::string> pendingLocationIDToSet;
    bool isLoggedInUser = false;
    bool loginProcessWasCanceled = false;
    std::optional<WindowFrame> loginWindowFrame;
    std::shared_ptr<BottomNotificationBarModel> bottomNotificaitonBar;

    bool appLaunchedFirstTime() const;
    void setAppLaunchedFirstTime(bool value);
    // Nothing when the store holds none.
    std::optional<SettingValue> appLaunchParameters() const;
    void setAppLaunchParameters(std::optional<SettingValue> value);
    const std::shared_ptr<LocationsListItemModel>& currentLocation() const { return currentLocation_; }
    void setCurrentLocation(std::shared_ptr<LocationsListItemModel> location);
    std::optional<LoginData> recentLoginData() const;
    bool showCreateNewAccountLink() const;
    void setShowCreateNewAccountLink(bool value);
    bool isMainViewBottomBarHidden() const;
    void setIsMainViewBottomBarHidden(bool value);

    // Connection state and automatic reconnect.
    bool isConnectedToInternet = true;
    std::function<void(ConnectionStates)> onCurrentConnectionStateUpdated;
    bool isConnectedToVPN = false;
    std::shared_ptr<LocationsListItemModel> currentConnection;
    bool perfromHelperToolStoredVersionCheck = true;
    bool autoReconnectEnabled = true;
    bool networkLockActivated = false;
    bool openvpn_not_reachable_error_notification_arrived = false;
    bool deviceEnteredSleepMode = false;
    bool wasConnectedToVPN_Before_EnteringSleepMode = false;
    bool skipVPNConnectorsNotification = false;

    bool autoReconnectInProgress() const { return autoReconnectInProgress_; }
    void setAutoReconnectInProgress(bool value);
    ConnectionStates currentConnectionState() const { return currentConnectionState_; }
    void setCurrentConnectionState(ConnectionStates state);
    std::string helperToolCurrentVersion() const;
    void setHelperToolCurrentVersion(const std::string& version);
    int autoReconnectAttemptsCount() const { return autoReconnectAttemptsCount_; }
    void setAutoReconnectAttemptsCount(int count);
    bool useNetworkLock() const;
    void setUseNetworkLock(bool value);
    // Lifts the kill switch through the engine and forgets that it was on.
    void releaseNetworkLock();
    // The same for a lock an earlier run left with no tunnel: the network
    // comes back as it was; `lifted` once nothing is held any more.
    void liftNetworkLockLeftFromEarlierRun(std::function<void()> lifted);
    // Told after every release (a cancel, the kill switch turned off): the
    // details pane leaves a look that says the lock holds. One listener.
    std::function<void()> onNetworkLockReleased;
    bool openVPN_Reconnect_in_progress() const { return openVPN_Reconnect_in_progress_; }
    void setOpenVPN_Reconnect_in_progress(bool value);
    std::string previousDefaultGatewayValue() const;
    // "", " " and "NO" (the helper's no-answer) leave the stored value.
    void setPreviousDefaultGatewayValue(const std::string& gateway);
    // A view of the connection's life: its attempt was ended on purpose and
    // none began since. Written only from the life's state.
    bool intensionallyDisconnectedVPN() const { return intensionallyDisconnectedVPN_; }
    // True also lifts the network lock.
    void setIntensionallyDisconnectedVPN(bool value);

    // Protocol and the settings lock.
    VPNTypes vpnProtocol = VPNTypesAutomatic;
    std::string vpnProtocolReadable = " Automatic";
    std::string vpnProtocolReadableClean = " Automatic";
    bool vpnSettingsChangingDisabled() const { return vpnSettingsChangingDisabled_; }
    void setVpnSettingsChangingDisabled(bool value);
    // Observers are appended and never removed; one added twice is called
    // twice. They run on the main thread, in the order they were added.
    void addVPNSettingsChangingDisabledObserver(std::function<void(bool)> observer);
    void addVPNProtocolUpdatedObserver(std::function<void(const std::string&)> observer);
    // For an observer owned by an object that may die first: called only
    // while the owner lives.
    template <typename Owner>
    void addVPNSettingsChangingDisabledObserver(std::weak_ptr<Owner> owner, std::function<void(Owner&, bool)> f) {
        addVPNSettingsChangingDisabledObserver([owner, f](bool v) { if (auto o = owner.lock()) f(*o, v); });
    }
    template <typename Owner>
    void addVPNProtocolUpdatedObserver(std::weak_ptr<Owner> owner,
                                       std::function<void(Owner&, const std::string&)> f) {
        addVPNProtocolUpdatedObserver([owner, f](const std::string& t) { if (auto o = owner.lock()) f(*o, t); });
    }
    std::size_t vpnSettingsChangingDisabledObserverCount() const { return onVPNSettingsChangingDisabledObservers_.size(); }
    std::size_t vpnProtocolUpdatedObserverCount() const { return onVPNProtocolUpdatedObservers_.size(); }

    // Preferences mirrored from the settings.
    bool signMeInWhenHavenwayStarts = false;
    bool startMinimized = false;
    bool showNotificationsOnConnectDisconnect = true;
    std::function<void(bool)> startOnOsStartupNotification;

    bool isAppInUserAgentMode() const { return isAppInUserAgentMode_; }
    void setIsAppInUserAgentMode(bool value);
    bool startOnOsStartup() const { return startOnOsStartup_; }
    void setStartOnOsStartup(bool value);
    bool sendCrashReportsData() const;
    void setSendCrashReportsData(bool value);
    bool sendAnalyticsData() const;
    void setSendAnalyticsData(bool value);

    // Wi-Fi security and trusted networks.
    std::vector<TrustedNetworkItem> trustedNetworks;
    bool wi_fi_SecurityEnabled = true;
    bool pendingVPN_Activated_on_UnsecuredWiFi = false;
    int connectedToWiFiNotificationFrequency = 5;
    std::optional<std::string> lastUnsecuredWiFi_SSID;
    std::optional<Date> lastUnsecuredWiFi_notification_timestamp;
    bool unsecured_Wi_Fi_VPN_activated = false;

    bool enableTrustedNetworksManagement() const;
    void setEnableTrustedNetworksManagement(bool value);

    // Locations.
    std::shared_ptr<LocationsListItemModel> currentAutomaticLocation;
    std::string automaticItemLocationID = "o671Cp7jeG";

    const std::shared_ptr<LocationsListModel>& locationsListModel() const { return locationsListModel_; }
    // Rebuilds the new list and chooses the current location from it: the
    // pending id when one is set, else the first row. An empty list or none
    // leaves the current location as it is.
    void setLocationsListModel(std::shared_ptr<LocationsListModel> model);
    std::optional<std::string> explicitAutomaticItemLocationID() const;
    void setExplicitAutomaticItemLocationID(const std::optional<std::string>& id);
    bool useAutomaticLocation() const;
    void setUseAutomaticLocation(bool value);

    // Map images of the main window.
    bool mainViewMapPFFileLoaded = false;
    ImagePtr mainViewMapImage;
    // Shown only while connected: kept encoded, and decoded on each call, on
    // the background queue; answered on the main queue, null without one.
    void decodeMainViewMapDarkImage(std::function<void(ImagePtr)> done) const;

    const std::shared_ptr<BackendFile>& mainViewMapPFFile() const { return mainViewMapPFFile_; }
    // Fetches and decodes off the main thread; the image is assigned on it.
    void setMainViewMapPFFile(std::shared_ptr<BackendFile> file);
    const std::shared_ptr<BackendFile>& mainViewMapDarkPFFile() const { return mainViewMapDarkPFFile_; }
    void setMainViewMapDarkPFFile(std::shared_ptr<BackendFile> file);
    ApplicationShellPort* appDelegate() const { return ports_.shell; }
    // Nothing before the main window has its details pane.
    DetailsPanePort* mainViewDetailsController() const;

    // Timing and backend configuration dates.
    int smartWidgetCheckIntervalMin = 61;
    double SMART_WIDGET_UPDATE_CHECK_INTERVAL() const { return smartWidgetCheckIntervalMin * 60.0; }
    std::optional<Date> vpnConfigUpdatedAt;
    std::optional<Date> parseVPNConfigUpdatedAt;
    void updateVPNConfigUpdatedAt();

    // Settings, archives and the protocol text (application_model_settings.cpp).
    // The values are the settings as the store (or the settings window) has
    // them; a missing or mistyped value leaves its setting alone.
    void applySettings(const SettingDict& values);
    void applyPrivateSettings(const SettingDict& values);
    void restoreRequiredData() { restoreTrustedNetworks(); }
    void saveTrustedNetworks();
    void restoreTrustedNetworks();
    void saveCachedSmartWidgetData(const SmartWidgetData& record);
    std::shared_ptr<SmartWidgetData> loadCachedSmartWidgetData();
    static std::int64_t preprocessVPNProtocolValue(std::int64_t value) { return value; }
    static std::string getReadableVPNProtocol(std::int64_t value);

    // Records made here share the state object's download and cache context.
    std::shared_ptr<SmartWidgetData> makeSmartWidgetData(std::string link, std::string title, std::string image,
                                                         std::string subtitle, std::string link_text);
    const std::shared_ptr<SmartWidgetContext>& smartWidgetContext() const { return smartWidgetContext_; }

private:
    void setBool(const char* key, bool value, bool synchronize);
    enum class MapKind { light, dark };
    // Decodes off the main thread, then hands the image to deliverMapImage
    // (the dark map's bytes to deliverDarkMap).
    void decodeMapImage(Bytes data, MapKind kind, bool fetched, std::uint64_t generation);
    void deliverMapImage(ImagePtr image, bool fetched, std::uint64_t generation);
    void deliverDarkMap(std::shared_ptr<const Bytes> data, std::uint64_t generation);

    SettingsStore& store_;
    MainQueue& mainQueue_;
    BackgroundQueue& background_;
    const ImageCodec& imageCodec_;
    ApplicationModelPorts ports_;
    std::shared_ptr<SmartWidgetContext> smartWidgetContext_;
    // Background work checks this before it touches the object.
    std::shared_ptr<ApplicationModel*> self_;

    std::shared_ptr<LocationsListItemModel> currentLocation_;
    bool autoReconnectInProgress_ = false;
    ConnectionStates currentConnectionState_ = ConnectionStates::disconnected;
    int autoReconnectAttemptsCount_ = 0;
    bool openVPN_Reconnect_in_progress_ = false;
    bool intensionallyDisconnectedVPN_ = false;
    bool vpnSettingsChangingDisabled_ = false;
    std::vector<std::function<void(bool)>> onVPNSettingsChangingDisabledObservers_;
    std::vector<std::function<void(const std::string&)>> onVPNProtocolUpdatedObservers_;
    bool isAppInUserAgentMode_ = false;
    bool startOnOsStartup_ = false;
    std::shared_ptr<LocationsListModel> locationsListModel_;
    std::shared_ptr<BackendFile> mainViewMapPFFile_;
    std::shared_ptr<BackendFile> mainViewMapDarkPFFile_;
    std::shared_ptr<const Bytes> mainViewMapDarkData_;  // a file that decoded
    std::uint64_t mapGeneration_ = 0;
    std::uint64_t darkMapGeneration_ = 0;
};

}  // namespace hw
