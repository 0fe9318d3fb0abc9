#include "windows/login/auth_window_sign_up.h"

#include "core/global_constants.h"
#include "platform/log.h"
#include "texts/locale_data.h"
#include "windows/sign_up/sign_up_fields_validation.h"

namespace hw {
namespace {

constexpr char kLog[] = "LoginView";

std::pair<std::string, std::string> alreadyExists() {
    return {LocaleData::free_trial_sign_up_error_account_already_exist_notification(),
            LocaleData::free_trial_sign_up_error_account_already_exist_notification_description()};
}
std::pair<std::string, std::string> tooManyAttempts() {
    return {LocaleData::free_trial_sign_up_error_too_many_attempts_notification(),
            LocaleData::free_trial_sign_up_error_too_many_attempts_notification_description()};
}
std::pair<std::string, std::string> genericFor(bool fromAuthorizeCall) {
    if (fromAuthorizeCall) {
        return {LocaleData::free_trial_sign_up_authorize_call_generic_error_notification(),
                LocaleData::free_trial_sign_up_authorize_call_generic_error_notification_description()};
    }
    return {LocaleData::free_trial_sign_up_error_generic_error_notification(),
            LocaleData::free_trial_sign_up_error_generic_error_notification_description()};
}

}  // namespace

std::pair<std::string, std::string> AuthWindowViewController::SignUpDisplay::errorTexts(const std::string& code,
                                                                                       bool fromAuthorizeCall) {
    // The two requests number their refusals differently.
    if (fromAuthorizeCall) {
        if (code == "10" || code == "11") return alreadyExists();
        if (code == "12") return tooManyAttempts();
    } else {
        if (code == "1") return alreadyExists();
        if (code == "10") return tooManyAttempts();
    }
    return genericFor(fromAuthorizeCall);
}

void AuthWindowViewController::SignUpDisplay::signUpStarted() {
    window_.activateSignUpInProgress_state();
    window_.showLoginProgressIndicator();
}

void AuthWindowViewController::SignUpDisplay::signUpEnded() { window_.hideLoginProgressIndicator(); }

void AuthWindowViewController::SignUpDisplay::showSignUpError(const std::string& code, const std::string&,
                                                               bool fromAuthorizeCall) {
    const auto [upper, lower] = errorTexts(code, fromAuthorizeCall);
    window_.showErrorNotificationBar(upper, lower);
}

void AuthWindowViewController::SignUpDisplay::showSignUpPlainError(const std::string&, bool fromAuthorizeCall) {
    const auto [upper, lower] = genericFor(fromAuthorizeCall);
    window_.showErrorNotificationBar(upper, lower);
}

void AuthWindowViewController::SignUpDisplay::onSignUpSucceed() {
    log::info(kLog, "LoginView -- account created");
    window_.hideLoginProgressIndicator();
    window_.activateSignUpCompleted_state();
}

std::int64_t AuthWindowViewController::authorizeCallAttemptsCount() const {
    return signUpRoad_ ? signUpRoad_->authorizeCallAttemptsCount : 0;
}

void AuthWindowViewController::performSignUpFieldsValidation() {
    hideErrorNotificationBar();
    const SignUpFieldsCheck check =
        validateSignUpFields(view_.text(AuthPart::loginField), view_.text(AuthPart::passwordField), std::nullopt);
    view_.setText(AuthPart::loginField, check.email);
    view_.setText(AuthPart::passwordField, check.password);
    if (check.error) {
        showErrorNotificationBar(check.error->upper, check.error->lower);
        return;
    }
    onStartFreeTrialActionApproved(check.email, check.password);
}

void AuthWindowViewController::onStartFreeTrialActionApproved(const std::string& email, const std::string& password) {
    if (!deps_.freeTrialService) {
        log::info(kLog, "no sign-up service; nothing sent");
        return;
    }
    if (!signUpRoad_) {
        signUpDisplay_ = std::make_unique<SignUpDisplay>(*this);
        signUpRoad_ = std::make_unique<SignUpRoad>(
            SignUpRoadDependencies{*deps_.freeTrialService, deps_.authService, deps_.linksManager, model(),
                                   deps_.mainQueue, context().analytics},
            *signUpDisplay_);
    }
    signUpRoad_->onStartFreeTrialActionApproved(email, password);
}

void AuthWindowViewController::onStartYourFreeTrialButtonClick() {
    log::info(kLog, "onStartYourFreeTrialButtonClick()");
}

}  // namespace hw
