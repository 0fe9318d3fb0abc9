#pragma once
#include <string>
#include <utility>
#include <vector>

#include "platform/settings_store.h"

namespace hw {

// Every key of the settings store, named once. Keys are char arrays so that
// they convert to std::string where the store wants one, and comparing two
// of them by pointer is a compile error (-Werror=array-compare).
struct SettingsUserDefaults {
    SettingsUserDefaults() = delete;

    // Registered keys.
    static constexpr char showWelcomePage[] = "showWelcomePage";
    static constexpr char startMinimized[] = "startMinimized";
    static constexpr char startOnOsStartup[] = "startOnOsStartup";
    static constexpr char signMeInWhenHavenwayStarts[] = "signMeInWhenHavenwayStarts";
    static constexpr char vpnProtocols[] = "vpnProtocols";
    static constexpr char helperToolVersion[] = "helperToolVersion";
    static constexpr char showNotificationsOnConnectDisconnect[] = "showNotificationsOnConnectDisconnect";
    static constexpr char isMainViewBottomBarHidden[] = "isMainViewBottomBarHidden";
    static constexpr char showCreateNewAccountLink[] = "showCreateNewAccountLink";
    static constexpr char lastLocation[] = "lastLocation";
    static constexpr char alertWhenConnectedToPublicNetwork[] = "alertWhenConnectedToPublicNetwork";
    static constexpr char wi_fi_SecurityEnabled[] = "wi_fi_SecurityEnabled";
    static constexpr char useAutomaticLocation[] = "useAutomaticLocation";
    static constexpr char previousDefaultGatewayValue[] = "previousDefaultGatewayValue";
    static constexpr char useNetworkLock[] = "useNetworkLock";
    static constexpr char appLaunchedFirstTime[] = "appLaunchedFirstTime";
    static constexpr char skipCachedDataLoad[] = "skipCachedDataLoad";
    static constexpr char trustedNetworks[] = "trustedNetworks";
    static constexpr char enableTrustedNetworksManagement[] = "enableTrustedNetworksManagement";
    static constexpr char sendCrashReportsData[] = "sendCrashReportsData";
    static constexpr char sendAnalyticsData[] = "sendAnalyticsData";

    // Named but not registered: absent until written.
    static constexpr char vpnConfigUpdatedAt[] = "vpnConfigUpdatedAt";
    static constexpr char explicitAutomaticItemLocationID[] = "explicitAutomaticItemLocationID";
    static constexpr char appLaunchParameters[] = "appLaunchParameters";
    static constexpr char smartWidgetData[] = "smartWidgetData";

    // The three getter names that differ from their key text.
    static constexpr const char (&startMinimizedKey)[sizeof(startMinimized)] = startMinimized;
    static constexpr const char (&startOnOsStartupKey)[sizeof(startOnOsStartup)] = startOnOsStartup;
    static constexpr const char (&vpnProtocolsKey)[sizeof(vpnProtocols)] = vpnProtocols;

    // The registered defaults, built on first use and kept. "trustedNetworks"
    // is an empty list.
    static const SettingDict& defaults();
    // The same 21 entries in their documented order.
    static const std::vector<std::pair<std::string, SettingValue>>& orderedDefaults();
};

}  // namespace hw
