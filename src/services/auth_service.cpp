#include "services/auth_service.h"

#include <utility>

#include "platform/log.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

constexpr std::string_view kLog = "AuthService";

// The backend names the next allowed attempt when it refuses for too many.
// Someone waiting at the sign-in button: long enough for a slow link, short
// enough to wait for.
constexpr double kSignInTimeoutMs = 20000;

bool unreachable(const ParseError& error) {
    return error.code == kParseErrorConnectionFailed || error.code == kParseErrorTimeout;
}

bool isTooManyRequests(const ParseError& error) {
    return error.message.find("nextValidRequestDate") != std::string::npos ||
           error.payload["nextValidRequestDate"].exists();
}

}  // namespace

AuthService::AuthService(ParseClient& parse, SecretStoreQueue& keychain, ApplicationModel& model, std::string service,
                         SecretStoreQueue* fileCopy)
    : parse_(parse), keychain_(keychain), fileCopy_(fileCopy), model_(model), service_(std::move(service)) {}

AuthService::~AuthService() = default;

std::string AuthService::itemName(const char* key) {
    return GlobalConstants::isEnterpriseVersion ? std::string("enterprise_") + key : std::string(key);
}

void AuthService::login(const std::string& username, const std::string& password, Completion completion) {
    log::info(kLog, "AuthService -- login process started..");
    const auto attempt = ++attempt_;
    ++accountChanges_;
    if (parse_.restoring()) {
        // A session stored by the last run is ended before another opens, not left standing beside it.
        log::info(kLog, "the stored session is still being read; the sign-in waits for it");
        std::weak_ptr<bool> alive = alive_;
        auto proceed = [this, alive, attempt, username, password, completion, begun = std::make_shared<bool>(false)] {
            if (alive.expired() || attempt != attempt_ || std::exchange(*begun, true)) return;
            logOutBeforeAuthenticating(attempt, username, password, completion);
        };
        parse_.whenRestored(proceed);
        // Bounded: a session read later than this is revoked when it comes.
        keychain_.mainQueue().postAfter(kStoredSessionWaitMs, proceed);
        return;
    }
    logOutBeforeAuthenticating(attempt, username, password, std::move(completion));
}

void AuthService::logOutBeforeAuthenticating(std::uint64_t attempt, const std::string& username,
                                             const std::string& password, Completion completion) {
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
                                } else if (unreachable(*error)) {
                                    // Said, so that no network is not taken for a wrong password; an
                                    // Internet the watch finds reachable leaves the backend to blame.
                                    const bool internetUp =
                                        internetState_ && internetState_->internetReachable() == true;
                                    const std::string& text =
                                        internetUp ? LocaleData::backend_unreachable_error_for_login_view()
                                                   : LocaleData::internet_connection_unavailable_error_part_2_for_login_view();
                                    log::warning(kLog, "the sign-in got no answer: " + text);
                                    finish(attempt, AuthResults::error, text, completion);
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
                        },
                        kSignInTimeoutMs);
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
    // Through the queue's writes: they replace what a sign-out still had to remove.
    struct Stored {
        int left = 3;
        bool ok = true;
    };
    auto stored = std::make_shared<Stored>();
    auto done = [this, alive, changes, stored](bool ok) {
        stored->ok = stored->ok && ok;
        if (--stored->left > 0 || stored->ok) return;
        log::warning(kLog, "the credentials could not be stored in the keychain");
        // Without the items the record is no longer complete: no automatic sign-in on its strength.
        if (!alive.expired() && changes == accountChanges_ && recentLoginData_) recentLoginData_->passwordData.reset();
    };
    // Kept at quit: a quit right after the sign-in still leaves the account remembered.
    keychain_.write(service_, itemName(kUsernameKey), Bytes(username.begin(), username.end()), done, true);
    keychain_.write(service_, itemName(kPasswordKey), Bytes(password.begin(), password.end()), done, true);
    keychain_.write(service_, itemName(kPasswordDataKey), referenceData, done, true);
}

struct AuthService::Restore {
    std::uint64_t changes = 0;
    std::function<void(std::optional<LoginData>)> done;
    bool answered = false;
    bool fileAsked = false;
    bool keychainFailed = false;
    int outstanding = 0;
    std::string why;  // what each store that erred answered, for the log
    std::string keyringWhy, fileWhy;
};

void AuthService::restoreLoginDataFromKeychain(std::function<void(std::optional<LoginData>)> done) {
    std::weak_ptr<bool> alive = alive_;
    auto restore = std::make_shared<Restore>();
    restore->changes = accountChanges_;
    restore->done = std::move(done);
    keychain_.mainQueue().postAfter(kKeychainWaitMs, [alive, restore] {
        if (alive.expired() || restore->answered) return;
        log::warning(kLog, "the keychain has not answered in " + std::to_string(kKeychainWaitMs / 1000) +
                               " s; the login form stays empty until it does");
    });
    readAccount(keychain_, restore);
    if (!fileCopy_) return;
    // A keyring held up by its unlock prompt, or not yet chosen, leaves the file's copy to ask.
    keychain_.mainQueue().postAfter(kFileCopyWaitMs, [this, alive, restore] {
        if (alive.expired() || restore->answered || restore->fileAsked) return;
        restore->fileAsked = true;
        readAccount(*fileCopy_, restore);
    });
}

void AuthService::readAccount(SecretStoreQueue& from, std::shared_ptr<Restore> restore) {
    ++restore->outstanding;
    std::weak_ptr<bool> alive = alive_;
    const bool isKeychain = &from == &keychain_;
    from.run([this, alive, restore, isKeychain, answer = from.answerer(), service = service_](SecretStore& store) {
        std::optional<LoginData> found;
        bool failed = false;
        const auto user = store.read(service, itemName(kUsernameKey));
        failed = user.status == SecretStatus::Error;
        std::string why = failed ? (user.why.empty() ? std::string("it answered an error") : user.why)
                                 : std::string();
        if (user.status == SecretStatus::Found && !user.data.empty()) {
            found = LoginData{user.text(), "", std::nullopt};
            const auto password = store.read(service, itemName(kPasswordKey));
            if (password.status == SecretStatus::Found) found->password = password.text();
            const auto reference = store.read(service, itemName(kPasswordDataKey));
            if (reference.status == SecretStatus::Found) found->passwordData = reference.data;
        }
        answer([this, alive, restore, isKeychain, failed, why, found = std::move(found)]() mutable {
            if (alive.expired()) return;
            --restore->outstanding;
            if (failed) {
                restore->why += (restore->why.empty() ? "" : "; ") + std::string(isKeychain ? "the keychain: " : "the file: ") + why;
                (isKeychain ? restore->keyringWhy : restore->fileWhy) = why;
            }
            // What a sign-out still has to remove is gone already, as far as anyone reads.
            if (found && keychain_.removalPending(service_, itemName(kUsernameKey))) found.reset();
            if (found && keychain_.removalPending(service_, itemName(kPasswordKey))) found->password.clear();
            if (found && keychain_.removalPending(service_, itemName(kPasswordDataKey))) found->passwordData.reset();
            if (isKeychain) restore->keychainFailed = failed && !found;
            if (isKeychain && failed && fileCopy_ && !restore->fileAsked && !restore->answered) {
                restore->fileAsked = true;
                readAccount(*fileCopy_, restore);
            }
            answerRestore(restore, std::move(found), restore->outstanding == 0);
        });
    });
}

void AuthService::answerRestore(const std::shared_ptr<Restore>& restore, std::optional<LoginData> found, bool last) {
    if (!found && last && restore->keychainFailed) readAgain_ = restore;
    if (restore->answered || (!found && !last)) return;
    restore->answered = true;
    lastRestoreFailure_.clear();
    if (!found) {
        if (!restore->keyringWhy.empty())
            lastRestoreFailure_ = LocaleData::fill(LocaleData::login_account_not_restored_lower(), restore->keyringWhy);
        else if (!restore->fileWhy.empty())
            lastRestoreFailure_ = LocaleData::login_account_not_restored_file_lower();
        if (restore->why.empty()) log::info(kLog, "no remembered account: the keychain holds none");
        else log::warning(kLog, "the remembered account could not be read (" + restore->why + ")");
    }
    if (restore->changes != accountChanges_) {
        log::info(kLog, "the keychain's answer came after a sign-in or sign-out began; dropped");
        return;
    }
    if (found) {
        recentLoginData_ = found;
        wasLoginDataRestoredFromKeychain = true;
    }
    if (restore->done) restore->done(found);
}

void AuthService::keychainChanged() {
    auto last = std::exchange(readAgain_, nullptr);
    if (!last || last->changes != accountChanges_) return;
    log::info(kLog, "the keychain changed after a read it could not answer; reading it again");
    auto again = std::make_shared<Restore>();
    again->changes = last->changes;
    again->done = last->done;
    again->fileAsked = true;  // the file's copy had its turn
    readAccount(keychain_, again);
}

void AuthService::logOut() {
    log::info(kLog, "AuthService -- log out");
    ++attempt_;  // a sign-in still in flight must not sign the user back in
    ++accountChanges_;
    for (const char* key : {kUsernameKey, kPasswordKey, kPasswordDataKey}) {
        keychain_.remove(service_, itemName(key));
        if (fileCopy_) fileCopy_->remove(service_, itemName(key));
    }
    // The backend client removes the token from the keychain; a keychain
    // that did not answer left it in the file, which its own queue clears
    // whatever the keychain does.
    if (fileCopy_) fileCopy_->remove(service_, ParseClient::kSessionTokenKey);
    // The login window offers the same e-mail again, but never the password.
    if (recentLoginData_ && !recentLoginData_->username.empty())
        recentLoginData_ = LoginData{recentLoginData_->username, "", std::nullopt};
    else recentLoginData_.reset();
    wasLoginDataRestoredFromKeychain = false;
    parse_.logOut();
}

}  // namespace hw
