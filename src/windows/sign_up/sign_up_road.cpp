#include "windows/sign_up/sign_up_road.h"

#include <variant>

#include "core/application_model.h"
#include "platform/log.h"
#include "platform/main_queue.h"
#include "platform/url_opener.h"
#include "services/analytics_event.h"
#include "services/auth_service.h"
#include "services/links_manager.h"
#include "texts/locale_data.h"
#include "windows/shared/shell_commands.h"

namespace hw {
namespace {

constexpr char kLog[] = "SignUp";

}  // namespace

SignUpRoad::SignUpRoad(SignUpRoadDependencies dependencies, SignUpRoadDisplay& display)
    : deps_(std::move(dependencies)), display_(display) {}

SignUpRoad::~SignUpRoad() { *alive_ = false; }

void SignUpRoad::onStartFreeTrialActionApproved(const std::string& email, const std::string& password) {
    display_.signUpStarted();
    deps_.service.setCredentials(email, password);
    deps_.authService.setRecentLoginData(LoginData{email, password, std::nullopt});
    authorizeForFreeTrial();
}

void SignUpRoad::authorizeForFreeTrial() {
    const std::string url = deps_.linksManager.resolvedLinkString(deps_.model.authorizeForFreeTrialLink);
    std::weak_ptr<bool> alive = alive_;
    deps_.service.authorizeForFreeTrial(url, deps_.service.username.value_or(""),
                                        [this, alive](FreeTrialSignUpService::AuthorizeOutcome outcome) {
                                            if (!alive.expired()) onAuthorizeForFreeTrialCompleted(outcome);
                                        });
}

void SignUpRoad::onAuthorizeForFreeTrialCompleted(const FreeTrialSignUpService::AuthorizeOutcome& outcome) {
    if (outcome.success && outcome.token) {
        performFreeTrialSignAfterAuthorize(*outcome.token);
    } else if (authorizeCallAttemptsCount <= 0) {
        // One silent resend in the owner's life: the first authorize of a
        // fresh install often races the backend's own set-up.
        authorizeForFreeTrial();
    } else {
        const std::string& fallback = LocaleData::free_trial_failed_to_authorize_error_notification();
        if (!outcome.code) {
            showSignUpErrorPlainNotificationToUser(fallback, true);
        } else {
            showSignUpErrorNotificationToUser(std::to_string(*outcome.code), outcome.message.value_or(fallback), true);
        }
        endLater();
    }
    ++authorizeCallAttemptsCount;
}

void SignUpRoad::performFreeTrialSignAfterAuthorize(const std::string& token) {
    deps_.service.authorizeToken = token;
    deps_.service.prepareForFreeTrialSignUp();
    std::optional<std::vector<std::string>> arguments;
    if (auto stored = deps_.model.appLaunchParameters()) {
        if (const auto* list = std::get_if<StringList>(&stored->value)) arguments = *list;
    }
    const auto campaign = FreeTrialSignUpService::campaignParameters(arguments);
    std::weak_ptr<bool> alive = alive_;
    deps_.service.performFreeTrialSignUp(deps_.service.username.value_or(""), deps_.service.password.value_or(""),
                                         token, campaign, [this, alive](FreeTrialSignUpService::SignUpOutcome outcome) {
                                             if (alive.expired()) return;
                                             if (outcome.success) {
                                                 display_.onSignUpSucceed();
                                                 sendSignUpEvent({{AnalyticsEvent::SIGN_UP_RESULT_PARAMETER_NAME,
                                                                   AnalyticsEvent::SIGN_UP_RESULT_SUCCESS}});
                                                 return;
                                             }
                                             showSignUpErrorNotificationToUser(outcome.code, outcome.message, false);
                                             endLater();
                                         });
}

void SignUpRoad::sendSignUpEvent(const AnalyticsParameters& parameters) const {
    if (deps_.analytics) deps_.analytics(AnalyticsEvent::SIGN_UP_PAGE_RESULT_EVENT, parameters);
}

void SignUpRoad::showSignUpErrorNotificationToUser(const std::string& code, const std::string& message,
                                                   bool fromAuthorizeCall) {
    sendSignUpEvent({{AnalyticsEvent::SIGN_UP_RESULT_PARAMETER_NAME, AnalyticsEvent::SIGN_UP_RESULT_ERROR},
                     {AnalyticsEvent::SIGN_UP_ERROR_MESSAGE_PARAMETER_NAME, message + " (Error code: " + code + ")"}});
    display_.showSignUpError(code, message, fromAuthorizeCall);
}

void SignUpRoad::showSignUpErrorPlainNotificationToUser(const std::string& text, bool fromAuthorizeCall) {
    display_.showSignUpPlainError(text, fromAuthorizeCall);
    sendSignUpEvent({{AnalyticsEvent::SIGN_UP_RESULT_PARAMETER_NAME, AnalyticsEvent::SIGN_UP_RESULT_ERROR},
                     {AnalyticsEvent::SIGN_UP_ERROR_MESSAGE_PARAMETER_NAME, text}});
}

void SignUpRoad::endLater() {
    log::info(kLog, "sign-up request ended without an account");
    std::weak_ptr<bool> alive = alive_;
    deps_.mainQueue.post([this, alive] {
        if (!alive.expired()) display_.signUpEnded();
    });
}

void openAccountSignUp(const ApplicationModel& model, const LinksManager& links, ShellCommands& shell,
                       URLOpener& opener) {
    if (!model.rejectInAppFreeTrialSignUp) {
        shell.createNewAccountForAppStoreCommand();
        return;
    }
    const auto url = links.createNewAccountLink();
    if (url && (url->rfind("https://", 0) == 0 || url->rfind("http://", 0) == 0)) {
        opener.openURL(*url);
    } else {
        log::info("LoginView", "create-account link not configured or not a web address; nothing opened");
    }
}

}  // namespace hw
