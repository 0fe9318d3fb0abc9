#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "services/free_trial_sign_up_service.h"
#include "view/base_controller_context.h"

namespace hw {

class ApplicationModel;
class AuthService;
class LinksManager;
class MainQueue;
class ShellCommands;
class URLOpener;

// How one window shows the road's progress and outcomes.
class SignUpRoadDisplay {
public:
    virtual ~SignUpRoadDisplay() = default;
    virtual void signUpStarted() = 0;
    // Runs in a later main-queue turn, after the failure was shown.
    virtual void signUpEnded() = 0;
    virtual void showSignUpError(const std::string& code, const std::string& message, bool fromAuthorizeCall) = 0;
    virtual void showSignUpPlainError(const std::string& text, bool fromAuthorizeCall) = 0;
    virtual void onSignUpSucceed() = 0;
};

struct SignUpRoadDependencies {
    FreeTrialSignUpService& service;
    AuthService& authService;
    LinksManager& linksManager;
    ApplicationModel& model;
    MainQueue& mainQueue;
    AnalyticsSink analytics;
};

// Account creation: the authorize request with one silent resend in the
// life of its owner, then the cloud sign-up. Each window owns one, so each
// keeps its own count. Main thread only.
class SignUpRoad {
public:
    SignUpRoad(SignUpRoadDependencies dependencies, SignUpRoadDisplay& display);
    ~SignUpRoad();

    // The fields as validated (already trimmed).
    void onStartFreeTrialActionApproved(const std::string& email, const std::string& password);

    std::int64_t authorizeCallAttemptsCount = 0;

private:
    void authorizeForFreeTrial();
    void onAuthorizeForFreeTrialCompleted(const FreeTrialSignUpService::AuthorizeOutcome& outcome);
    void performFreeTrialSignAfterAuthorize(const std::string& token);
    void showSignUpErrorNotificationToUser(const std::string& code, const std::string& message, bool fromAuthorizeCall);
    void showSignUpErrorPlainNotificationToUser(const std::string& text, bool fromAuthorizeCall);
    void endLater();
    void sendSignUpEvent(const AnalyticsParameters& parameters) const;

    SignUpRoadDependencies deps_;
    SignUpRoadDisplay& display_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Where a new account is made: the sign-up window, or the service's web
// page while accounts are made there.
void openAccountSignUp(const ApplicationModel& model, const LinksManager& links, ShellCommands& shell,
                       URLOpener& opener);

}  // namespace hw
