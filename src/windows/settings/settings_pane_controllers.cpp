#include "windows/settings/settings_pane_controllers.h"

#include "core/settings_user_defaults.h"
#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
using L = LocaleData;
using Keys = SettingsUserDefaults;
}  // namespace

// --- General ---

Settings_GeneralOptionsController::Settings_GeneralOptionsController(const BaseControllerContext& context,
                                                                     SettingsGeneralOptionsView& view,
                                                                     std::function<void()> onParametersChanges)
    : BaseViewController(context), view_(view), onParametersChanges_(std::move(onParametersChanges)) {}

std::vector<SettingsOptionBox> Settings_GeneralOptionsController::optionBoxes() {
    return {
        {L::settings_window_general_options_start_on_app_startup_label(), Keys::startOnOsStartup},
        {L::settings_window_general_options_start_minimized_label(), Keys::startMinimized},
        {L::settings_window_general_options_auto_connect_on_startup_label(), Keys::signMeInWhenHavenwayStarts},
        {L::settings_window_general_options_alert_when_connecting_to_public_network_label(),
         Keys::alertWhenConnectedToPublicNetwork},
        {L::settings_window_general_options_show_notifications_on_connect_disconnect_label(),
         Keys::showNotificationsOnConnectDisconnect},
    };
}

void Settings_GeneralOptionsController::setupComponents() {
    view_.setHeaderText(L::settings_window_general_options_header_label());
    view_.showOptionBoxes(optionBoxes());
}

void Settings_GeneralOptionsController::onOptionChanged() {
    if (onParametersChanges_) onParametersChanges_();
}

// --- Protocol ---

Settings_VPNProtocolsOptionsController::Settings_VPNProtocolsOptionsController(
    const BaseControllerContext& context, SettingsVPNProtocolsOptionsView& view,
    std::function<void()> onVPNProtocolSelectionChanged)
    : BaseViewController(context), view_(view), onSelectionChanged_(std::move(onVPNProtocolSelectionChanged)) {}

std::vector<SettingsProtocolChoice> Settings_VPNProtocolsOptionsController::protocolChoices() {
    return {
        {VPNProtocols::Automatic, L::settings_window_vpn_protocols_automatic_label(),
         L::settings_window_vpn_protocols_automatic_description()},
        {VPNProtocols::OpenVPN, L::settings_window_vpn_protocols_open_vpn_label(),
         L::settings_window_vpn_protocols_open_vpn_description()},
        {VPNProtocols::L2TP, L::settings_window_vpn_protocols_l2tp_label(),
         L::settings_window_vpn_protocols_l2tp_description()},
        {VPNProtocols::IKEv2_StrongSwan, L::settings_window_vpn_protocols_ikev2_label(),
         L::settings_window_vpn_protocols_ikev2_description()},
    };
}

int Settings_VPNProtocolsOptionsController::choiceIndex(const std::string& storedText) {
    const auto choices = protocolChoices();
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (rawValue(choices[i].protocol) == storedText) return int(i);
    return -1;
}

void Settings_VPNProtocolsOptionsController::setupComponents() {
    view_.setHeaderText(L::settings_window_vpn_protocols_header_label());
    view_.showProtocolChoices(protocolChoices());
    view_.setProtocolsGroupEnabled(enabled_);
}

void Settings_VPNProtocolsOptionsController::disableProtocolsChanging() { setEnabled(false); }

void Settings_VPNProtocolsOptionsController::enableProtocolsChanging() { setEnabled(true); }

void Settings_VPNProtocolsOptionsController::setEnabled(bool enabled) {
    enabled_ = enabled;
    view_.setProtocolsGroupEnabled(enabled);
}

void Settings_VPNProtocolsOptionsController::onProtocolChosen() {
    if (onSelectionChanged_) onSelectionChanged_();
}

// --- Support ---

Settings_SupportOptionsController::Settings_SupportOptionsController(const BaseControllerContext& context,
                                                                     SettingsSupportOptionsView& view, Actions actions)
    : BaseViewController(context), view_(view), actions_(std::move(actions)) {}

void Settings_SupportOptionsController::setupComponents() {
    view_.setHeaderText(L::settings_window_support_options_header_label());
    view_.showLinks({L::settings_window_support_create_ticket_label(), L::settings_window_support_run_speed_test_label()});
    view_.setCheckForUpdatesTitle(L::settings_window_check_for_updates_button());
}

void Settings_SupportOptionsController::onLinkClicked(int index) {
    const std::function<void()>* action = nullptr;
    switch (index) {
        case createTicketField: action = &actions_.openSupportTicket; break;
        case runASpeedTestField: action = &actions_.runSpeedTest; break;
        default: log::info("Settings_SupportOptionsController", "default case"); return;
    }
    if (*action) (*action)();
}

void Settings_SupportOptionsController::onCheckForUpdatesClick() {
    if (actions_.checkForUpdates) actions_.checkForUpdates();
}

}  // namespace hw
