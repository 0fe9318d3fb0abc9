#include "windows/details_pane/main_view_details_area_controller.h"
#include "core/application_model.h"
#include "core/grapheme_text.h"
#include "platform/log.h"
#include "services/locations_list_item_model.h"
#include "texts/locale_data.h"

namespace hw {

namespace {
constexpr const char* kLog = "MainViewDetailsAreaController";
}  // namespace

std::string MainViewDetailsAreaController::internetNotReachableError() const {
    return LocaleData::internet_connection_unavailable_error_part_1() + "\n" +
           LocaleData::internet_connection_unavailable_error_part_2();
}

std::string MainViewDetailsAreaController::internetNotReachableErrorUpperText() const {
    return LocaleData::internet_connection_unavailable_error_part_1();
}

std::string MainViewDetailsAreaController::helperToolError() const {
    return LocaleData::helper_tool_command_execute_error();
}

void MainViewDetailsAreaController::onConnection_Refused_NotificationHandler(const std::string& text) {
    auto& model = this->model();
    log::info(kLog, "onConnection_Refused_NotificationHandler() refusal: " + text);
    view_.setConnectionDetailsBoxHidden(true);
    // What a held lock's overlay says, too.
    showErrorNotificationBar(text);
    skipConnectingStateNotification_ = false;
    if (model.startMinimized) shell_.showConnectionErrorNotification();
    onDisconnectedStateNotification(true, false);
}

void MainViewDetailsAreaController::onConnection_Error_NotificationHandler(const std::string& text, ErrorLook look) {
    auto& model = this->model();
    log::info(kLog, "onConnection_Error_NotificationHandler() error: " + text);
    view_.setConnectionDetailsBoxHidden(true);
    if (look == ErrorLook::absorbed) return;
    const bool showError = look == ErrorLook::shown;
    if (text == LocaleData::openvpn_not_reachable_error_notification()) {
        model.isConnectedToInternet = true;
        if (!model.networkLockActivated) onDisconnectedStateNotification(true, true);
        if (showError) showErrorNotificationBar(internetNotReachableError());
        return;
    }
    skipConnectingStateNotification_ = false;
    if (life_.inAttempt()) {
        log::info(kLog, "the attempt goes on: no error bar under its reconnecting look");
    } else if (showError) {
        showErrorNotificationBar(text);
        if (model.startMinimized) shell_.showConnectionErrorNotification();
    }
    onDisconnectedStateNotification(true, false);
}

void MainViewDetailsAreaController::onNoWayOutAfterRelease() {
    log::info(kLog, "the lock is lifted and nothing leads out");
    // A try that runs has its own look; the bar goes once the network is back.
    if (!model().isLoggedInUser || life_.inAttempt()) return;
    showErrorNotificationBar(internetNotReachableError());
}

void MainViewDetailsAreaController::showTopNotificationErrorBar(const std::string& text) {
    ErrorBarContent bar;
    const std::string name = dataObject_ ? dataObject_->name : std::string();
    if (name.find_first_not_of(" \t\n") == std::string::npos) {
        // "Cannot connect to ." names nothing: say only that the connection failed.
        log::warning(kLog, "connection error without a chosen location: " + text);
        bar.upperText = LocaleData::vpn_ppp_error_no_location_prefix();
    } else {
        bar.upperText = LocaleData::vpn_ppp_error_new_prefix_1() + " " + name + ".";
    }
    if (text == LocaleData::vpn_ppp_error_new_3()) {
        bar.upperText = LocaleData::vpn_ppp_error_new_prefix_2();
    } else if (text == LocaleData::vpn_ppp_error_new_1()) {
        bar.pickDifferentLocationLinkVisible = true;
    }
    bar.upperTextTopConstraint = 6.0;
    if (text == internetNotReachableError()) {
        bar.upperText = LocaleData::internet_connection_unavailable_error_part_1();
        bar.lowerText = LocaleData::internet_connection_unavailable_error_part_2();
    } else if (text == helperToolError()) {
        bar.upperText = LocaleData::helper_tool_command_execute_error_upper();
        bar.lowerText = LocaleData::helper_tool_command_execute_error_lower();
    } else if (text == LocaleData::helper_unreachable_error() ||
               text == LocaleData::helper_unreachable_disconnect_error()) {
        bar.upperText = LocaleData::helper_unreachable_error_upper();
        bar.lowerText = text == LocaleData::helper_unreachable_error()
                            ? LocaleData::helper_unreachable_error_lower()
                            : LocaleData::helper_unreachable_disconnect_error_lower();
    } else if (characterCount(text) >= MAX_CHARS_TO_USE_SMALLER_FONT) {
        bar.multiLine = true;
        bar.multiLineText = text;
        bar.upperTextTopConstraint = -1.0;
    } else {
        bar.lowerText = text;
    }
    errorBar_ = bar;
    view_.setErrorBar(errorBar_);
    showTopNotificationBar(PaneTopBar::error);
    log::info(kLog, "the error bar shows: " + text);
}

void MainViewDetailsAreaController::onHelperCarriedOut() {
    // The bar said DNS, IPv6 and the kill switch stay as they are: no longer true.
    if (errorBar_.upperText != LocaleData::helper_unreachable_error_upper()) return;
    log::info(kLog, "the helper carried out the Disconnect: its error bar goes");
    hideErrorNotificationBar();
}

void MainViewDetailsAreaController::hideErrorNotificationBar() {
    errorBar_.upperText.clear();
    hideTopNotificationBar(PaneTopBar::error);
}

void MainViewDetailsAreaController::onErrorTopNotificationBar_CloseButton_click() {
    log::info(kLog, "onErrorTopNotificationBar_CloseButton_click");
    hideErrorNotificationBar();
}

void MainViewDetailsAreaController::onHelperToolFailedToPerfromCommand_Error() {
    showErrorNotificationBar(helperToolError());
}

}  // namespace hw
