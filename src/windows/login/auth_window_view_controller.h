#pragma once
#include <memory>
#include <optional>
#include <string>

#include "core/application_model_ports.h"
#include "services/auth_results.h"
#include "view/base_window_view_controller.h"
#include "windows/login/auth_window_view.h"
#include "windows/shared/shell_commands.h"

namespace hw {

class AuthService;
class FreeTrialSignUpService;
class LinksManager;
class SignUpRoad;
class EnterpriseAuthService;
class MainQueue;
class UserDefaultsController;

// What the login window is handed. Each reference must outlive it.
struct AuthWindowDependencies {
    AuthService& authService;
    LinksManager& linksManager;
    MainQueue& mainQueue;
    ShellCommands& shell;
    // The code exchange of the enterprise sign-in; none outside that mode.
    EnterpriseAuthService* enterpriseAuthService = nullptr;
    // What the sign-me-in check box is bound through; none: unbound.
    UserDefaultsController* settings = nullptr;
    // --- account creation ---
    // The sign-up road's service; none: sign-up starts nothing.
    FreeTrialSignUpService* freeTrialService = nullptr;
};

// The login window: the form and its log-in and sign-up states, automatic
// sign-in, the two notice bars, and the enterprise sign-in page in place of
// the form. Plain C++; main thread only.
class AuthWindowViewController final : public BaseWindowViewController, private AuthWindowActions {
public:
    // Chosen by the welcome window; read and cleared by the next opening.
    static bool ACTIVATE_SIGN_UP_STATE;
    static bool ACTIVATE_LOG_IN_STATE;

    static constexpr double LOGIN_INPUT_FIELDS_FONT_SIZE = 13.0;
    static constexpr double LOGIN_BUTTON_FONT_SIZE = 11.0;
    static constexpr double ERROR_BAR_NORMAL_HEIGHT = 47.0;
    static constexpr double ERROR_BAR_INCREASED_HEIGHT = 63.0;

    AuthWindowViewController(const BaseControllerContext& context, WindowView& window, AuthWindowView& view,
                             AuthWindowDependencies dependencies, bool isEnterpriseVersion);
    ~AuthWindowViewController() override;

    // Set by the shell before the window is shown.
    std::optional<LoginData> pendingLoginData;

    bool loginButtonDisabled() const { return loginButtonDisabled_; }
    bool isInSignUpState() const { return isInSignUpState_; }
    bool isInSignUpCompletedState() const { return isInSignUpCompletedState_; }
    void setIsInSignUpCompletedState(bool value) { isInSignUpCompletedState_ = value; }
    int errorsCount() const { return errorsCount_; }
    const AuthBarLayout& barLayout() const { return layout_; }
    bool isEnterpriseVersion() const { return isEnterpriseVersion_; }
    bool isShowingEnterprisePage() const { return enterprisePageShown_; }

    void setupAfterOpening() override;
    void prepareSignUpOrLogInMode();
    void startLogin();
    void closeWholeWindow(bool ignored = false);
    void updateCreateNewAccountLink();
    void updateHandCursorsForLinks() {}

    // Enterprise sign-in: the shell asks before it exchanges a code, and
    // hands the credentials over afterwards.
    bool canAcceptEnterpriseCode() const;
    void startEnterpriseLogin(const std::string& username, const std::string& password);
    void prepareEnterpriseVersionUI();

    // The data load that follows a successful sign-in failed.
    void onDataLoadFailed();
    // While the remembered account is read, the notice bar says so.
    void setRestoringAccount(bool restoring);
    bool isRestoringAccount() const { return restoringAccount_; }
    // The remembered account is lost (no store gave it): never an empty form without a word.
    // why: the store's answer, shown as plain text.
    void showAccountNotRestoredNotification(const std::string& why);
    // A sign-in begun, or a form chosen, by the user since the window opened.
    bool userHasActed() const { return userActed_; }

    // Notices.
    void showErrorNotificationBar(const std::string& title, const std::string& lowerText = {});
    void hideErrorNotificationBar();
    void showNormalNotificationArea();
    void hideNormalNotificationArea();
    void hideAllErrorIcons() { hideNormalNotificationArea(); }
    void showUsernameAndPasswordFieldIsEmptyNotification();
    void showUsernameFieldIsEmptyNotification();
    void showPasswordFieldIsEmptyNotification();
    void showUsernameOrPasswordIncorrectNotification();
    void showGenericErorrNotification(const std::optional<std::string>& message);
    void showInternetConnectionIsUnavailableNotification();
    // A kill switch lock left by an earlier run blocks every sign-in: says
    // so, beside the control that releases it.
    void showHeldNetworkLockNotification();
    bool networkLockHeld() const;

    // Layout states; each runs in one later main-queue turn.
    void activateLogIn_state();
    void activateSignUp_state();
    void activateSignUpInProgress_state();
    void activateSignUpCompleted_state();
    void changeLoginButtonLabelAccordingToState();

    void showLoginProgressIndicator();
    void hideLoginProgressIndicator();

    // The controls' actions.
    void onLoginButtonClick() override;
    void onEnterPressed(AuthPart field) override;
    void onSignUpFreeLinkButtonClick() override {
        userActed_ = true;
        setRestoringAccount(false);
        activateSignUp_state();
    }
    void onLogInLinkButtonClick() override {
        userActed_ = true;
        setRestoringAccount(false);
        activateLogIn_state();
    }
    void onForgotButtonClick() override;
    void onNeedHelpLinkButtonClick() override;
    void onToSButtonClick() override;
    void onCreateNewAccountButtonClick() override;
    void onLiftNetworkLockClick() override;

protected:
    void customizeComponents() override;
    void setupBeforeClosing() override;

private:
    bool checkFields();
    void onLoginCompleted(AuthResults result, const std::optional<std::string>& message);
    void performSignUpFieldsValidation();
    void openWebLink(const std::optional<std::string>& url);
    void applyBarLayout(int durationMs);
    // Runs the task in a later main-queue turn, unless the controller has gone.
    void later(std::function<void()> task);

    AuthWindowView& view_;
    AuthWindowDependencies deps_;
    const bool isEnterpriseVersion_;

    bool loginButtonDisabled_ = false;
    // Queued progress displays not yet run: a hide queued before them must
    // not open the button again.
    int pendingProgressShows_ = 0;
    bool isInSignUpState_ = false;
    bool isInSignUpCompletedState_ = false;
    bool autoLoginAlreadyPerformed_ = false;
    bool restoringAccount_ = false;
    bool userActed_ = false;
    // From the request until its reply; after a success, until the window
    // opens again or the data load fails.
    bool signInRunning_ = false;
    bool enterprisePageShown_ = false;
    int errorsCount_ = 0;
    std::optional<LoginData> enterpriseLoginData_;
    AuthBarLayout layout_;
    int settingsObservation_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // --- account creation (auth_window_sign_up.cpp) ---
public:
    std::int64_t authorizeCallAttemptsCount() const;
    void onStartFreeTrialActionApproved(const std::string& email, const std::string& password);
    void onStartYourFreeTrialButtonClick();

private:
    class SignUpDisplay;
    friend class SignUpDisplay;
    // The road outlives no display: declared after it, destroyed first.
    std::unique_ptr<SignUpDisplay> signUpDisplay_;
    std::unique_ptr<SignUpRoad> signUpRoad_;
};

}  // namespace hw
