#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/uuid_helper.h"
#include "platform/backend/parse_client.h"
#include "platform/http.h"

namespace hw {

class AuthService;

// The account sign-up: its state, the two hashes the backend checks, the
// authorize request on the web API and the "signupForFreeTrial" call.
class FreeTrialSignUpService {
public:
    // What the authorize request answered (the window decides what to show).
    struct AuthorizeOutcome {
        bool success = false;
        std::optional<std::string> token;
        std::optional<std::int64_t> code;
        std::optional<std::string> message;
    };
    // What the sign-up call answered: success, or a code text and a message.
    struct SignUpOutcome {
        bool success = false;
        std::string code;
        std::string message;
    };
    // The five campaign values the application was started with.
    struct CampaignParameters {
        std::string utm_source, utm_term, utm_campaign, utm_medium, pixel_url;
    };

    FreeTrialSignUpService(ParseClient& parse, HttpClient& http, UUIDHelper& uuid, MainQueue& queue);
    ~FreeTrialSignUpService();

    std::optional<std::string> username;  // Base64 of the e-mail
    std::optional<std::string> password;  // Base64 of the password
    std::optional<std::string> usernamePlain;
    std::optional<std::string> passwordPlain;
    std::optional<std::string> authorizeToken;
    std::string tokenForAuthorize;
    std::string authHash;
    const std::string sharedStringForSignUp = "KLMq7741%%@%";
    bool emailVerificationPending = false;
    bool verificationInProgress = false;

    // Set by the hub: the verification check signs in through it.
    AuthService* authService = nullptr;
    // The sign-up window's side of the verification check; each runs on the
    // main queue, and only while set.
    std::function<void()> showProgressIndicatorHandler;
    std::function<void()> hideProgressIndicatorHandler;
    std::function<void()> emailVerificationApprovedHandler;
    std::function<void(const std::string& title, const std::string& text)> alertHandler;

    static constexpr char kValidationErrorTitle[] = "Validation Error";

    // Checks that the new account can sign in, then syncs it with the backend.
    void onEmailVerificationCompleted();
    void onEmailVerificationApproved();
    void showProgressIndicator();
    void hideProgressIndicator();

    // Stores the four fields from what the user typed.
    void setCredentials(const std::string& email, const std::string& plainPassword);

    std::string UUID() const;
    static std::string sharedStringForAuthorize();
    void prepareForFreeTrialAuthorize();
    void prepareForFreeTrialSignUp();

    // POSTs "email=..&uuid=..&token=.." (values as they are) to the resolved
    // authorize link; the completion runs once, on the main queue.
    void authorizeForFreeTrial(const std::string& url, const std::string& emailBase64,
                               std::function<void(AuthorizeOutcome)> completion);
    static AuthorizeOutcome readAuthorizeReply(const HttpResponse& response);

    static CampaignParameters campaignParameters(const std::optional<std::vector<std::string>>& launchArguments);
    // Calls "signupForFreeTrial" with the Base64 credentials and the token.
    void performFreeTrialSignUp(const std::string& emailBase64, const std::string& passwordBase64,
                                const std::string& token, const CampaignParameters& campaign,
                                std::function<void(SignUpOutcome)> completion);
    static SignUpOutcome readSignUpReply(const JSON& result, const OptionalParseError& error);

private:
    ParseClient& parse_;
    HttpClient& http_;
    UUIDHelper& uuid_;
    MainQueue& queue_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
