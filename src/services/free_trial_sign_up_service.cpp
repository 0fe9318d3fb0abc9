#include "services/free_trial_sign_up_service.h"

#include <cmath>

#include "core/global_constants.h"
#include "core/hashing.h"
#include "services/auth_service.h"
#include "platform/base64.h"
#include "platform/log.h"
#include "services/form_encoding.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

constexpr std::string_view kLog = "FreeTrialSignUpService";

std::string base64(const std::string& text) { return b64::encode(Bytes(text.begin(), text.end())); }

// A JSON number that is a whole value within int64, truncated toward zero.
std::optional<std::int64_t> wholeNumber(const JSON& value) {
    if (value.type() != JSON::Type::number) return std::nullopt;
    auto d = value.double_();
    if (!d || !std::isfinite(*d) || *d >= 9.2e18 || *d <= -9.2e18) return std::nullopt;
    if (auto i = value.int64()) return i;
    return static_cast<std::int64_t>(std::trunc(*d));
}

}  // namespace

FreeTrialSignUpService::FreeTrialSignUpService(ParseClient& parse, HttpClient& http, UUIDHelper& uuid,
                                               MainQueue& queue)
    : parse_(parse), http_(http), uuid_(uuid), queue_(queue) {}

FreeTrialSignUpService::~FreeTrialSignUpService() = default;

void FreeTrialSignUpService::setCredentials(const std::string& email, const std::string& plainPassword) {
    username = base64(email);
    password = base64(plainPassword);
    usernamePlain = email;
    passwordPlain = plainPassword;
}

std::string FreeTrialSignUpService::UUID() const { return uuid_.getUUID().value_or(""); }

std::string FreeTrialSignUpService::sharedStringForAuthorize() {
    return GlobalConstants::useFreeTrialAuthorizeV2 ? "if (k == 3) { y = seed() - 4; }" : "GHtuki884417%&!!&!";
}

void FreeTrialSignUpService::prepareForFreeTrialAuthorize() {
    tokenForAuthorize = SHA1(username.value_or("") + ":" + UUID() + ":" + sharedStringForAuthorize());
}

void FreeTrialSignUpService::prepareForFreeTrialSignUp() {
    authHash = SHA1(username.value_or("") + ":" + password.value_or("") + ":" + UUID() + ":" +
                    authorizeToken.value_or("") + ":" + sharedStringForSignUp);
}

void FreeTrialSignUpService::authorizeForFreeTrial(const std::string& url, const std::string& emailBase64,
                                                   std::function<void(AuthorizeOutcome)> completion) {
    username = emailBase64;
    prepareForFreeTrialAuthorize();
    if (!isWebURL(url)) {
        // Nothing to send to: answer as a transport failure, still on the main queue.
        log::warning(kLog, "authorizeForFreeTrial() response - Error");
        std::weak_ptr<bool> alive = alive_;
        queue_.post([alive, completion] {
            AuthorizeOutcome out;
            out.code = 100;
            if (!alive.expired() && completion) completion(out);
        });
        return;
    }
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.ignoreCache = true;
    // The backend reads the Base64 characters as they are: no escaping.
    request.body = "email=" + emailBase64 + "&uuid=" + UUID() + "&token=" + tokenForAuthorize;
    std::weak_ptr<bool> alive = alive_;
    http_.send(std::move(request), [alive, completion](HttpResponse response) {
        if (alive.expired()) return;
        auto outcome = readAuthorizeReply(response);
        if (completion) completion(std::move(outcome));
    });
}

FreeTrialSignUpService::AuthorizeOutcome FreeTrialSignUpService::readAuthorizeReply(const HttpResponse& response) {
    AuthorizeOutcome out;
    if (response.error || response.body.empty()) {
        log::warning(kLog, "authorizeForFreeTrial() response - Error");
        out.code = 100;
        return out;
    }
    JSON json;
    try {
        json = JSON::fromData(response.body);
    } catch (const std::exception& e) {
        // The body is not logged: it may echo the account.
        log::warning(kLog, std::string("authorizeForFreeTrial() Response is not in JSON format -- error: ") + e.what());
        out.code = 104;
        return out;
    }
    if (json.type() != JSON::Type::dictionary) {
        log::warning(kLog, "authorizeForFreeTrial() - received unknown response");
        out.code = 103;
        return out;
    }
    if (json["errorCode"].exists()) {
        out.code = wholeNumber(json["errorCode"]);
        out.message = json["message"].string();
        log::warning(kLog, "authorizeForFreeTrial() - error received -- Code:" +
                               (out.code ? std::to_string(*out.code) : std::string("none")) +
                               ", message: " + out.message.value_or(""));
        return out;
    }
    auto result = json["result"].string();
    if (!result) {
        log::warning(kLog, "authorizeForFreeTrial() - received unknown response");
        out.code = 103;
        return out;
    }
    auto token = json["authorization_token"].string();
    if (!token) {
        log::warning(kLog, "authorizeForFreeTrial() - authorization_token not exists in response");
        out.code = 102;
        return out;
    }
    if (*result != "success") {
        log::warning(kLog, "authorizeForFreeTrial() - received unknown result: " + *result);
        out.code = 101;
        return out;
    }
    out.success = true;
    out.token = token;
    return out;
}

FreeTrialSignUpService::CampaignParameters FreeTrialSignUpService::campaignParameters(
    const std::optional<std::vector<std::string>>& launchArguments) {
    CampaignParameters p;
    if (launchArguments) {
        const std::pair<const char*, std::string CampaignParameters::*> names[] = {
            {"-utm_source", &CampaignParameters::utm_source},     {"-utm_term", &CampaignParameters::utm_term},
            {"-utm_campaign", &CampaignParameters::utm_campaign}, {"-utm_medium", &CampaignParameters::utm_medium},
            {"-pixel_url", &CampaignParameters::pixel_url}};
        for (const auto& argument : *launchArguments) {
            const auto eq = argument.find('=');
            if (eq == std::string::npos) continue;
            const auto name = argument.substr(0, eq);
            const auto next = argument.find('=', eq + 1);
            const auto value = argument.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
            for (const auto& [key, member] : names) {
                if (name == key) {
                    p.*member = value;
                    log::info(kLog, std::string(key + 1) + ": " + value);
                }
            }
        }
        log::info(kLog, "launch parameters parsing finished.");
    }
    log::info(kLog, "Cli launch parameters passed in 'signupForFreeTrial' call: utm_source: " + p.utm_source +
                        " | utm_term: " + p.utm_term + " | utm_campaign: " + p.utm_campaign +
                        " | utm_medium: " + p.utm_medium + " | pixel_url: " + p.pixel_url);
    return p;
}

void FreeTrialSignUpService::performFreeTrialSignUp(const std::string& emailBase64, const std::string& passwordBase64,
                                                    const std::string& token, const CampaignParameters& campaign,
                                                    std::function<void(SignUpOutcome)> completion) {
    std::string hash;
    if (GlobalConstants::useFreeTrialAuthorizeV2) {
        authorizeToken = token;
        prepareForFreeTrialSignUp();
        hash = authHash;
    }
    auto params = JSON::dictionaryLiteral({{"email_b64", emailBase64},
                                           {"password_b64", passwordBase64},
                                           {"uuid", UUID()},
                                           {"authorization_token", token},
                                           {"token", hash},
                                           {"source", GlobalConstants::platformTag},
                                           {"v2", GlobalConstants::useFreeTrialAuthorizeV2 ? "true" : "false"},
                                           {"utm_source", campaign.utm_source},
                                           {"utm_term", campaign.utm_term},
                                           {"utm_campaign", campaign.utm_campaign},
                                           {"utm_medium", campaign.utm_medium},
                                           {"pixel_url", campaign.pixel_url}});
    std::weak_ptr<bool> alive = alive_;
    parse_.callFunction("signupForFreeTrial", params, [alive, completion](JSON result, OptionalParseError error) {
        if (alive.expired()) return;
        if (completion) completion(readSignUpReply(result, error));
    });
}

FreeTrialSignUpService::SignUpOutcome FreeTrialSignUpService::readSignUpReply(const JSON& result,
                                                                              const OptionalParseError& error) {
    SignUpOutcome out;
    if (error) {
        const auto text = error->payload["error"].string();
        if (!text) {
            out.code = std::to_string(error->code);
            out.message = LocaleData::free_trial_wrong_response_error_notification();
            return out;
        }
        auto inner = JSON::parse(*text);
        auto code = wholeNumber(inner["errorCode"]);
        auto message = inner["message"].string();
        if (inner.type() == JSON::Type::dictionary && code && message) {
            out.code = std::to_string(*code);
            out.message = *message;
        } else {
            out.code = std::to_string(error->code);
            out.message = *text;
        }
        return out;
    }
    if (result.type() != JSON::Type::dictionary) {
        log::warning(kLog, "Unknown response received from 'signupForFreeTrial()' PFCloud function call");
        out.code = "-1";
        out.message = LocaleData::free_trial_unknown_error_notification();
        return out;
    }
    auto status = result["result"].string();
    if (!status || !result["message"].string()) {
        out.message = LocaleData::free_trial_unknown_error_notification();
        return out;
    }
    if (*status != "success") {
        out.message = LocaleData::free_trial_wrong_response_error_notification();
        return out;
    }
    out.success = true;
    return out;
}

void FreeTrialSignUpService::showProgressIndicator() {
    std::weak_ptr<bool> alive = alive_;
    queue_.post([this, alive] {
        if (!alive.expired() && showProgressIndicatorHandler) showProgressIndicatorHandler();
    });
}

void FreeTrialSignUpService::hideProgressIndicator() {
    verificationInProgress = false;
    std::weak_ptr<bool> alive = alive_;
    queue_.post([this, alive] {
        if (!alive.expired() && hideProgressIndicatorHandler) hideProgressIndicatorHandler();
    });
}

void FreeTrialSignUpService::onEmailVerificationApproved() {
    emailVerificationPending = false;
    if (emailVerificationApprovedHandler) emailVerificationApprovedHandler();
}

void FreeTrialSignUpService::onEmailVerificationCompleted() {
    if (verificationInProgress) return;
    if (!authService || !usernamePlain || !passwordPlain) {
        log::warning(kLog, "onEmailVerificationCompleted() -- no sign-up credentials to check");
        return;
    }
    verificationInProgress = true;
    showProgressIndicator();
    std::weak_ptr<bool> alive = alive_;
    const auto user = *usernamePlain;
    const auto pass = *passwordPlain;
    authService->login(user, pass, [this, alive, user, pass](AuthResults result, std::optional<std::string>) {
        if (alive.expired()) return;
        if (result != AuthResults::success) {
            hideProgressIndicator();
            return;
        }
        log::info(kLog, "PARSE call -- syncVPNAcccountDetails started..");
        auto params = JSON::dictionaryLiteral(
            {{"username", user}, {"password", pass}, {"source", GlobalConstants::platformTag}});
        parse_.callFunction("syncVPNAcccountDetails", params, [this, alive](JSON reply, OptionalParseError error) {
            if (alive.expired()) return;
            if (error || reply.type() != JSON::Type::dictionary) {
                // A failed check is not an approval: the user may try again.
                const auto code = error ? std::to_string(error->code) : std::string("202");
                if (alertHandler) {
                    alertHandler(kValidationErrorTitle,
                                 LocaleData::free_trial_validation_error_wrong_reponse_received() +
                                     " (Error code: " + code + ")");
                }
                hideProgressIndicator();
                return;
            }
            hideProgressIndicator();
            queue_.post([this, alive] {
                if (!alive.expired()) onEmailVerificationApproved();
            });
        });
    });
}

}  // namespace hw
