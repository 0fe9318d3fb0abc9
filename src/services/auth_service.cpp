#include "services/auth_service.h"

#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

constexpr std::string_view kLog = "AuthService";

// The backend names the next allowed attempt when it refuses for too many.
bool isTooManyRequests(const ParseError& error) {
    return error.message.find("nextValidRequestDate") != std::string::npos ||
           error.payload["nextValidRequestDate"].exists();
}

}  // namespace

AuthService::AuthService(ParseClient& parse, SecretStore& keychain, ApplicationModel& model, std::string service)
    : parse_(parse), keychain_(keychain), model_(model), service_(std::move(service)) {}

AuthService::~AuthService() = default;

std::string AuthService::itemName(const char* key) {
    return GlobalConstants::isEnterpriseVersion ? std::string("enterprise_") + key : std::string(key);
}

void AuthService::login(const std::string& username, const std::string& password, Completion completion) {
    log::info(kLog, "AuthService -- login process started..");
    const auto attempt = ++attempt_;
    if (!parse_.currentUser()) {
        log::info(kLog, "Log Out Before Login skipped -- Started Normal Log In");
        authenticate(attempt, username, password, std::move(completion));
        return;
    }
    log::info(kLog, "Log Out Before Login processing Started");
    std::weak_ptr<bool> alive = alive_;
    parse_.logOut([this, alive, attempt, username, password, completion](OptionalParseError) {
        if (!alive.expired()) authenticate(attempt, username, password, completion);
    });
}

void AuthService::authenticate(std::uint64_t attempt, const std::string& username, const std::string& password,
                               Completion completion) {
    std::weak_ptr<bool> alive = alive_;
    auto params = JSON::dictionaryLiteral(
        {{"username", username}, {"password", password}, {"platform", model_.platform}, {"version", model_.appVersion}});
    parse_.callFunction("authenticateUser", params,
                        [this, alive, attempt, username, password, completion](JSON result, OptionalParseError error) {
                            if (alive.expired()) return;
                            if (error) {
                                log::warning(kLog, "authenticateUser failed with code " + std::to_string(error->code));
                                if (isTooManyRequests(*error)) {
                                    finish(attempt, AuthResults::error,
                                           LocaleData::login_connection_error_too_many_requests_notification(),
                                           completion);
                                } else {
                                    finish(attempt, AuthResults::error, std::string(" "), completion);
                                }
                                return;
                            }
                            const auto status = result["status"].string();
                            if (status == std::optional<std::string>("success")) {
                                if (attempt == attempt_ && !model_.loginProcessWasCanceled) {
                                    storeCredentials(username, password);
                                }
                                finish(attempt, AuthResults::success, std::nullopt, completion);
                            } else if (status == std::optional<std::string>("failed")) {
                                finish(attempt, AuthResults::failure, std::nullopt, completion);
                            } else {
                                log::warning(kLog, "authenticateUser answered an unknown status");
                                finish(attempt, AuthResults::error, std::nullopt, completion);
                            }
                        });
}

void AuthService::finish(std::uint64_t attempt, AuthResults result, std::optional<std::string> message,
                         const Completion& completion) {
    if (model_.loginProcessWasCanceled || attempt != attempt_) {
        log::info(kLog, "sign-in reply dropped: the sign-in was cancelled or replaced");
        return;
    }
    log::info(kLog, std::string("AuthService -- login finished: ") +
                        (result == AuthResults::success ? "success" : result == AuthResults::failure ? "failure" : "error"));
    if (completion) completion(result, message);
    if (onLoginFinished_postProcessingCallback) onLoginFinished_postProcessingCallback(result == AuthResults::success);
}

void AuthService::storeCredentials(const std::string& username, const std::string& password) {
    // Our keychain has no persistent item references: the reference names the item.
    const std::string reference = service_ + "/" + itemName(kPasswordKey);
    const Bytes referenceData(reference.begin(), reference.end());
    const bool stored = keychain_.writeString(service_, itemName(kUsernameKey), username) &&
                        keychain_.writeString(service_, itemName(kPasswordKey), password) &&
                        keychain_.write(service_, itemName(kPasswordDataKey), referenceData);
    if (!stored) log::warning(kLog, "the credentials could not be stored in the keychain");
    recentLoginData_ = LoginData{username, password, stored ? std::optional<Bytes>(referenceData) : std::nullopt};
}

std::optional<LoginData> AuthService::restoreLoginDataFromKeychain() {
    const auto user = keychain_.read(service_, itemName(kUsernameKey));
    if (user.status != SecretStatus::Found || user.data.empty()) return std::nullopt;
    LoginData data;
    data.username = user.text();
    const auto password = keychain_.read(service_, itemName(kPasswordKey));
    if (password.status == SecretStatus::Found) data.password = password.text();
    const auto reference = keychain_.read(service_, itemName(kPasswordDataKey));
    if (reference.status == SecretStatus::Found) data.passwordData = reference.data;
    recentLoginData_ = data;
    wasLoginDataRestoredFromKeychain = true;
    return data;
}

void AuthService::logOut() {
    log::info(kLog, "AuthService -- log out");
    ++attempt_;  // a sign-in still in flight must not sign the user back in
    for (const char* key : {kUsernameKey, kPasswordKey, kPasswordDataKey}) keychain_.remove(service_, itemName(key));
    // The login window offers the same e-mail again, but never the password.
    if (recentLoginData_ && !recentLoginData_->username.empty())
        recentLoginData_ = LoginData{recentLoginData_->username, "", std::nullopt};
    else recentLoginData_.reset();
    wasLoginDataRestoredFromKeychain = false;
    parse_.logOut();
}

}  // namespace hw
