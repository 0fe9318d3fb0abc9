#include "services/auth_service.h"

#include "support/model_fixture.h"
#include "texts/locale_data.h"
#include "support/fake_secret_store.h"

namespace hw {
namespace {

using test::FakeSecretStore;
using test::ManualQueue;

class AuthServiceTest : public test::ModelFixture {
protected:
    AuthServiceTest() {
        ApplicationModelPorts ports = model->ports();
        ports.loginData = &auth;
        model->setPorts(ports);
        auth.onLoginFinished_postProcessingCallback = [this](bool ok) { finished.push_back(ok); };
    }
    struct Outcome {
        std::optional<AuthResults> result;
        std::optional<std::string> message;
        int calls = 0;
    };
    // Starts a sign-in; the outcome fills in when the queue runs.
    std::shared_ptr<Outcome> start(const std::string& user, const std::string& password) {
        auto o = std::make_shared<Outcome>();
        auth.login(user, password, [o](AuthResults r, std::optional<std::string> message) {
            o->result = r;
            o->message = std::move(message);
            ++o->calls;
        });
        return o;
    }
    Outcome login(const std::string& user, const std::string& password) {
        auto o = start(user, password);
        queue.runUntilIdle();
        return *o;
    }

    std::optional<LoginData> restore(AuthService& service) {
        std::optional<LoginData> found;
        bool answered = false;
        service.restoreLoginDataFromKeychain([&](std::optional<LoginData> data) {
            found = std::move(data);
            answered = true;
        });
        queue.runUntilIdle();
        EXPECT_TRUE(answered);
        return found;
    }

    AuthService auth{*parse, keychain, *model, "svc"};
    std::vector<bool> finished;
};

TEST_F(AuthServiceTest, SuccessStoresTheCredentialsAndNeverLogsThem) {
    auto o = login("user@example.com", "secret");
    EXPECT_EQ(o.result, AuthResults::success);
    EXPECT_EQ(finished, std::vector<bool>{true});
    EXPECT_EQ(secrets.read("svc", "user_pass").text(), "secret");
    EXPECT_EQ(secrets.read("svc", "vpn_password2").status, SecretStatus::Found);
    ASSERT_TRUE(model->recentLoginData()) << "the state object reads it through its port";
    EXPECT_FALSE(log->contains("secret"));
}

// Results and notices by failure run through the login window's table.
TEST_F(AuthServiceTest, AFailureStoresNothing) {
    EXPECT_EQ(login("user@example.com", "wrong").result, AuthResults::failure);
    EXPECT_EQ(secrets.size(), 0u);
    EXPECT_EQ(finished, std::vector<bool>{false});
}

// No network must not read as a wrong password, nor keep the user a minute.
TEST_F(AuthServiceTest, AnUnreachableBackendIsNamedWithinTheSignInsBound) {
    backend.hold = true;
    auto o = start("user@example.com", "secret");
    queue.runUntilIdle();
    ASSERT_EQ(backend.requestsTo("/functions/authenticateUser").size(), 1u);
    EXPECT_EQ(backend.requestsTo("/functions/authenticateUser")[0].timeoutMs, 20000);
    queue.advance(20000);
    EXPECT_EQ(o->calls, 0);
    queue.advance(1000);
    EXPECT_EQ(o->result, AuthResults::error);
    EXPECT_EQ(o->message, LocaleData::internet_connection_unavailable_error_part_2_for_login_view());
    backend.release();
    queue.runUntilIdle();

    // The watch finds the Internet reachable: it is the backend that does not answer.
    struct Reachable final : InternetStateSource {
        std::optional<bool> internetReachable() const override { return true; }
    } reachable;
    auth.setInternetState(&reachable);
    backend.hold = true;
    o = start("user@example.com", "secret");
    queue.runUntilIdle();
    queue.advance(21000);
    EXPECT_EQ(o->message, std::optional<std::string>("Havenway's service cannot be reached"));
    EXPECT_TRUE(log->contains("the sign-in got no answer: Havenway's service cannot be reached"));
    backend.release();
    queue.runUntilIdle();
    backend.functions["authenticateUser"] = [](const JSON&) { return test::FakeBackend::Reply::error(141, "boom"); };
    EXPECT_EQ(login("user@example.com", "secret").message, std::optional<std::string>(" ")) << "a server's own error";
}

TEST_F(AuthServiceTest, ACancelledOrReplacedSignInIsDropped) {
    backend.hold = true;
    auto cancelled = start("user@example.com", "secret");
    model->loginProcessWasCanceled = true;
    backend.release();
    queue.runUntilIdle();
    EXPECT_EQ(cancelled->calls, 0);
    EXPECT_TRUE(finished.empty());
    EXPECT_EQ(secrets.read("svc", "username").status, SecretStatus::Absent) << "a cancelled sign-in stores nothing";

    model->loginProcessWasCanceled = false;
    backend.hold = true;
    auto stale = start("old@example.com", "wrong");
    queue.runUntilIdle();
    auto fresh = start("user@example.com", "secret");
    for (int i = 0; i < 2; ++i) {
        backend.release();
        queue.runUntilIdle();
    }
    EXPECT_EQ(stale->calls, 0) << "the older reply must not overwrite the newer sign-in";
    EXPECT_EQ(fresh->result, AuthResults::success);
}

TEST_F(AuthServiceTest, SignInEndsTheCurrentSessionFirst) {
    signIn();
    backend.requests.clear();
    login("user@example.com", "secret");
    ASSERT_GE(backend.requests.size(), 2u);
    EXPECT_NE(backend.requests[0].url.find("/logout"), std::string::npos);
}

TEST_F(AuthServiceTest, RestoreAndLogOut) {
    EXPECT_FALSE(restore(auth)) << "nothing stored";
    secrets.writeString("svc", "username", "kept@example.com");
    auto restored = restore(auth);
    ASSERT_TRUE(restored);
    EXPECT_FALSE(AuthService::isComplete(*restored)) << "no stored password reads as empty";

    login("user@example.com", "secret");
    AuthService again(*parse, keychain, *model, "svc");
    ASSERT_TRUE(restore(again));
    EXPECT_EQ(again.recentLoginData()->username, "user@example.com");

    auth.logOut();
    queue.runUntilIdle();
    EXPECT_EQ(secrets.size(), 0u);
    EXPECT_FALSE(parse->currentUser());
    // The next person at the machine gets the e-mail, never the password.
    ASSERT_TRUE(auth.recentLoginData());
    EXPECT_EQ(auth.recentLoginData()->username, "user@example.com");
    EXPECT_EQ(auth.recentLoginData()->password, "");
    EXPECT_FALSE(auth.recentLoginData()->passwordData);
}

// The keychain answers on the main queue, after the window asked: an answer
// that comes once a sign-in or sign-out has begun would bring back what that
// replaced, so it is dropped.
TEST_F(AuthServiceTest, ALateKeychainAnswerNeverOverridesASignInOrSignOut) {
    struct Row {
        const char* name;
        std::function<void()> between;
        int answers;
        std::optional<std::string> user;
    };
    const Row rows[] = {
        {"nothing between", [] {}, 1, "stored@example.com"},
        {"a sign-in between", [this] { start("user@example.com", "secret"); }, 0, "user@example.com"},
        {"a sign-out between", [this] { auth.logOut(); }, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        secrets.writeString("svc", "username", "stored@example.com");
        auth.setRecentLoginData(std::nullopt);
        int answers = 0;
        auth.restoreLoginDataFromKeychain([&answers](std::optional<LoginData>) { ++answers; });
        row.between();
        queue.runUntilIdle();
        EXPECT_EQ(answers, row.answers) << row.name;
        const auto recent = auth.recentLoginData();
        EXPECT_EQ(recent ? std::optional<std::string>(recent->username) : std::nullopt, row.user) << row.name;
    }
}

// A keyring whose prompt never completes: the wait ends in a line in the log.
TEST_F(AuthServiceTest, AKeychainThatNeverAnswersIsLoggedAfterTheWait) {
    struct Stuck final : BackgroundQueue {
        void async(Task) override {}
    } stuck;
    SecretStoreQueue silent(unownedSecretStore(secrets), queue, stuck);
    AuthService waiting(*parse, silent, *model, "svc");
    bool answered = false;
    waiting.restoreLoginDataFromKeychain([&answered](std::optional<LoginData>) { answered = true; });
    queue.advance(AuthService::kKeychainWaitMs - 1);
    EXPECT_FALSE(log->contains("has not answered"));
    queue.advance(1);
    EXPECT_FALSE(answered);
    EXPECT_TRUE(log->contains("the keychain has not answered in 30 s"));
}

// The 0600 file still holds the account while the keyring is locked, erring,
// silent or not yet chosen: it answers when the keychain errs, or is late; a
// keychain that answers later still brings the account; and an account a
// sign-out still has to remove from the keychain is not brought back.
TEST_F(AuthServiceTest, TheFileCopyStandsInForAKeychainThatErrsOrIsLate) {
    struct Row {
        const char* name;
        bool keychainErrs;
        bool inTheFile;
        int answersAfterMs;  // -1: only once the keychain answers
        const char* restored;
    };
    const Row rows[] = {
        {"the keychain errs", true, true, 0, "file@example.com"},
        {"the keychain is late", false, true, AuthService::kFileCopyWaitMs, "file@example.com"},
        {"late, and nothing in the file", false, false, -1, "keyring@example.com"},
        {"errs, and nothing in the file", true, false, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSecretStore keyring, file;
        keyring.writeString("svc", "username", "keyring@example.com");
        keyring.failReads = row.keychainErrs;
        if (row.inTheFile) file.writeString("svc", "username", "file@example.com");
        ManualQueue keyringWorker;
        SecretStoreQueue keychainQueue(unownedSecretStore(keyring), queue, keyringWorker);
        SecretStoreQueue fileQueue(unownedSecretStore(file), queue, storeWorker);
        AuthService service(*parse, keychainQueue, *model, "svc", &fileQueue);
        std::optional<std::optional<LoginData>> answer;
        service.restoreLoginDataFromKeychain([&answer](std::optional<LoginData> data) { answer = data; });
        if (row.keychainErrs) keyringWorker.runUntilIdle();
        if (row.answersAfterMs > 0) queue.advance(row.answersAfterMs - 1);
        queue.runUntilIdle();
        EXPECT_EQ(answer.has_value(), row.answersAfterMs == 0);
        queue.advance(AuthService::kFileCopyWaitMs);
        EXPECT_EQ(answer.has_value(), row.answersAfterMs >= 0);
        keyringWorker.runUntilIdle();
        queue.runUntilIdle();
        ASSERT_TRUE(answer);
        EXPECT_EQ(*answer ? (*answer)->username : "", row.restored ? row.restored : "");
        // Nothing found: the log says what the keychain answered.
        EXPECT_EQ(log->contains("the remembered account could not be read (the keychain: the keyring stayed locked)"),
                  row.restored == nullptr);
        EXPECT_EQ(service.lastRestoreFailure(), row.restored ? "" : "The keyring answered: the keyring stayed locked");
    }

    // A keychain that erred (locked) and is then unlocked is read again.
    {
        FakeSecretStore locked;
        locked.writeString("svc", "username", "unlocked@example.com");
        locked.failReads = true;
        SecretStoreQueue lockedQueue(unownedSecretStore(locked), queue, storeWorker);
        AuthService service(*parse, lockedQueue, *model, "svc");
        std::vector<std::string> answers;
        service.restoreLoginDataFromKeychain(
            [&answers](std::optional<LoginData> data) { answers.push_back(data ? data->username : "none"); });
        queue.runUntilIdle();
        locked.failReads = false;
        service.keychainChanged();
        queue.runUntilIdle();
        service.keychainChanged();
        queue.runUntilIdle();
        EXPECT_EQ(answers, (std::vector<std::string>{"none", "unlocked@example.com"})) << "read again once, then done";
    }

    FakeSecretStore keyring;
    keyring.writeString("svc", "username", "gone@example.com");
    keyring.failRemoves = true;
    SecretStoreQueue stuckRemovals(unownedSecretStore(keyring), queue, storeWorker);
    stuckRemovals.keepRemovalsIn(settings);
    AuthService signedOut(*parse, stuckRemovals, *model, "svc");
    signedOut.logOut();
    queue.runUntilIdle();
    EXPECT_FALSE(restore(signedOut)) << "the keyring still holds it; the sign-out stands";
}

TEST_F(AuthServiceTest, CredentialsThatCannotBeStoredLeaveNoCompleteRecord) {
    secrets.failWrites = true;
    EXPECT_EQ(login("user@example.com", "secret").result, AuthResults::success);
    ASSERT_TRUE(auth.recentLoginData());
    EXPECT_FALSE(AuthService::isComplete(*auth.recentLoginData())) << "no automatic sign-in on an unstored account";
    EXPECT_TRUE(log->contains("could not be stored"));
}

}  // namespace
}  // namespace hw
