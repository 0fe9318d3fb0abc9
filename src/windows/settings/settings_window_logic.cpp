#include "windows/settings/settings_window_logic.h"

#include <functional>
#include <unordered_set>

#include "platform/http.h"
#include "platform/log.h"
#include "services/form_encoding.h"
#include "texts/locale_data.h"

namespace hw {

const std::array<SettingsPaneItem, 5>& settingsPaneItems() {
    using L = LocaleData;
    static const std::array<SettingsPaneItem, 5> items = {{
        {"com.havenway.Havenway.TouchBarItem.GeneralItem", "1", &L::settings_page_toolbar_custom_general_item_label,
         &L::settings_page_toolbar_general_item_label, "settings_page_toolbar_icon_general", "onGeneralItemClick"},
        {"com.havenway.Havenway.TouchBarItem.ProtocolItem", "2", &L::settings_page_toolbar_custom_protocol_item_label,
         &L::settings_page_toolbar_protocol_item_label, "settings_page_toolbar_icon_protocol", "onProtocolItemClick"},
        {"com.havenway.Havenway.popoverBar.AutoWiFi", "3", &L::settings_page_toolbar_custom_auto_wifi_item_label,
         &L::settings_page_toolbar_auto_wifi_item_label, "settings_page_toolbar_icon_auto_wifi", "onAutoWiFiItemClick"},
        {"com.havenway.Havenway.popoverBar.KillSwitch", "4", &L::settings_page_toolbar_custom_kill_switch_item_label,
         &L::settings_page_toolbar_kill_switch_item_label, "settings_page_toolbar_icon_auto_kill_switch",
         "onKillSwitchItemClick"},
        {"com.havenway.Havenway.popoverBar.Support", "5", &L::settings_page_toolbar_custom_support_item_label,
         &L::settings_page_toolbar_support_item_label, "settings_page_toolbar_icon_support", "onSupportItemClick"},
    }};
    return items;
}

const SettingsPaneItem* settingsPaneItem(std::string_view identifier) {
    for (const auto& item : settingsPaneItems())
        if (identifier == item.identifier) return &item;
    return nullptr;
}

std::optional<int> settingsProtocolIndex(std::string_view storedText) {
    for (std::size_t i = 0; i < kSettingsProtocolChoices.size(); ++i)
        if (rawValue(kSettingsProtocolChoices[i]) == storedText) return int(i);
    return std::nullopt;
}

std::optional<std::string> settingsProtocolText(int index) {
    if (index < 0 || index >= int(kSettingsProtocolChoices.size())) return std::nullopt;
    return std::string(rawValue(kSettingsProtocolChoices[std::size_t(index)]));
}

std::string vpnProtocolDescription(int index) {
    using L = LocaleData;
    switch (index) {
        case 0: return L::settings_window_vpn_protocols_automatic_description();
        case 1: return L::settings_window_vpn_protocols_open_vpn_description();
        case 2: return L::settings_window_vpn_protocols_l2tp_description();
        case 3: return L::settings_window_vpn_protocols_pptp_description();
        case 4: return L::settings_window_vpn_protocols_ikev2_description();
        default:
            log::info("Settings_EntirePageController", "selectVPNProtocol() default case");
            return L::settings_window_vpn_protocols_automatic_description();
    }
}

std::vector<SettingsListItemModel> settingsListRows() {
    using L = LocaleData;
    using S = SettingsOptionsSections;
    return {
        {S::vpnProtocols, L::settings_window_options_section_vpn_protocols_label(), "Settings_page_protocols_icon"},
        {S::wi_Fi_Security, L::settings_window_options_section_wi_fi_security_label(),
         "Settings_page_wi_fi_security_icon"},
        {S::killSwitch, L::settings_window_options_section_auto_reconnect_label(), "Settings_page_auto_reconnect_icon"},
        {S::general, L::settings_window_options_section_general_label(), "Settings_page_general_icon"},
        {S::support, L::settings_window_options_section_support_label(), "Settings_page_support_icon"},
    };
}

double detailsYForSection(SettingsOptionsSections section, double documentHeight) {
    switch (section) {
        case SettingsOptionsSections::support: return 0.0;
        case SettingsOptionsSections::vpnProtocols: return documentHeight;
        case SettingsOptionsSections::wi_Fi_Security: return 684.0;
        case SettingsOptionsSections::killSwitch: return 474.0;
        case SettingsOptionsSections::general: break;
    }
    return 255.0;
}

int getRowIndexByYScrollPosition(double y) {
    if (y <= 202.0) return 4;
    if (y <= 395.0) return 3;
    if (y <= 560.0) return 2;
    if (y <= 750.0) return 1;
    return 0;
}

std::string supportRequestMailto(std::string_view address, std::string_view subjectPrefix, std::string_view topic,
                                 std::string_view body) {
    std::string subject(subjectPrefix);
    subject += ' ';
    subject += topic;
    std::string link = "mailto:";
    link += address;
    link += "?subject=" + percentEncode(subject);
    link += "&body=" + percentEncode(body);
    return link;
}

bool openWebLink(URLOpener& opener, const std::optional<std::string>& link, std::string_view logCategory) {
    if (!link || !isWebURL(*link)) {
        log::info(logCategory, "no web address to open");
        return false;
    }
    return opener.openURL(*link);
}

namespace {

struct NetworkKey {
    std::string_view ssid;
    std::string_view bssid;
    bool operator==(const NetworkKey&) const = default;
};
struct NetworkKeyHash {
    std::size_t operator()(const NetworkKey& k) const {
        const std::size_t a = std::hash<std::string_view>{}(k.ssid);
        return a ^ (std::hash<std::string_view>{}(k.bssid) + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
    }
};

}  // namespace

std::vector<TrustedNetworkItem> availableNetworks(const std::vector<WiFiScanEntry>& scan,
                                                  const std::vector<TrustedNetworkItem>& trusted) {
    // A scan may list thousands of access points against a long trusted list.
    std::unordered_set<NetworkKey, NetworkKeyHash> known;
    known.reserve(trusted.size());
    for (const auto& item : trusted) known.insert({item.SSID, item.BSSID});
    std::vector<TrustedNetworkItem> offered;
    for (const auto& entry : scan) {
        if (!entry.ssid || !entry.bssid) continue;
        if (known.count({*entry.ssid, *entry.bssid})) continue;
        offered.push_back({*entry.ssid, *entry.bssid});
    }
    return offered;
}

}  // namespace hw
