#include "services/auth_service.h"

#include "model_fixture.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

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
    Outcome login(const std::string& user, const std::string& password) {
        Outcome o;
        auth.login(user, password, [&o](AuthResults r, std::optional<std::string> m) {
            o.result = r;
            o.message = std::move(m);
            ++o.calls;
        });
        queue.runUntilIdle();
        return o;
    }
    std::string item(const char* key) { return secrets.read("svc", key).text(); }

    AuthService auth{*parse, secrets, *model, "svc"};
    std::vector<bool> finished;
};

TEST_F(AuthServiceTest, SuccessStoresTheCredentialsAndTellsThePostProcessing) {
    auto o = login("user@example.com", "secret");
    EXPECT_EQ(o.result, AuthResults::success);
    EXPECT_FALSE(o.message);
    EXPECT_EQ(finished, std::vector<bool>{true});
    EXPECT_EQ(item("username"), "user@example.com");
    EXPECT_EQ(item("user_pass"), "secret");
    EXPECT_EQ(secrets.read("svc", "vpn_password2").status, SecretStatus::Found);
    ASSERT_TRUE(model->recentLoginData()) << "the state object reads it through its port";
    EXPECT_EQ(model->recentLoginData()->password, "secret");
    EXPECT_TRUE(AuthService::isComplete(*model->recentLoginData()));
    EXPECT_FALSE(log->contains("secret")) << "no password in the log";
}

TEST_F(AuthServiceTest, FailureUnknownStatusAndBackendErrorsEachGiveTheirResult) {
    auto failed = login("user@example.com", "wrong");
    EXPECT_EQ(failed.result, AuthResults::failure);
    EXPECT_FALSE(failed.message);
    EXPECT_EQ(secrets.size(), 0u) << "nothing stored for a failed sign-in";

    backend.functions["authenticateUser"] = [](const JSON&) {
        return test::FakeBackend::Reply::ok(JSON::dictionaryLiteral({{"status", "locked"}}));
    };
    auto unknown = login("user@example.com", "secret");
    EXPECT_EQ(unknown.result, AuthResults::error);
    EXPECT_FALSE(unknown.message);

    backend.functions["authenticateUser"] = [](const JSON&) {
        return test::FakeBackend::Reply::error(
            155, R"({"error":"Too many attempts","nextValidRequestDate":"2026-01-01T00:01:00Z"})");
    };
    auto limited = login("user@example.com", "secret");
    EXPECT_EQ(limited.result, AuthResults::error);
    EXPECT_EQ(limited.message, LocaleData::login_connection_error_too_many_requests_notification());

    backend.functions["authenticateUser"] = [](const JSON&) { return test::FakeBackend::Reply::error(1, "boom"); };
    auto other = login("user@example.com", "secret");
    EXPECT_EQ(other.message, std::optional<std::string>(" "));
    EXPECT_EQ(finished, (std::vector<bool>{false, false, false, false}));
}

TEST_F(AuthServiceTest, ACancelledOrReplacedSignInIsDropped) {
    backend.hold = true;
    Outcome first;
    auth.login("user@example.com", "secret", [&](AuthResults r, std::optional<std::string>) {
        first.result = r;
        ++first.calls;
    });
    model->loginProcessWasCanceled = true;
    backend.release();
    queue.runUntilIdle();
    EXPECT_EQ(first.calls, 0);
    EXPECT_TRUE(finished.empty());
    EXPECT_EQ(secrets.read("svc", "username").status, SecretStatus::Absent) << "a cancelled sign-in stores nothing";

    model->loginProcessWasCanceled = false;
    backend.hold = true;
    Outcome stale;
    auth.login("old@example.com", "wrong", [&](AuthResults, std::optional<std::string>) { ++stale.calls; });
    queue.runUntilIdle();
    Outcome fresh;
    auth.login("user@example.com", "secret", [&](AuthResults r, std::optional<std::string>) {
        fresh.result = r;
        ++fresh.calls;
    });
    backend.release();
    queue.runUntilIdle();
    backend.release();
    queue.runUntilIdle();
    EXPECT_EQ(stale.calls, 0) << "the older reply must not overwrite the newer sign-in";
    EXPECT_EQ(fresh.result, AuthResults::success);
}

TEST_F(AuthServiceTest, SignInEndsTheCurrentSessionFirst) {
    signIn();
    backend.requests.clear();
    login("user@example.com", "secret");
    ASSERT_GE(backend.requests.size(), 2u);
    EXPECT_NE(backend.requests[0].url.find("/logout"), std::string::npos);
    EXPECT_NE(backend.requests[1].url.find("/functions/authenticateUser"), std::string::npos);
    EXPECT_TRUE(log->contains("Log Out Before Login processing Started"));
}

TEST_F(AuthServiceTest, RestoreAndLogOut) {
    EXPECT_FALSE(auth.restoreLoginDataFromKeychain()) << "nothing stored";
    EXPECT_FALSE(auth.wasLoginDataRestoredFromKeychain);
    secrets.writeString("svc", "username", "kept@example.com");
    auto restored = auth.restoreLoginDataFromKeychain();
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->password, "") << "no stored password reads as empty";
    EXPECT_FALSE(AuthService::isComplete(*restored)) << "no password and no reference";
    EXPECT_TRUE(AuthService::hasUsername(*restored));
    EXPECT_TRUE(auth.wasLoginDataRestoredFromKeychain);

    login("user@example.com", "secret");
    AuthService again(*parse, secrets, *model, "svc");
    ASSERT_TRUE(again.restoreLoginDataFromKeychain());
    EXPECT_EQ(again.recentLoginData()->username, "user@example.com");
    EXPECT_TRUE(again.recentLoginData()->passwordData);

    auth.logOut();
    queue.runUntilIdle();
    EXPECT_EQ(secrets.size(), 0u);
    EXPECT_FALSE(auth.recentLoginData());
    EXPECT_FALSE(parse->currentUser());
}

}  // namespace
}  // namespace hw
