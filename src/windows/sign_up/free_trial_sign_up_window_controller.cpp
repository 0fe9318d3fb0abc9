#include "windows/sign_up/free_trial_sign_up_window_controller.h"

#include "core/application_model.h"
#include "core/global_constants.h"
#include "core/settings_user_defaults.h"
#include "platform/log.h"
#include "platform/main_queue.h"
#include "services/links_manager.h"
#include "texts/locale_data.h"
#include "view/user_defaults_controller.h"
#include "windows/sign_up/sign_up_fields_validation.h"

namespace hw {
namespace {

constexpr char kLog[] = "FreeTrialSignUp";
constexpr char kSignUpErrorTitle[] = "Sign Up Error";

constexpr SignUpErrorBarLayout kBarShown{160.0, 10.0, 48.0, 1.0};
constexpr SignUpErrorBarLayout kBarHidden{73.0, -40.0, -2.0, 0.0};

constexpr SignUpPart kHiddenOnVerify[] = {SignUpPart::enterYourDetailsLabel, SignUpPart::loginFieldsGroup,
                                          SignUpPart::existingUserLabel, SignUpPart::existingUserButton,
                                          SignUpPart::startFreeButton};
constexpr SignUpPart kShownOnVerify[] = {SignUpPart::verifyEmailLabel,       SignUpPart::emailEnvelopeImage,
                                         SignUpPart::alreadyVerifiedButton,  SignUpPart::alreadyVerifiedLabel,
                                         SignUpPart::weSentVerificationEmailLabel, SignUpPart::sent_to_Email_addressField,
                                         SignUpPart::resendVerificationEmailBar};
constexpr SignUpPart kHiddenOnCompleted[] = {
    SignUpPart::enterYourDetailsLabel,  SignUpPart::loginFieldsGroup,        SignUpPart::existingUserLabel,
    SignUpPart::existingUserButton,     SignUpPart::startFreeButton,         SignUpPart::agreeToOurTermsCheckbox,
    SignUpPart::termsOfServiceButton,   SignUpPart::verifyEmailLabel,        SignUpPart::emailEnvelopeImage,
    SignUpPart::checkInboxButton,       SignUpPart::alreadyVerifiedButton,   SignUpPart::alreadyVerifiedLabel,
    SignUpPart::weSentVerificationEmailLabel, SignUpPart::sent_to_Email_addressField,
    SignUpPart::resendVerificationEmailBar, SignUpPart::logoImage};

bool isWebAddress(const std::string& url) { return url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0; }

}  // namespace

FreeTrialSignUpWindowController::FreeTrialSignUpWindowController(const BaseControllerContext& context,
                                                                 WindowView& window, FreeTrialSignUpWindowView& view,
                                                                 FreeTrialSignUpDependencies dependencies)
    : BaseWindowViewController(context, window),
      view_(view),
      deps_(std::move(dependencies)),
      road_(SignUpRoadDependencies{deps_.service, deps_.authService, deps_.linksManager, context.model,
                                   deps_.mainQueue, context.analytics},
            *this) {
    setWindowName("Create Account");
    view_.setActions(this);
}

FreeTrialSignUpWindowController::~FreeTrialSignUpWindowController() {
    *alive_ = false;
    view_.setActions(nullptr);
    deps_.service.showProgressIndicatorHandler = nullptr;
    deps_.service.hideProgressIndicatorHandler = nullptr;
    deps_.service.emailVerificationApprovedHandler = nullptr;
    deps_.service.alertHandler = nullptr;
}

void FreeTrialSignUpWindowController::later(std::function<void()> task) {
    std::weak_ptr<bool> alive = alive_;
    deps_.mainQueue.post([alive, task = std::move(task)] {
        if (!alive.expired()) task();
    });
}

void FreeTrialSignUpWindowController::customizeComponents() {
    view_.setPlaceholder(SignUpPart::emailAddressField, LocaleData::free_trial_sign_up_email_placeholder());
    view_.setPlaceholder(SignUpPart::passwordField, LocaleData::free_trial_password_placeholder());
    view_.setPlaceholder(SignUpPart::passwordRevealedField, LocaleData::free_trial_password_placeholder());
    view_.setTitle(SignUpPart::existingUserButton, LocaleData::free_trial_sign_up_existing_user_button(),
                   {12.0, true, true});
    view_.setTitle(SignUpPart::termsOfServiceButton, LocaleData::free_trial_sign_up_terms_of_service_link_button(),
                   {10.0, true, true});
    view_.setTitle(SignUpPart::revealPasswordButton, LocaleData::revealPasswordLink_label(), {12.0, false, false});
    view_.setTitle(SignUpPart::startFreeButton, LocaleData::free_trial_sign_up_start_free_button(),
                   {SIGN_UP_BUTTON_FONT_SIZE, true, false});
    view_.setTitle(SignUpPart::checkInboxButton, LocaleData::free_trial_sign_up_check_inbox_button(),
                   {12.0, true, false});
    view_.setTitle(SignUpPart::startFreeTrialButton, LocaleData::free_trial_sign_up_start_your_free_trial_button(),
                   {SIGN_UP_BUTTON_FONT_SIZE, true, false});
    view_.setTitle(SignUpPart::alreadyVerifiedButton, LocaleData::free_trial_sign_up_already_verified_button(),
                   {12.0, false, true});

    // The verification check drives the verify screen's controls.
    std::weak_ptr<bool> alive = alive_;
    deps_.service.showProgressIndicatorHandler = [this, alive] {
        if (alive.expired()) return;
        view_.setHidden(SignUpPart::emailEnvelopeImage, true);
        view_.setHidden(SignUpPart::alreadyVerifiedButton, true);
        view_.setHidden(SignUpPart::activityIndicator, false);
        view_.setAnimating(SignUpPart::activityIndicator, true);
        view_.setEnabled(SignUpPart::checkInboxButton, false);
    };
    deps_.service.hideProgressIndicatorHandler = [this, alive] {
        if (alive.expired()) return;
        view_.setHidden(SignUpPart::emailEnvelopeImage, false);
        view_.setHidden(SignUpPart::alreadyVerifiedButton, false);
        view_.setAnimating(SignUpPart::activityIndicator, false);
        view_.setHidden(SignUpPart::activityIndicator, true);
        view_.setEnabled(SignUpPart::checkInboxButton, true);
    };
    deps_.service.emailVerificationApprovedHandler = [this, alive] {
        if (!alive.expired()) onEmailVerificationApproved();
    };
    deps_.service.alertHandler = [this, alive](const std::string& title, const std::string& text) {
        if (!alive.expired()) alertWithTitle(title, text);
    };
}

void FreeTrialSignUpWindowController::setupAfterOpening() {
    if (model().loginWindowFrame) window().setFrame(*model().loginWindowFrame);
    else window().center();
    hideErrorNotificationBar();
}

// Field checks and the error bar.

void FreeTrialSignUpWindowController::performSignUpFieldsValidation() {
    if (view_.isHidden(SignUpPart::passwordField)) {
        view_.setText(SignUpPart::passwordField, view_.text(SignUpPart::passwordRevealedField));
    }
    clearAllValidationErrors();
    const SignUpFieldsCheck check = validateSignUpFields(view_.text(SignUpPart::emailAddressField),
                                                         view_.text(SignUpPart::passwordField),
                                                         view_.isChecked(SignUpPart::agreeToOurTermsCheckbox));
    view_.setText(SignUpPart::emailAddressField, check.email);
    view_.setText(SignUpPart::passwordField, check.password);
    if (check.error) {
        showValidationError(check.error->upper, check.error->lower);
        return;
    }
    road_.onStartFreeTrialActionApproved(check.email, check.password);
}

void FreeTrialSignUpWindowController::showValidationError(const std::string& upper, const std::string& lower) {
    if (!errorUpperText_.empty()) return;
    showErrorNotificationBar(upper, lower);
}

void FreeTrialSignUpWindowController::clearAllValidationErrors() {
    errorUpperText_.clear();
    view_.setErrorTexts({}, errorLowerText_);
    hideErrorNotificationBar();
}

void FreeTrialSignUpWindowController::showErrorNotificationBar(const std::string& upper, const std::string& lower) {
    errorUpperText_ = upper;
    errorLowerText_ = lower;
    view_.setErrorTexts(upper, lower);
    view_.setErrorBarLayout(SignUpErrorBarLayout{kBarHidden.barTopSpacing, kBarHidden.fieldsGroupCenterY,
                                                 kBarHidden.logoTopSpacing, 0.0},
                            0);
    view_.setErrorBarLayout(kBarShown, kErrorBarAnimationMs);
}

void FreeTrialSignUpWindowController::hideErrorNotificationBar() {
    view_.setErrorBarLayout(kBarHidden, kErrorBarAnimationMs);
}

// Busy state.

void FreeTrialSignUpWindowController::applyBusy(bool busy) {
    view_.setHidden(SignUpPart::signUpLoadingIndicator, !busy);
    view_.setAnimating(SignUpPart::signUpLoadingIndicator, busy);
    view_.setEnabled(SignUpPart::emailAddressField, !busy);
    view_.setEnabled(SignUpPart::passwordField, !busy);
    view_.setEnabled(SignUpPart::existingUserLabel, !busy);
    // Disabled too, so a second click cannot start a second account.
    view_.setEnabled(SignUpPart::startFreeButton, !busy);
    signUpButtonDisabled_ = busy;
    if (busy) view_.setTitle(SignUpPart::startFreeButton, {}, {});
    else
        view_.setTitle(SignUpPart::startFreeButton, LocaleData::free_trial_sign_up_start_free_button(),
                       {12.0, true, false});
}

void FreeTrialSignUpWindowController::showActivityIndicator() { applyBusy(true); }

void FreeTrialSignUpWindowController::hideActivityIndicator() {
    later([this] { applyBusy(false); });
}

// The road's outcomes.

void FreeTrialSignUpWindowController::showSignUpError(const std::string& code, const std::string& message, bool) {
    const bool blank = message.empty() || message == " ";
    alertWithTitle(kSignUpErrorTitle, blank ? message + " (Error code: " + code + ")" : message);
}

void FreeTrialSignUpWindowController::onInternetConnectionBecomeUnReachable() {
    alertWithTitle("Internet Connection Error", LocaleData::free_trial_internet_connection_unavailable_error());
}

void FreeTrialSignUpWindowController::showSignUpPlainError(const std::string& text, bool) {
    alertWithTitle(kSignUpErrorTitle, text);
}

void FreeTrialSignUpWindowController::onSignUpSucceed() { showVerificationComplitedView(); }

// Screens.

void FreeTrialSignUpWindowController::showVerifyEmailView() {
    isInVerifyEmailState_ = true;
    log::info(kLog, "showVerifyEmailView()");
    hideActivityIndicator();
    later([this] {
        for (SignUpPart part : kHiddenOnVerify) view_.setHidden(part, true);
        for (SignUpPart part : kShownOnVerify) view_.setHidden(part, false);
        view_.setText(SignUpPart::sent_to_Email_addressField, view_.text(SignUpPart::emailAddressField));
    });
}

void FreeTrialSignUpWindowController::showVerificationComplitedView() {
    std::weak_ptr<bool> alive = alive_;
    deps_.mainQueue.postAfter(kCompletedScreenDelayMs, [this, alive] {
        if (alive.expired()) return;
        isInVerifyEmailState_ = false;
        hideActivityIndicator();
        later([this] {
            for (SignUpPart part : kHiddenOnCompleted) view_.setHidden(part, true);
            view_.setHidden(SignUpPart::completedStateBackground, false);
            view_.setHidden(SignUpPart::startFreeTrialButton, false);
        });
    });
}

void FreeTrialSignUpWindowController::onEmailVerificationApproved() { showVerificationComplitedView(); }

void FreeTrialSignUpWindowController::setRememberMeFlag() {
    if (deps_.settings) {
        deps_.settings->setAppliesImmediately(true);
        deps_.settings->setValue(SettingsUserDefaults::signMeInWhenHavenwayStarts, SettingValue(true));
        deps_.settings->setAppliesImmediately(false);
    }
    model().signMeInWhenHavenwayStarts = true;
}

void FreeTrialSignUpWindowController::openLoginView() {
    model().loginWindowFrame = isWindowLoaded() ? std::optional<WindowFrame>(window().frame()) : std::nullopt;
    deps_.shell.hideFreeTrialSignUpWindow();
    ShellCommands& shell = deps_.shell;
    deps_.mainQueue.post([&shell] { shell.openAuthWindowToLogIn(); });
}

// Actions.

void FreeTrialSignUpWindowController::onStartFreeButtonClicked() {
    if (signUpButtonDisabled_) {
        log::info(kLog, "loginButtonDisabled");
        return;
    }
    performSignUpFieldsValidation();
}

void FreeTrialSignUpWindowController::onLogInButtonClick() {
    log::info(kLog, "existingUserButton.customLinkClickHandler");
    if (signUpButtonDisabled_) {
        log::info(kLog, "loginButtonDisabled");
        return;
    }
    openLoginView();
}

void FreeTrialSignUpWindowController::onShowPasswordButtonClick() {
    log::info(kLog, "onShowPasswordButtonClick");
    if (view_.text(SignUpPart::passwordField).empty()) return;
    const bool reveal = !view_.isHidden(SignUpPart::passwordField);
    view_.setHidden(SignUpPart::passwordField, reveal);
    view_.setHidden(SignUpPart::passwordRevealedField, !reveal);
    if (reveal) {
        view_.setText(SignUpPart::passwordRevealedField, view_.text(SignUpPart::passwordField));
        view_.focus(SignUpPart::passwordRevealedField);
        view_.setTitle(SignUpPart::revealPasswordButton, LocaleData::hidePasswordLink_label(), {12.0, false, false});
    } else {
        view_.setText(SignUpPart::passwordField, view_.text(SignUpPart::passwordRevealedField));
        view_.focus(SignUpPart::passwordField);
        view_.setTitle(SignUpPart::revealPasswordButton, LocaleData::revealPasswordLink_label(), {12.0, false, false});
    }
}

void FreeTrialSignUpWindowController::onToSButtonClick() {
    const auto url = deps_.linksManager.termsOfServiceLink();
    if (url && isWebAddress(*url)) context().urlOpener.openURL(*url);
}

void FreeTrialSignUpWindowController::onCheckInboxButtonClick() {
    if (deps_.launchMailClient) deps_.launchMailClient();
}

void FreeTrialSignUpWindowController::onResendVerificationEmailClick() {
    log::info(kLog, "onResendVerificationEmailClick");
}

void FreeTrialSignUpWindowController::onAlreadyVerifiedLinkClick() {
    deps_.service.onEmailVerificationCompleted();
    if (GlobalConstants::freeTrialVerificationStep) showVerificationComplitedView();
}

void FreeTrialSignUpWindowController::onStartYourFreeTrialButtonClick() {
    log::info(kLog, "onStartYourFreeTrialButtonClick()");
    setRememberMeFlag();
    openLoginView();
}

void FreeTrialSignUpWindowController::onEnterPressed(SignUpPart field) {
    log::info(kLog, "ENTER key pressed in Password field");
    if (field == SignUpPart::passwordField || field == SignUpPart::passwordRevealedField) {
        onStartFreeButtonClicked();
    } else if (field == SignUpPart::emailAddressField) {
        view_.focus(view_.isHidden(SignUpPart::passwordField) ? SignUpPart::passwordRevealedField
                                                              : SignUpPart::passwordField);
    }
}

}  // namespace hw
