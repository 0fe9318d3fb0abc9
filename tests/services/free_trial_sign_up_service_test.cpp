#include "services/free_trial_sign_up_service.h"

#include "core/hashing.h"
#include "support/model_fixture.h"
#include "services/auth_service.h"
#include "support/fake_system_info.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

class FreeTrialSignUpServiceTest : public test::ModelFixture {
protected:
    FreeTrialSignUpServiceTest() { secrets.writeString("svc", "appID", "UUID-1"); }
    UUIDHelper uuid{secrets, system, "svc"};
    FreeTrialSignUpService service{*parse, backend, uuid, queue};
};

TEST_F(FreeTrialSignUpServiceTest, HashesAreSHA1OfTheFieldsJoinedByColons) {
    service.setCredentials("a+b@x.io", "pässword");
    EXPECT_EQ(*service.username, "YStiQHguaW8=");
    service.prepareForFreeTrialAuthorize();
    EXPECT_EQ(service.tokenForAuthorize, SHA1("YStiQHguaW8=:UUID-1:if (k == 3) { y = seed() - 4; }"));
    service.authorizeToken = "T";
    service.prepareForFreeTrialSignUp();
    EXPECT_EQ(service.authHash, SHA1("YStiQHguaW8=:" + *service.password + ":UUID-1:T:KLMq7741%%@%"));
}

TEST_F(FreeTrialSignUpServiceTest, CampaignParametersComeFromNameEqualsValueArguments) {
    auto p = FreeTrialSignUpService::campaignParameters(std::vector<std::string>{
        "-utm_source=mail", "-utm_source", "-pixel_url=https://p.test/?a=b", "-UTM_TERM=x", "-utm_medium=one",
        "-utm_medium=two"});
    EXPECT_EQ(p.utm_source, "mail");
    EXPECT_EQ(p.pixel_url, "https://p.test/?a") << "cut at the second '='";
    EXPECT_EQ(p.utm_term, "") << "names are case-sensitive";
    EXPECT_EQ(p.utm_medium, "two");
    auto none = FreeTrialSignUpService::campaignParameters(std::nullopt);
    EXPECT_EQ(none.utm_campaign, "");
}

TEST_F(FreeTrialSignUpServiceTest, SignUpCallCarriesTheHash) {
    JSON received;
    backend.functions["signupForFreeTrial"] = [&](const JSON& params) {
        received = params;
        return test::FakeBackend::Reply::error(141, "refused");
    };
    service.setCredentials("a@b.io", "secret1");
    service.performFreeTrialSignUp(*service.username, *service.password, "T", {}, [](auto) {});
    queue.runUntilIdle();
    EXPECT_EQ(received["token"].stringValue(), service.authHash);
}

// The reply shapes run through the sign-up window's table; a failed call without a payload does not.
TEST_F(FreeTrialSignUpServiceTest, AFailedCallWithoutAPayloadIsAWrongResponse) {
    ParseError plain;
    plain.code = 100;
    auto r = FreeTrialSignUpService::readSignUpReply(JSON(), plain);
    EXPECT_EQ(r.code, "100");
    EXPECT_EQ(r.message, LocaleData::free_trial_wrong_response_error_notification());
}

TEST_F(FreeTrialSignUpServiceTest, VerificationApprovesOnlyASyncedAccount) {
    AuthService auth(*parse, keychain, *model, "svc");
    service.authService = &auth;
    service.setCredentials("user@example.com", "secret");
    std::vector<std::string> events;
    service.showProgressIndicatorHandler = [&] { events.push_back("show"); };
    service.hideProgressIndicatorHandler = [&] { events.push_back("hide"); };
    service.emailVerificationApprovedHandler = [&] { events.push_back("approved"); };
    service.alertHandler = [&](const std::string& title, const std::string& text) { events.push_back(title + ": " + text); };
    service.emailVerificationPending = true;

    backend.functions["syncVPNAcccountDetails"] = [](const JSON&) { return test::FakeBackend::Reply::ok(JSON("odd")); };
    service.onEmailVerificationCompleted();
    service.onEmailVerificationCompleted();  // ignored while the first runs
    queue.runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"show", "Validation Error: " + LocaleData::free_trial_validation_error_wrong_reponse_received() +
                                                             " (Error code: 202)", "hide"}));
    EXPECT_EQ(backend.requestsTo("/functions/authenticateUser").size(), 1u);

    events.clear();
    backend.functions["syncVPNAcccountDetails"] = [](const JSON&) { return test::FakeBackend::Reply::error(1, "down"); };
    service.onEmailVerificationCompleted();
    queue.runUntilIdle();
    EXPECT_EQ(events.back(), "hide");
    EXPECT_TRUE(service.emailVerificationPending) << "a failed check is no approval";

    events.clear();
    backend.functions["syncVPNAcccountDetails"] = [](const JSON&) {
        return test::FakeBackend::Reply::ok(JSON::dictionaryLiteral({{"result", "success"}}));
    };
    service.onEmailVerificationCompleted();
    queue.runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"show", "hide", "approved"}));
    EXPECT_FALSE(service.emailVerificationPending);
    EXPECT_FALSE(service.verificationInProgress);
}

}  // namespace
}  // namespace hw
