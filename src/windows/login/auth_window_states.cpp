// The login window's layout states, button label and links.
#include "windows/login/auth_window_view_controller.h"
#include "platform/log.h"
#include "services/links_manager.h"
#include "texts/locale_data.h"
#include "windows/sign_up/sign_up_road.h"

namespace hw {
namespace {

constexpr char kLog[] = "LoginView";

bool isWebAddress(const std::string& url) {
    return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

}  // namespace

void AuthWindowViewController::customizeComponents() {
    view_.setText(AuthPart::signUpFreeButton, LocaleData::login_window_sign_up_free_button());
    view_.setText(AuthPart::logInLinkButton, LocaleData::login_window_log_in_link_button());
    view_.setText(AuthPart::tosLinkedButton, LocaleData::login_window_terms_and_agreements_link_button());
    view_.setText(AuthPart::needHelpLinkButton, LocaleData::login_window_need_help_link_button());
    view_.setText(AuthPart::loginButton, LocaleData::login_window_login_button());
    view_.setText(AuthPart::signMeOnStart, LocaleData::login_window_sign_me_in_checkbox());
    view_.setText(AuthPart::forgotPasswordLink, LocaleData::login_window_forgot_button_label());
    view_.setText(AuthPart::createNewAccountLink, LocaleData::createNewAccountLink_label());
    view_.setText(AuthPart::dontHaveAnAccountSubview, LocaleData::login_window_dont_have_account_label());
    view_.setText(AuthPart::alreadyHaveAccountSubview, LocaleData::login_window_already_have_account_label());
    view_.setText(AuthPart::tosPrefixLabel, LocaleData::login_window_tos_prefix_label());
    view_.setText(AuthPart::creatingYourAccountSubview, LocaleData::login_window_creating_account_label());
    view_.setText(AuthPart::accountCreatedSubview, LocaleData::login_window_account_created_label());
}

void AuthWindowViewController::updateCreateNewAccountLink() {
    view_.setText(AuthPart::createNewAccountLink, LocaleData::createNewAccountLink_label());
}

void AuthWindowViewController::changeLoginButtonLabelAccordingToState() {
    const std::string& label = isInSignUpCompletedState_ ? LocaleData::login_window_get_started_button()
                               : isInSignUpState_        ? LocaleData::login_window_sign_up_button()
                                                         : LocaleData::login_window_login_button();
    view_.setText(AuthPart::loginButton, label);
}

// What the log-in and sign-up states hide, one row per control.
namespace {
struct FormStateRow {
    AuthPart part;
    bool hiddenInLogIn;
    bool hiddenInSignUp;
};
constexpr FormStateRow kFormStates[] = {
    {AuthPart::alreadyHaveAccountSubview, true, false},
    {AuthPart::dontHaveAnAccountSubview, false, true},
    {AuthPart::creatingYourAccountSubview, true, true},
    {AuthPart::accountCreatedSubview, true, true},
    {AuthPart::tosSubview, true, false},
    {AuthPart::signMeOnStart, false, true},
    {AuthPart::forgotPasswordLink, false, true},
    {AuthPart::needHelpLinkButton, false, true},
    // An account is being made already: no second road to making one.
    {AuthPart::createNewAccountLink, false, true},
    {AuthPart::signUpCompletedImage, true, true},
    {AuthPart::loginFieldsGroup, false, false},
};
}  // namespace

void AuthWindowViewController::activateLogIn_state() {
    later([this] {
        hideErrorNotificationBar();
        view_.setText(AuthPart::loginButton, LocaleData::login_window_login_button());
        view_.setImage(AuthPart::usernameAndEmailIcon, "User_icon");
        for (const FormStateRow& row : kFormStates) view_.setHidden(row.part, row.hiddenInLogIn);
        view_.setText(AuthPart::logInSignUpLabel, LocaleData::login_window_log_in_top_label());
        // The title names the form the window shows, in its heading's words.
        setWindowName(LocaleData::login_window_log_in_top_label());
        changeWindowTitleName();
        view_.setPlaceholder(AuthPart::loginField, LocaleData::login_window_username_placeholder());
        view_.setPlaceholder(AuthPart::passwordField, LocaleData::login_window_password_placeholder());
        isInSignUpState_ = false;
    });
}

void AuthWindowViewController::activateSignUp_state() {
    later([this] {
        hideErrorNotificationBar();
        view_.setText(AuthPart::loginButton, LocaleData::login_window_sign_up_button());
        view_.setImage(AuthPart::usernameAndEmailIcon, "Email_icon");
        for (const FormStateRow& row : kFormStates) view_.setHidden(row.part, row.hiddenInSignUp);
        view_.setText(AuthPart::logInSignUpLabel, LocaleData::login_window_sign_up_top_label());
        setWindowName(LocaleData::login_window_sign_up_top_label());
        changeWindowTitleName();
        view_.setPlaceholder(AuthPart::loginField, LocaleData::login_window_sign_up_email_address_placeholder());
        view_.setPlaceholder(AuthPart::passwordField,
                             LocaleData::login_window_sign_up_choose_password_placeholder());
        isInSignUpState_ = true;
    });
}

void AuthWindowViewController::activateSignUpInProgress_state() {
    later([this] {
        view_.setText(AuthPart::loginButton, {});
        view_.setHidden(AuthPart::tosSubview, false);
        view_.setHidden(AuthPart::signUpCompletedImage, true);
        view_.setHidden(AuthPart::loginFieldsGroup, false);
        isInSignUpCompletedState_ = false;
    });
}

void AuthWindowViewController::activateSignUpCompleted_state() {
    hideLoginProgressIndicator();
    later([this] {
        for (AuthPart p : {AuthPart::alreadyHaveAccountSubview, AuthPart::dontHaveAnAccountSubview,
                           AuthPart::creatingYourAccountSubview, AuthPart::tosSubview, AuthPart::loginFieldsGroup,
                           AuthPart::createNewAccountLink}) {
            view_.setHidden(p, true);
        }
        view_.setHidden(AuthPart::accountCreatedSubview, false);
        view_.setHidden(AuthPart::signUpCompletedImage, false);
        isInSignUpCompletedState_ = true;
        view_.setText(AuthPart::loginButton, LocaleData::login_window_get_started_button());
    });
}

// --- links ---

void AuthWindowViewController::openWebLink(const std::optional<std::string>& url) {
    // Backend-configured links: only web pages, and never logged.
    if (!url || !isWebAddress(*url)) {
        log::info(kLog, "link not configured or not a web address; nothing opened");
        return;
    }
    context().urlOpener.openURL(*url);
}

void AuthWindowViewController::onForgotButtonClick() {
    if (loginButtonDisabled_) return;
    openWebLink(deps_.linksManager.forgotPasswordLink());
}

void AuthWindowViewController::onNeedHelpLinkButtonClick() {
    openWebLink(deps_.linksManager.knowledgeBaseURL());
    log::info(kLog, "onNeedHelpLinkButtonClick");
}

void AuthWindowViewController::onToSButtonClick() {
    if (view_.alpha(AuthPart::tosLinkedButton) != 1.0) return;
    openWebLink(deps_.linksManager.termsOfServiceLink());
}

void AuthWindowViewController::onCreateNewAccountButtonClick() {
    if (loginButtonDisabled_) return;
    openAccountSignUp(model(), deps_.linksManager, deps_.shell, context().urlOpener);
}

}  // namespace hw
