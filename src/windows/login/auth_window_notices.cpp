// The login window's error bar, yellow notice bar and named notices.
#include "windows/login/auth_error_detail_layout.h"
#include "platform/log.h"
#include "texts/locale_data.h"
#include "windows/login/auth_window_view_controller.h"

namespace hw {
namespace {

constexpr char kLog[] = "LoginView";
constexpr int kBarInMs = 300;
constexpr int kErrorBarOutMs = 500;
constexpr int kYellowBarOutMs = 300;

}  // namespace

void AuthWindowViewController::applyBarLayout(int durationMs) {
    if (durationMs > 0) {
        view_.animateBarLayout(layout_, durationMs);
    } else {
        view_.setBarLayout(layout_);
    }
}

void AuthWindowViewController::showErrorNotificationBar(const std::string& title, const std::string& lowerText) {
    if (isEnterpriseVersion_) {
        std::string detail = lowerText;
        if (title != LocaleData::username_or_password_is_incorrect_error_notification() &&
            detail != LocaleData::generic_error_notification_lower()) {
            detail += "\n" + LocaleData::login_connection_error_notification();
        }
        std::weak_ptr<bool> alive = alive_;
        alertWithTitle(title, detail, [this, alive] {
            if (!alive.expired()) prepareEnterpriseVersionUI();
        });
        return;
    }
    view_.setHidden(AuthPart::errorNotificationsBox, false);
    view_.setText(AuthPart::errorUpperText, title);
    const AuthErrorDetailLayout detail = layoutErrorDetail(lowerText, view_.errorDetailFitsOneLine(lowerText));
    view_.setText(AuthPart::errorLowerText, detail.firstLine);
    view_.setText(AuthPart::errorLowerTextSecondLine, detail.secondLine);
    // A short detail keeps what a long one set before it.
    if (detail.fontSize) layout_.errorDetailFontSize = *detail.fontSize;
    if (detail.titleSpacing) layout_.errorTitleSpacing = *detail.titleSpacing;
    layout_.errorTitleTop = errorTitleTopOffset(detail.firstLine);
    layout_.errorAlpha = 0.5;
    applyBarLayout(0);

    layout_.errorBarHeight = detail.twoLines ? ERROR_BAR_INCREASED_HEIGHT : ERROR_BAR_NORMAL_HEIGHT;
    layout_.errorBarTop = 146.0;
    layout_.fieldsCenterY = detail.twoLines ? -85.0 : -68.0;
    layout_.buttonPaddingBottom = detail.twoLines ? 18.0 : 35.0;
    layout_.errorAlpha = 1.0;
    applyBarLayout(kBarInMs);
}

void AuthWindowViewController::hideErrorNotificationBar() {
    layout_.errorBarTop = 73.0;
    layout_.fieldsCenterY = -25.0;
    layout_.buttonPaddingBottom = 40.0;
    layout_.errorAlpha = 0.0;
    applyBarLayout(kErrorBarOutMs);
}

void AuthWindowViewController::showNormalNotificationArea() {
    view_.setHidden(AuthPart::yellowNotificationBar, false);
    layout_.yellowAlpha = 0.5;
    applyBarLayout(0);
    layout_.yellowBarTop = 146.0;
    layout_.fieldsCenterY = -68.0;
    layout_.yellowAlpha = 1.0;
    applyBarLayout(kBarInMs);
}

void AuthWindowViewController::hideNormalNotificationArea() {
    view_.setHidden(AuthPart::liftNetworkLockButton, true);
    layout_.yellowBarTop = 73.0;
    layout_.fieldsCenterY = -25.0;
    layout_.yellowAlpha = 0.0;
    applyBarLayout(kYellowBarOutMs);
}

void AuthWindowViewController::showUsernameAndPasswordFieldIsEmptyNotification() {
    hideNormalNotificationArea();
    showErrorNotificationBar(LocaleData::username_and_password_field_is_empty_error_notification(),
                             LocaleData::username_and_password_field_is_empty_error_notification_lower());
}

void AuthWindowViewController::showUsernameFieldIsEmptyNotification() {
    hideNormalNotificationArea();
    showErrorNotificationBar(LocaleData::username_field_is_empty_error_notification(),
                             LocaleData::username_field_is_empty_error_notification_lower());
}

void AuthWindowViewController::showPasswordFieldIsEmptyNotification() {
    hideNormalNotificationArea();
    showErrorNotificationBar(LocaleData::password_field_is_empty_error_notification(),
                             LocaleData::password_field_is_empty_error_notification_lower());
}

void AuthWindowViewController::showUsernameOrPasswordIncorrectNotification() {
    if (!isEnterpriseVersion_) hideNormalNotificationArea();
    showErrorNotificationBar(LocaleData::username_or_password_is_incorrect_error_notification(),
                             LocaleData::username_or_password_is_incorrect_error_notification_lower());
}

void AuthWindowViewController::showGenericErorrNotification(const std::optional<std::string>& message) {
    if (!isEnterpriseVersion_) hideNormalNotificationArea();
    showErrorNotificationBar(LocaleData::login_generic_error_notification(),
                             message ? *message : LocaleData::generic_error_notification_lower());
}

void AuthWindowViewController::setRestoringAccount(bool restoring) {
    if (restoring == restoringAccount_ || isEnterpriseVersion_) return;
    restoringAccount_ = restoring;
    if (!restoring) {
        hideNormalNotificationArea();
        return;
    }
    // The account being restored is one to sign in with: no Sign Up form
    // before it arrives.
    if (!userActed_) activateLogIn_state();
    view_.setText(AuthPart::yellowNotificationBarUpperText, LocaleData::login_restoring_account_upper());
    view_.setText(AuthPart::yellowNotificationBarLowerText, LocaleData::login_restoring_account_lower());
    showNormalNotificationArea();
}

void AuthWindowViewController::showAccountNotRestoredNotification(const std::string& why) {
    // The lock's notice holds the only control that lifts it.
    if (isEnterpriseVersion_ || networkLockHeld()) return;
    log::info(kLog, LocaleData::login_account_not_restored_upper() + " " + why);
    view_.setText(AuthPart::yellowNotificationBarUpperText, LocaleData::login_account_not_restored_upper());
    view_.setText(AuthPart::yellowNotificationBarLowerText, why);
    view_.setHidden(AuthPart::liftNetworkLockButton, true);
    showNormalNotificationArea();
}

void AuthWindowViewController::showInternetConnectionIsUnavailableNotification() {
    // The lock is why, and its notice holds the only control that lifts it.
    if (networkLockHeld()) {
        showHeldNetworkLockNotification();
        hideLoginProgressIndicator();
        return;
    }
    hideErrorNotificationBar();
    log::info(kLog, "showInternetConnectionIsUnavailableNotification");
    view_.setText(AuthPart::yellowNotificationBarUpperText, LocaleData::internet_connection_unavailable_error_part_1());
    view_.setText(AuthPart::yellowNotificationBarLowerText,
                  LocaleData::internet_connection_unavailable_error_part_2_for_login_view());
    view_.setHidden(AuthPart::liftNetworkLockButton, true);
    showNormalNotificationArea();
    hideLoginProgressIndicator();
}

bool AuthWindowViewController::networkLockHeld() const {
    // Nobody signed in runs a tunnel: a lock in force now was left by a run
    // that ended without releasing it, and keeps the backend out of reach.
    return model().networkLockActivated && !model().isLoggedInUser;
}

void AuthWindowViewController::showHeldNetworkLockNotification() {
    hideErrorNotificationBar();
    log::info(kLog, "showHeldNetworkLockNotification");
    view_.setText(AuthPart::yellowNotificationBarUpperText, LocaleData::held_network_lock_login_notification());
    view_.setText(AuthPart::yellowNotificationBarLowerText, {});
    view_.setText(AuthPart::liftNetworkLockButton, LocaleData::held_network_lock_login_release());
    view_.setHidden(AuthPart::liftNetworkLockButton, false);
    showNormalNotificationArea();
}

void AuthWindowViewController::onLiftNetworkLockClick() {
    log::info(kLog, "the held network lock is released from the login window");
    hideNormalNotificationArea();
    // The sign-in the lock kept from the backend goes out again, once the
    // lock is gone: sent sooner, it would meet the lock and fail.
    std::weak_ptr<bool> alive = alive_;
    auto signIn = [this, alive] {
        if (alive.expired()) return;
        if (!signInRunning_ && (isEnterpriseVersion_ ? enterpriseLoginData_.has_value()
                                                     : !view_.text(AuthPart::passwordField).empty()))
            startLogin();
    };
    if (model().networkLockActivated) model().liftNetworkLockLeftFromEarlierRun(std::move(signIn));
    else signIn();
}

}  // namespace hw
