#pragma once
#include <functional>
#include <memory>
#include <string>

#include "view/base_window_view_controller.h"
#include "windows/shared/shell_commands.h"
#include "windows/sign_up/free_trial_sign_up_window_view.h"
#include "windows/sign_up/sign_up_road.h"

namespace hw {

class UserDefaultsController;

struct FreeTrialSignUpDependencies {
    FreeTrialSignUpService& service;
    AuthService& authService;
    LinksManager& linksManager;
    MainQueue& mainQueue;
    ShellCommands& shell;
    // The automatic sign-in setting goes through it; none: straight to the model.
    UserDefaultsController* settings = nullptr;
    // Starts the default mail client; failures are the launcher's to swallow.
    std::function<void()> launchMailClient;
};

// The sign-up window: the form, its busy, verify-e-mail and completed
// screens, and the hand-over to the login window. Plain C++; main thread only.
class FreeTrialSignUpWindowController final : public BaseWindowViewController,
                                              private FreeTrialSignUpActions,
                                              private SignUpRoadDisplay {
public:
    static constexpr double LOGIN_INPUT_FIELDS_FONT_SIZE = 14.0;
    static constexpr double SIGN_UP_BUTTON_FONT_SIZE = 11.0;
    static constexpr int PASSWORD_FIELD_MIN_LENGTH = 6;
    static constexpr int kErrorBarAnimationMs = 500;
    static constexpr int kCompletedScreenDelayMs = 1000;

    FreeTrialSignUpWindowController(const BaseControllerContext& context, WindowView& window,
                                    FreeTrialSignUpWindowView& view, FreeTrialSignUpDependencies dependencies);
    ~FreeTrialSignUpWindowController() override;

    bool signUpButtonDisabled() const { return signUpButtonDisabled_; }
    bool isInVerifyEmailState() const { return isInVerifyEmailState_; }
    std::int64_t authorizeCallAttemptsCount() const { return road_.authorizeCallAttemptsCount; }

    void performSignUpFieldsValidation();
    void showActivityIndicator();
    void hideActivityIndicator();
    void showValidationError(const std::string& upper, const std::string& lower = {});
    void clearAllValidationErrors();
    void showVerifyEmailView();
    void showVerificationComplitedView();
    void onEmailVerificationApproved();
    // The no-connection alert; no analytics.
    void onInternetConnectionBecomeUnReachable();
    void setRememberMeFlag();
    void openLoginView();

    // The controls' actions.
    void onStartFreeButtonClicked() override;
    void onLogInButtonClick() override;
    void onShowPasswordButtonClick() override;
    void onToSButtonClick() override;
    void onCheckInboxButtonClick() override;
    void onResendVerificationEmailClick() override;
    void onAlreadyVerifiedLinkClick() override;
    void onStartYourFreeTrialButtonClick() override;
    void onEnterPressed(SignUpPart field) override;

    // The sign-up road's outcomes.
    void onSignUpSucceed() override;

protected:
    void customizeComponents() override;
    void setupAfterOpening() override;
    void setupBeforeClosing() override {}

private:
    void signUpStarted() override { showActivityIndicator(); }
    void signUpEnded() override { hideActivityIndicator(); }
    void showSignUpError(const std::string& code, const std::string& message, bool fromAuthorizeCall) override;
    void showSignUpPlainError(const std::string& text, bool fromAuthorizeCall) override;

    void showErrorNotificationBar(const std::string& upper, const std::string& lower);
    void hideErrorNotificationBar();
    void applyBusy(bool busy);
    void later(std::function<void()> task);

    FreeTrialSignUpWindowView& view_;
    FreeTrialSignUpDependencies deps_;
    SignUpRoad road_;
    bool signUpButtonDisabled_ = false;
    bool isInVerifyEmailState_ = false;
    std::string errorUpperText_;
    std::string errorLowerText_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
