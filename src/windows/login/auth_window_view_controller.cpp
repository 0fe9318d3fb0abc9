#include "windows/login/auth_window_view_controller.h"

#include <utility>

#include "core/run_on_main_queue.h"
#include "core/settings_user_defaults.h"
#include "platform/log.h"
#include "services/analytics_event.h"
#include "services/auth_service.h"
#include "services/enterprise_auth_service.h"
#include "texts/locale_data.h"
#include "view/user_defaults_controller.h"
#include "windows/login/auth_window_sign_up.h"

namespace hw {
namespace {

constexpr char kLog[] = "LoginView";
constexpr double kAutoLoginDelayMs = 50;
constexpr const char* kSignMeInKey = SettingsUserDefaults::signMeInWhenHavenwayStarts;

// Blanks and tabs at either end; line ends stay.
std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool AuthWindowViewController::ACTIVATE_SIGN_UP_STATE = false;
bool AuthWindowViewController::ACTIVATE_LOG_IN_STATE = false;

AuthWindowViewController::AuthWindowViewController(const BaseControllerContext& context, WindowView& window,
                                                   AuthWindowView& view, AuthWindowDependencies dependencies,
                                                   bool isEnterpriseVersion)
    : BaseWindowViewController(context, window),
      view_(view),
      deps_(dependencies),
      isEnterpriseVersion_(isEnterpriseVersion) {
    setWindowName(LocaleData::login_window_log_in_top_label());
    view_.setActions(this);
    if (deps_.enterpriseAuthService) {
        std::weak_ptr<bool> alive = alive_;
        // A failed code exchange would otherwise leave the page waiting for
        // ever: say so, and start the page over.
        deps_.enterpriseAuthService->onFailure = [this, alive](const std::string&) {
            if (alive.expired()) return;
            signInRunning_ = false;
            showGenericErorrNotification(std::nullopt);
        };
    }
}

AuthWindowViewController::~AuthWindowViewController() {
    view_.setActions(nullptr);
    if (deps_.settings && settingsObservation_) deps_.settings->stopObserving(settingsObservation_);
    if (deps_.enterpriseAuthService) deps_.enterpriseAuthService->onFailure = nullptr;
}

void AuthWindowViewController::later(std::function<void()> task) {
    std::weak_ptr<bool> alive = alive_;
    deps_.mainQueue.post([alive, task = std::move(task)] {
        if (!alive.expired()) task();
    });
}

// --- opening ---

void AuthWindowViewController::setupAfterOpening() {
    log::info(kLog, "LoginView -- setupAfterOpening() executed.");
    // A new showing starts idle: nothing from the last one is running.
    signInRunning_ = false;
    if (deps_.settings) {
        // The check box takes effect at once while this window shows.
        deps_.settings->setAppliesImmediately(true);
        if (!settingsObservation_) {
            settingsObservation_ = deps_.settings->observe([this](const std::string& key) {
                if (key == kSignMeInKey) model().signMeInWhenHavenwayStarts = deps_.settings->boolValue(key);
            });
        }
    }
    if (isEnterpriseVersion_) {
        prepareEnterpriseVersionUI();
        return;
    }
    if (model().loginWindowFrame) window().setFrame(*model().loginWindowFrame);
    const bool filled = !ACTIVATE_SIGN_UP_STATE && pendingLoginData;
    if (filled) {
        view_.setText(AuthPart::loginField, pendingLoginData->username);
        view_.setText(AuthPart::passwordField, pendingLoginData->password);
        log::info(kLog, std::string("LoginView -- remembered e-mail filled, password ") +
                            (pendingLoginData->password.empty() ? "empty" : "filled"));
    }
    view_.setEnabled(AuthPart::loginButton, true);
    hideLoginProgressIndicator();
    // Queued after the fields are enabled again (the last sign-in left them
    // disabled, and a disabled field takes no focus). With nothing
    // remembered, typing starts in the e-mail field.
    later([this, filled] { view_.focusField(filled ? AuthPart::passwordField : AuthPart::loginField); });
    hideAllErrorIcons();
    hideErrorNotificationBar();
    updateHandCursorsForLinks();

    const auto recent = deps_.authService.recentLoginData();
    if (!ACTIVATE_SIGN_UP_STATE && model().signMeInWhenHavenwayStarts && recent && AuthService::isComplete(*recent) &&
        !autoLoginAlreadyPerformed_) {
        autoLoginAlreadyPerformed_ = true;
        std::weak_ptr<bool> alive = alive_;
        runOnMainQueueAfter(
            deps_.mainQueue,
            [this, alive] {
                if (!alive.expired()) startLogin();
            },
            kAutoLoginDelayMs);
    } else {
        deps_.shell.prepareWiFiUnsecured_EarlyDetection();
    }
    prepareSignUpOrLogInMode();
    if (networkLockHeld()) later([this] { showHeldNetworkLockNotification(); });
}

void AuthWindowViewController::prepareSignUpOrLogInMode() {
    if (ACTIVATE_SIGN_UP_STATE) {
        ACTIVATE_SIGN_UP_STATE = ACTIVATE_LOG_IN_STATE = false;
        later([this] { activateSignUp_state(); });
        return;
    }
    if (ACTIVATE_LOG_IN_STATE) {
        ACTIVATE_SIGN_UP_STATE = ACTIVATE_LOG_IN_STATE = false;
        later([this] { activateLogIn_state(); });
        return;
    }
    const auto recent = deps_.authService.recentLoginData();
    if (recent && AuthService::hasUsername(*recent)) {
        log::info(kLog, "LoginView -- log-in mode");
        activateLogIn_state();
    } else {
        log::info(kLog, "LoginView -- sign-up mode");
        activateSignUp_state();
    }
}

void AuthWindowViewController::setupBeforeClosing() {
    if (deps_.settings) deps_.settings->setAppliesImmediately(false);
}

void AuthWindowViewController::closeWholeWindow(bool) {
    if (isWindowLoaded()) close();
}

// --- log-in road ---

void AuthWindowViewController::startLogin() { onLoginButtonClick(); }

void AuthWindowViewController::onLoginButtonClick() {
    if (loginButtonDisabled_) {
        log::info(kLog, "loginButtonDisabled");
        return;
    }
    log::info(kLog, "Login button CLICKED");
    userActed_ = true;
    setRestoringAccount(false);
    view_.clearFocus();
    if (!isEnterpriseVersion_) {
        hideAllErrorIcons();
        if (!model().autoReconnectInProgress()) hideErrorNotificationBar();
    }
    if (!isInSignUpCompletedState_ && isInSignUpState_) {
        performSignUpFieldsValidation();
        return;
    }
    if (!checkFields()) return;

    std::string username;
    std::string password;
    if (isEnterpriseVersion_) {
        if (!enterpriseLoginData_) return;
        username = enterpriseLoginData_->username;
        password = enterpriseLoginData_->password;
    } else {
        username = view_.text(AuthPart::loginField);
        password = view_.text(AuthPart::passwordField);
        showLoginProgressIndicator();
    }
    signInRunning_ = true;
    std::weak_ptr<bool> alive = alive_;
    deps_.authService.login(username, password,
                            [this, alive](AuthResults result, std::optional<std::string> message) {
                                if (!alive.expired()) onLoginCompleted(result, message);
                            });
}

void AuthWindowViewController::onEnterPressed(AuthPart field) {
    if (field == AuthPart::loginField) {
        view_.focusField(AuthPart::passwordField);
        return;
    }
    if (field != AuthPart::passwordField) return;
    log::info(kLog, "ENTER key pressed in Password field");
    if (isInSignUpState_ && !isInSignUpCompletedState_) {
        // The same guard as the button: a second ENTER while a request
        // runs must not start a second one.
        if (loginButtonDisabled_) {
            log::info(kLog, "loginButtonDisabled");
            return;
        }
        performSignUpFieldsValidation();
    } else {
        onLoginButtonClick();
    }
}

bool AuthWindowViewController::checkFields() {
    if (isEnterpriseVersion_) return true;
    const std::string username = trimmed(view_.text(AuthPart::loginField));
    const std::string password = trimmed(view_.text(AuthPart::passwordField));
    view_.setText(AuthPart::loginField, username);
    view_.setText(AuthPart::passwordField, password);

    const bool bothEmpty = username.empty() && password.empty();
    if (bothEmpty) showUsernameAndPasswordFieldIsEmptyNotification();
    if (username.empty()) {
        log::info(kLog, "Error: Login field is empty");
        if (!bothEmpty) showUsernameFieldIsEmptyNotification();
    }
    if (password.empty()) {
        log::info(kLog, "Error: Password field is empty");
        if (!bothEmpty) showPasswordFieldIsEmptyNotification();
    }
    return !username.empty() && !password.empty();
}

void AuthWindowViewController::onLoginCompleted(AuthResults result, const std::optional<std::string>& message) {
    if (!isEnterpriseVersion_) hideLoginProgressIndicator();
    const char* value = AnalyticsEvent::LOGIN_PAGE_LOGIN_RESULT_ERROR;
    switch (result) {
    case AuthResults::success:
        log::info(kLog, "AuthResults.SUCCESS");
        // The window stays busy while the application loads its data.
        if (!isEnterpriseVersion_) showLoginProgressIndicator();
        deps_.shell.onLoginSuccess();
        value = AnalyticsEvent::LOGIN_PAGE_LOGIN_RESULT_SUCCESS;
        break;
    case AuthResults::failure:
        log::info(kLog, "AuthResults.FAILURE");
        signInRunning_ = false;
        if (!isEnterpriseVersion_) view_.setEnabled(AuthPart::loginButton, true);
        if (message) {
            showGenericErorrNotification(message);
        } else {
            showUsernameOrPasswordIncorrectNotification();
        }
        deps_.shell.prepareWiFiUnsecured_EarlyDetection();
        deps_.shell.onLoginFailed();
        value = AnalyticsEvent::LOGIN_PAGE_LOGIN_RESULT_FAILED;
        break;
    case AuthResults::error:
        log::info(kLog, "AuthResults.ERROR");
        signInRunning_ = false;
        ++errorsCount_;
        if (!isEnterpriseVersion_) view_.setEnabled(AuthPart::loginButton, true);
        if (networkLockHeld()) showHeldNetworkLockNotification();
        else showGenericErorrNotification(message);
        deps_.shell.prepareWiFiUnsecured_EarlyDetection();
        deps_.shell.onLoginFailed();
        break;
    }
    sendAnalyticsEvent(AnalyticsEvent::LOGIN_PAGE_LOGIN_RESULT_EVENT,
                       AnalyticsParameters{{AnalyticsEvent::LOGIN_PAGE_LOGIN_RESULT_PARAMETER_NAME, value}});
}

void AuthWindowViewController::onDataLoadFailed() {
    log::warning(kLog, "data load after sign-in failed");
    signInRunning_ = false;
    if (!isEnterpriseVersion_) hideLoginProgressIndicator();
    showGenericErorrNotification(std::nullopt);
    deps_.shell.onLoginFailed();
}

// --- progress state ---

void AuthWindowViewController::showLoginProgressIndicator() {
    // Busy from the click on, not from the queued turn: a second click
    // before that turn must not send a second request.
    loginButtonDisabled_ = true;
    ++pendingProgressShows_;
    later([this] {
        --pendingProgressShows_;
        loginButtonDisabled_ = true;
        view_.setHidden(AuthPart::loginProgressIndicator, false);
        view_.setSpinning(true);
        for (AuthPart p : {AuthPart::loginField, AuthPart::passwordField, AuthPart::signMeOnStart}) {
            view_.setEnabled(p, false);
        }
        view_.setAlpha(AuthPart::usernameAndEmailIcon, 0.35);
        view_.setAlpha(AuthPart::passwordIcon, 0.35);
        view_.setText(AuthPart::loginButton, {});
        if (isInSignUpState_ && !isInSignUpCompletedState_) {
            view_.setAlpha(AuthPart::tosPrefixLabel, 0.35);
            view_.setAlpha(AuthPart::tosLinkedButton, 0.35);
            view_.setHidden(AuthPart::creatingYourAccountSubview, false);
            view_.setHidden(AuthPart::alreadyHaveAccountSubview, true);
            view_.setHidden(AuthPart::dontHaveAnAccountSubview, true);
            view_.setHidden(AuthPart::accountCreatedSubview, true);
        }
    });
}

void AuthWindowViewController::hideLoginProgressIndicator() {
    later([this] {
        view_.setSpinning(false);
        view_.setHidden(AuthPart::loginProgressIndicator, true);
        changeLoginButtonLabelAccordingToState();
        if (pendingProgressShows_ == 0) loginButtonDisabled_ = false;
        for (AuthPart p : {AuthPart::loginField, AuthPart::passwordField, AuthPart::signMeOnStart}) {
            view_.setEnabled(p, true);
        }
        view_.setAlpha(AuthPart::usernameAndEmailIcon, 1.0);
        view_.setAlpha(AuthPart::passwordIcon, 1.0);
        if (isInSignUpState_ && !isInSignUpCompletedState_) {
            view_.setAlpha(AuthPart::tosPrefixLabel, 1.0);
            view_.setAlpha(AuthPart::tosLinkedButton, 1.0);
            view_.setHidden(AuthPart::creatingYourAccountSubview, true);
            view_.setHidden(AuthPart::accountCreatedSubview, true);
            view_.setHidden(AuthPart::alreadyHaveAccountSubview, false);
            view_.setHidden(AuthPart::dontHaveAnAccountSubview, true);
        }
    });
}

// --- enterprise ---

bool AuthWindowViewController::canAcceptEnterpriseCode() const {
    return isEnterpriseVersion_ && enterprisePageShown_ && !signInRunning_ && !loginButtonDisabled_;
}

void AuthWindowViewController::startEnterpriseLogin(const std::string& username, const std::string& password) {
    if (!canAcceptEnterpriseCode()) {
        log::warning(kLog, "enterprise credentials arrived while no enterprise sign-in was waiting; dropped");
        return;
    }
    enterpriseLoginData_ = LoginData{username, password, std::nullopt};
    startLogin();
}

void AuthWindowViewController::prepareEnterpriseVersionUI() {
    if (view_.showEnterprisePage()) {
        enterprisePageShown_ = true;
    } else {
        log::warning(kLog, "enterprise sign-in page unavailable; the form stays");
    }
}

}  // namespace hw
