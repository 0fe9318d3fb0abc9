#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/application_model.h"
#include "core/global_constants.h"
#include "platform/backend/parse_client.h"
#include "platform/secret_store_queue.h"
#include "services/auth_results.h"

namespace hw {

// What the reachability watch last found of the Internet; none while no watch
// has reported. Main thread.
class InternetStateSource {
public:
    virtual ~InternetStateSource() = default;
    virtual std::optional<bool> internetReachable() const = 0;
};

// Signs the account in and out through the backend and keeps its credentials
// in the secret store, whose calls run off the main thread. Main thread only.
// Passwords never reach a log line.
class AuthService final : public LoginDataSource {
public:
    using Completion = std::function<void(AuthResults, std::optional<std::string> message)>;

    static constexpr char kUsernameKey[] = "username";
    static constexpr char kPasswordKey[] = "user_pass";
    static constexpr char kPasswordDataKey[] = "vpn_password2";

    // How long the keychain may take before the log says the form stays empty.
    static constexpr int kKeychainWaitMs = 30000;
    // How long the keychain may take before the file's copy is read instead.
    static constexpr int kFileCopyWaitMs = 2000;
    // How long a sign-in waits for the session the last run stored, to end it first.
    static constexpr int kStoredSessionWaitMs = 3000;

    // fileCopy: the 0600 file's store, which a keyring that is slow, locked or
    // silent leaves holding the account; asked when the keychain errs or is late.
    AuthService(ParseClient& parse, SecretStoreQueue& keychain, ApplicationModel& model,
                std::string keychainService = GlobalConstants::keychainServiceName,
                SecretStoreQueue* fileCopy = nullptr);
    ~AuthService() override;
    AuthService(const AuthService&) = delete;
    AuthService& operator=(const AuthService&) = delete;

    // Called with the outcome whenever a sign-in ends (true on success).
    std::function<void(bool)> onLoginFinished_postProcessingCallback;
    bool wasLoginDataRestoredFromKeychain = false;

    // A plain stored value: the remembered or most recently used account.
    std::optional<LoginData> recentLoginData() const override { return recentLoginData_; }
    void setRecentLoginData(std::optional<LoginData> data) { recentLoginData_ = std::move(data); }

    // Ends any current session first. A reply that arrives after the sign-in
    // was cancelled, or after a newer sign-in started, is dropped.
    void login(const std::string& username, const std::string& password, Completion completion);
    // Reads the stored account off the main thread; done runs on the main
    // queue with what was found (also kept as recentLoginData), or none. The
    // first store to find the account answers; none once every store asked
    // found nothing. An answer that comes after a sign-in or sign-out began
    // is dropped, done and all.
    void restoreLoginDataFromKeychain(std::function<void(std::optional<LoginData>)> done = nullptr);
    // The keychain may have been unlocked: a restore that met it erring and
    // found nothing reads it again, answering through the same done.
    void keychainChanged();
    // Forgets the stored credentials (in every store that holds them) and
    // ends the backend session.
    void logOut();

    // Why the last restore found no account, in the window's words: the
    // keyring's answer (the file's, when only it erred); empty when every
    // store answered that it holds none.
    const std::string& lastRestoreFailure() const { return lastRestoreFailure_; }

    // Tells a backend that does not answer from an Internet that does not.
    void setInternetState(const InternetStateSource* state) { internetState_ = state; }

    // The item names of this build (enterprise builds use their own).
    static std::string itemName(const char* key);

    // The two checks the windows make of a record.
    static bool hasUsername(const LoginData& data) { return !data.username.empty(); }
    static bool isComplete(const LoginData& data) {
        return !data.username.empty() && !data.password.empty() && data.passwordData.has_value();
    }

private:
    void authenticate(std::uint64_t attempt, const std::string& username, const std::string& password,
                      Completion completion);
    void logOutBeforeAuthenticating(std::uint64_t attempt, const std::string& username, const std::string& password,
                                    Completion completion);
    void finish(std::uint64_t attempt, AuthResults result, std::optional<std::string> message,
                const Completion& completion);
    void storeCredentials(const std::string& username, const std::string& password);
    struct Restore;
    void readAccount(SecretStoreQueue& from, std::shared_ptr<Restore> restore);
    void answerRestore(const std::shared_ptr<Restore>& restore, std::optional<LoginData> found, bool last);

    ParseClient& parse_;
    SecretStoreQueue& keychain_;
    SecretStoreQueue* fileCopy_;
    ApplicationModel& model_;
    std::string service_;
    std::optional<LoginData> recentLoginData_;
    // The last restore, while its keychain read erred and nothing was found.
    std::shared_ptr<Restore> readAgain_;
    std::string lastRestoreFailure_;
    const InternetStateSource* internetState_ = nullptr;
    std::uint64_t attempt_ = 0;
    // Counts sign-ins and sign-outs: a restore that began before one is stale.
    std::uint64_t accountChanges_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
