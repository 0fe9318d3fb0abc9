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

AuthService::AuthService(ParseClient& parse, SecretStoreQueue& keychain, ApplicationModel& model, std::string service)
    : parse_(parse), keychain_(keychain), model_(model), service_(std::move(service)) {}

AuthService::~AuthService() = default;

std::string AuthService::itemName(const char* key) {
    return GlobalConstants::isEnterpriseVersion ? std::string("enterprise_") + key : std::string(key);
}

void AuthService::login(const std::string& username, const std::string& password, Completion completion) {
    log::info(kLog, "AuthService -- login process started..");
    const auto attempt = ++attempt_;
    ++accountChanges_;
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
    recentLoginData_ = LoginData{username, password, referenceData};
    std::weak_ptr<bool> alive = alive_;
    const auto changes = accountChanges_;
    keychain_.run([this, alive, changes, answer = keychain_.answerer(), service = service_, username, password,
                   referenceData](SecretStore& store) {
        const bool stored = store.writeString(service, itemName(kUsernameKey), username) &&
                            store.writeString(service, itemName(kPasswordKey), password) &&
                            store.write(service, itemName(kPasswordDataKey), referenceData);
        if (stored) return;
        answer([this, alive, changes] {
            log::warning(kLog, "the credentials could not be stored in the keychain");
            // Without the items the record is no longer complete: no automatic sign-in on its strength.
            if (!alive.expired() && changes == accountChanges_ && recentLoginData_) recentLoginData_->passwordData.reset();
        });
    });
}

void AuthService::restoreLoginDataFromKeychain(std::function<void(std::optional<LoginData>)> done) {
    std::weak_ptr<bool> alive = alive_;
    const auto changes = accountChanges_;
    auto answered = std::make_shared<bool>(false);
    keychain_.mainQueue().postAfter(kKeychainWaitMs, [alive, answered] {
        if (alive.expired() || *answered) return;
        log::warning(kLog, "the keychain has not answered in " + std::to_string(kKeychainWaitMs / 1000) +
                               " s; the login form stays empty until it does");
    });
    keychain_.run([this, alive, changes, answered, done = std::move(done), answer = keychain_.answerer(),
                   service = service_](SecretStore& store) {
        std::optional<LoginData> found;
        const auto user = store.read(service, itemName(kUsernameKey));
        if (user.status == SecretStatus::Found && !user.data.empty()) {
            found = LoginData{user.text(), "", std::nullopt};
            const auto password = store.read(service, itemName(kPasswordKey));
            if (password.status == SecretStatus::Found) found->password = password.text();
            const auto reference = store.read(service, itemName(kPasswordDataKey));
            if (reference.status == SecretStatus::Found) found->passwordData = reference.data;
        }
        answer([this, alive, changes, answered, done, found = std::move(found)] {
            *answered = true;
            if (alive.expired()) return;
            if (changes != accountChanges_) {
                log::info(kLog, "the keychain's answer came after a sign-in or sign-out began; dropped");
                return;
            }
            if (found) {
                recentLoginData_ = found;
                wasLoginDataRestoredFromKeychain = true;
            }
            if (done) done(found);
        });
    });
}

void AuthService::logOut() {
    log::info(kLog, "AuthService -- log out");
    ++attempt_;  // a sign-in still in flight must not sign the user back in
    ++accountChanges_;
    for (const char* key : {kUsernameKey, kPasswordKey, kPasswordDataKey}) keychain_.remove(service_, itemName(key));
    // The login window offers the same e-mail again, but never the password.
    if (recentLoginData_ && !recentLoginData_->username.empty())
        recentLoginData_ = LoginData{recentLoginData_->username, "", std::nullopt};
    else recentLoginData_.reset();
    wasLoginDataRestoredFromKeychain = false;
    parse_.logOut();
}

}  // namespace hw
