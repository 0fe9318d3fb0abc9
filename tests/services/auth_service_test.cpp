#include "services/auth_service.h"

#include "support/model_fixture.h"

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
        int calls = 0;
    };
    // Starts a sign-in; the outcome fills in when the queue runs.
    std::shared_ptr<Outcome> start(const std::string& user, const std::string& password) {
        auto o = std::make_shared<Outcome>();
        auth.login(user, password, [o](AuthResults r, std::optional<std::string>) {
            o->result = r;
            ++o->calls;
        });
        return o;
    }
    Outcome login(const std::string& user, const std::string& password) {
        auto o = start(user, password);
        queue.runUntilIdle();
        return *o;
    }

    AuthService auth{*parse, secrets, *model, "svc"};
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
    EXPECT_FALSE(auth.restoreLoginDataFromKeychain()) << "nothing stored";
    secrets.writeString("svc", "username", "kept@example.com");
    auto restored = auth.restoreLoginDataFromKeychain();
    ASSERT_TRUE(restored);
    EXPECT_FALSE(AuthService::isComplete(*restored)) << "no stored password reads as empty";

    login("user@example.com", "secret");
    AuthService again(*parse, secrets, *model, "svc");
    ASSERT_TRUE(again.restoreLoginDataFromKeychain());
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

}  // namespace
}  // namespace hw
