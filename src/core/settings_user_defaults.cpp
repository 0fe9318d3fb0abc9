#include "core/settings_user_defaults.h"

#include "core/vpn_protocols.h"

namespace hw {

const std::vector<std::pair<std::string, SettingValue>>& SettingsUserDefaults::orderedDefaults() {
    using S = SettingsUserDefaults;
    static const std::vector<std::pair<std::string, SettingValue>> entries = {
        {S::showWelcomePage, true},
        {S::startMinimized, false},
        {S::startOnOsStartup, true},
        {S::signMeInWhenHavenwayStarts, true},
        {S::vpnProtocols, std::string(rawValue(VPNProtocols::Automatic))},
        {S::helperToolVersion, ""},
        {S::showNotificationsOnConnectDisconnect, true},
        {S::isMainViewBottomBarHidden, false},
        {S::showCreateNewAccountLink, true},
        {S::lastLocation, ""},
        {S::alertWhenConnectedToPublicNetwork, true},
        {S::wi_fi_SecurityEnabled, true},
        {S::useAutomaticLocation, true},
        {S::previousDefaultGatewayValue, ""},
        {S::useNetworkLock, false},
        {S::appLaunchedFirstTime, false},
        {S::skipCachedDataLoad, true},
        {S::trustedNetworks, StringList{}},
        {S::enableTrustedNetworksManagement, true},
        {S::sendCrashReportsData, true},
        {S::sendAnalyticsData, true},
    };
    return entries;
}

const SettingDict& SettingsUserDefaults::defaults() {
    static const SettingDict dict = [] {
        SettingDict d;
        for (const auto& [key, value] : orderedDefaults()) d.emplace(key, value);
        return d;
    }();
    return dict;
}

}  // namespace hw
