#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/trusted_network_item.h"
#include "core/vpn_protocols.h"
#include "platform/url_opener.h"
#include "platform/wifi.h"

// The settings window's decisions that need no window: the pane table, the
// protocol choices, the list layout's geometry, the support e-mail and the
// filter of the add-network sheet.
namespace hw {

// One pane: its item identifier (tab bar and toolbar), its tab, its texts.
struct SettingsPaneItem {
    const char* identifier;
    const char* tab;
    const std::string& (*tabbarTitle)();
    const std::string& (*toolbarLabel)();
    const char* image;
    const char* action;  // the toolbar action's name, as it logs itself
};

// General, Protocol, Auto Wi-Fi, Kill Switch, Support, in tab bar order.
const std::array<SettingsPaneItem, 5>& settingsPaneItems();
// None for an identifier that is not one of the five.
const SettingsPaneItem* settingsPaneItem(std::string_view identifier);

// The radio cells and the single page's pop-up offer these, by index.
inline constexpr std::array<VPNProtocols, 3> kSettingsProtocolChoices = {VPNProtocols::Automatic,
                                                                          VPNProtocols::OpenVPN, VPNProtocols::L2TP};
// The cell showing a stored protocol text; none for a text no cell offers
// (" PPTP", " IKEv2", " IKEv2 ", anything else).
std::optional<int> settingsProtocolIndex(std::string_view storedText);
// What choosing a cell stores; none outside 0 to 2.
std::optional<std::string> settingsProtocolText(int index);

// The description under the pop-up for an index 0 to 4; any other index is
// logged and shows the automatic one.
std::string vpnProtocolDescription(int index);

// The sections of the list layout and its rows, in row order.
enum class SettingsOptionsSections { general, support, vpnProtocols, wi_Fi_Security, killSwitch };
struct SettingsListItemModel {
    SettingsListItemModel(SettingsOptionsSections section, std::string header, std::optional<std::string> icon)
        : section(section), header(std::move(header)), icon(std::move(icon)) {}
    SettingsOptionsSections section;
    std::string header;
    std::optional<std::string> icon;
};
std::vector<SettingsListItemModel> settingsListRows();

// Positions in the details document grow upwards from Support at y 0; a
// position is the bottom edge of what is shown.
double detailsYForSection(SettingsOptionsSections section, double documentHeight);
// The list row whose band holds the position; a band's upper boundary
// belongs to it.
int getRowIndexByYScrollPosition(double y);

// "mailto:" + address + "?subject=" + subject + "&body=" + body, subject and
// body as RFC 6068 query values: a blank is %20, and "&", "=", "#" and every
// non-ASCII octet are escaped, so nothing the user writes ends a field.
std::string supportRequestMailto(std::string_view address, std::string_view subjectPrefix, std::string_view topic,
                                 std::string_view body);

// The scan's networks that are not trusted yet (same SSID and BSSID,
// octet for octet), in scan order; entries missing either are left out and
// duplicates are kept.
std::vector<TrustedNetworkItem> availableNetworks(const std::vector<WiFiScanEntry>& scan,
                                                  const std::vector<TrustedNetworkItem>& trusted);

// Opens a backend link only when it is a web address; either way the link,
// which may carry the account token, is never logged.
bool openWebLink(URLOpener& opener, const std::optional<std::string>& link, std::string_view logCategory);

}  // namespace hw
