#include "windows/settings/settings_entire_page_controller.h"

#include "platform/log.h"
#include "texts/locale_data.h"
#include "windows/settings/settings_window_logic.h"

namespace hw {

namespace {
constexpr char kLog[] = "Settings_EntirePageController";
}

Settings_EntirePageController::Settings_EntirePageController(const BaseControllerContext& context,
                                                             SettingsEntirePageView& view, Links links)
    : BaseViewController(context),
      VPN_PROTOCOLS_LIST{LocaleData::settings_window_vpn_protocols_automatic_clean_label(),
                         LocaleData::settings_window_vpn_protocols_open_vpn_clean_label(),
                         LocaleData::settings_window_vpn_protocols_l2tp_clean_label()},
      view_(view),
      links_(std::move(links)) {}

void Settings_EntirePageController::setupVPNProtocolsDropdownMenu() { view_.setProtocolMenuItems(VPN_PROTOCOLS_LIST); }

void Settings_EntirePageController::selectVPNProtocol(int index) {
    view_.selectProtocolMenuItem(index);
    changeVPNProtocolDescription(index);
}

void Settings_EntirePageController::changeVPNProtocolDescription(int index) {
    view_.setProtocolDescription(vpnProtocolDescription(index));
}

void Settings_EntirePageController::onVPNProtocolsDropdownChanged() {
    changeVPNProtocolDescription(view_.selectedProtocolMenuItem());
}

void Settings_EntirePageController::populateCopyrightField() {
    view_.setVersionText(LocaleData::fill(LocaleData::settings_window_version_format_label(), model().appVersion));
}

void Settings_EntirePageController::onWiFiSecurity_Enabled_Changed(bool on) {
    if (on) set_WiFiUnsecured_Enabled_state();
    else set_WiFiUnsecured_Disabled_state();
}

void Settings_EntirePageController::set_WiFiUnsecured_Enabled_state() {
    log::info(kLog, "set_WiFiUnsecured_Enabled_state");
    view_.setWiFiDescriptionPaddingBottom(59.0);
    view_.hideKeepEnabledAlert();
}

void Settings_EntirePageController::set_WiFiUnsecured_Disabled_state() {
    log::info(kLog, "set_WiFiUnsecured_Disabled_state");
    view_.setWiFiDescriptionPaddingBottom(42.0);
    view_.slideInKeepEnabledAlert(100.0);
}

void Settings_EntirePageController::open(const std::function<std::optional<std::string>()>& link) const {
    openWebLink(context().urlOpener, link ? link() : std::nullopt, kLog);
}

}  // namespace hw
