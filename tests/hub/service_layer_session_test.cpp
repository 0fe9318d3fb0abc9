#include "hub/hub_fixture.h"

namespace hw::test {
namespace {

// A signed-in hub whose backend session has run out.
class ExpiredSession : public HubTest {
protected:
    ExpiredSession() {
        factory->parseConfig->applyConfig = [this] { model().publicIPInfoUrl = "https://ip.example/json"; };
        factory->auth->stored = LoginData{"user@example.com", "pw-123456", std::nullopt};
    }
    void startLoad() {
        hub->loadRequiredData([this] { ++completions; });
        runQueue();
        factory->parseConfig->answerLookup({"203.0.113.7", "DE", "Europe/Berlin", false});
        runQueue();
    }
    int completions = 0;
};

TEST_F(ExpiredSession, BothBranchesShareOneSignInAndEachRetryRunsOnce) {
    make();
    startLoad();
    factory->configs->expire();
    factory->parseConfig->expireAutomaticLocation();
    ASSERT_EQ(factory->auth->logins.size(), 1u);
    EXPECT_EQ(factory->auth->logins[0].first, "user@example.com");
    EXPECT_TRUE(factory->configs->loads.empty());

    factory->auth->finishLogin(true);
    EXPECT_EQ(factory->configs->loads.size(), 1u);
    EXPECT_EQ(factory->parseConfig->automaticLocationCalls.size(), 1u);
    factory->configs->answer(list({"de"}));
    factory->parseConfig->answerAutomaticLocation("de");
    runQueue();
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(log->contains("pw-123456"));

    // A later sign-in (from the window, say) has nothing left to repeat.
    factory->auth->finishLogin(true);
    EXPECT_TRUE(factory->configs->loads.empty());
    EXPECT_TRUE(factory->parseConfig->automaticLocationCalls.empty());
}

TEST_F(ExpiredSession, WithoutStoredCredentialsRetriesWaitForTheNextSignIn) {
    factory->auth->stored = LoginData{"user@example.com", "", std::nullopt};
    make();
    startLoad();
    factory->configs->expire();
    EXPECT_TRUE(factory->auth->logins.empty());

    factory->auth->finishLogin(true);
    EXPECT_EQ(factory->configs->loads.size(), 1u);
}

TEST_F(ExpiredSession, FailedSilentSignInOpensTheSignInWindow) {
    make();
    startLoad();
    factory->configs->expire();
    factory->auth->finishLogin(false);
    EXPECT_EQ(delegate.calls, std::vector<std::string>{"openAuthWindow"});
    EXPECT_TRUE(factory->configs->loads.empty());

    // The retry waits; a later expiry signs in again rather than joining the
    // finished attempt.
    factory->parseConfig->answerAutomaticLocation("de");
    runQueue();
    factory->parseConfig->onSessionExpired([] {});
    EXPECT_EQ(factory->auth->logins.size(), 2u);
}

TEST_F(ExpiredSession, EnterpriseBuildPreparesItsFormBeforeOpeningTheWindow) {
    factory->hubOptions.isEnterpriseVersion = true;
    make();
    hub->onParseSessionExpired(nullptr);
    factory->auth->finishLogin(false);
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"prepareEnterpriseVersionUI", "openAuthWindow"}));
}

}  // namespace
}  // namespace hw::test
