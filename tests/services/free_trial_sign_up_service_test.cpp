#include "services/free_trial_sign_up_service.h"

#include "core/hashing.h"
#include "model_fixture.h"
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

    FreeTrialSignUpService::AuthorizeOutcome authorize(const std::string& body, int status = 200) {
        backend.web = [body, status](const HttpRequest&) { return test::FakeHttpClient::ok(body, status); };
        FreeTrialSignUpService::AuthorizeOutcome out;
        service.authorizeForFreeTrial("https://web.test/api/authorize", "YQ==", [&](auto o) { out = o; });
        queue.runUntilIdle();
        return out;
    }
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

TEST_F(FreeTrialSignUpServiceTest, AuthorizeSendsTheBase64UnescapedAndReadsEveryReplyShape) {
    auto ok = authorize(R"({"result":"success","authorization_token":"tok"})");
    EXPECT_TRUE(ok.success);
    EXPECT_EQ(ok.token, std::optional<std::string>("tok"));
    auto sent = backend.requestsTo("/api/authorize");
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().method, "POST");
    EXPECT_EQ(sent.back().body, "email=YQ==&uuid=UUID-1&token=" + service.tokenForAuthorize);

    auto server = authorize(R"({"errorCode":11,"message":"wrong token"})");
    EXPECT_FALSE(server.success);
    EXPECT_EQ(server.code, std::optional<std::int64_t>(11));
    EXPECT_EQ(server.message, std::optional<std::string>("wrong token"));

    const std::pair<const char*, std::optional<std::int64_t>> codes[] = {
        {R"({"errorCode":"11","message":"m"})", std::nullopt},  // a code that is not a number is no code
        {R"({"result":"other","authorization_token":"t"})", 101}, {R"({"result":"success"})", 102},
        {R"({"result":5})", 103}, {"[1,2]", 103}, {"not json", 104}, {"", 100}};
    for (const auto& [body, code] : codes) EXPECT_EQ(authorize(body).code, code) << body;

    std::optional<FreeTrialSignUpService::AuthorizeOutcome> nowhere;
    const auto sentBefore = backend.requests.size();
    service.authorizeForFreeTrial("not a link", "YQ==", [&](auto o) { nowhere = o; });
    EXPECT_FALSE(nowhere) << "never synchronously";
    queue.runUntilIdle();
    ASSERT_TRUE(nowhere);
    EXPECT_EQ(nowhere->code, std::optional<std::int64_t>(100));
    EXPECT_EQ(backend.requests.size(), sentBefore);
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

TEST_F(FreeTrialSignUpServiceTest, SignUpCallCarriesTheHashAndReadsTheServersRefusal) {
    JSON received;
    backend.functions["signupForFreeTrial"] = [&](const JSON& params) {
        received = params;
        return test::FakeBackend::Reply::error(141, R"({"errorCode":4,"message":"Account exists"})");
    };
    service.setCredentials("a@b.io", "secret1");
    FreeTrialSignUpService::SignUpOutcome outcome;
    service.performFreeTrialSignUp(*service.username, *service.password, "T", {}, [&](auto o) { outcome = o; });
    queue.runUntilIdle();
    EXPECT_EQ(received["token"].stringValue(), service.authHash);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.code, "4");
    EXPECT_EQ(outcome.message, "Account exists");
}

TEST_F(FreeTrialSignUpServiceTest, SignUpReplyTable) {
    using S = FreeTrialSignUpService;
    auto r = S::readSignUpReply(JSON::dictionaryLiteral({{"result", "success"}, {"message", "m"}}), std::nullopt);
    EXPECT_TRUE(r.success);
    r = S::readSignUpReply(JSON("text"), std::nullopt);
    EXPECT_EQ(r.code, "-1");
    EXPECT_EQ(r.message, LocaleData::free_trial_unknown_error_notification());
    r = S::readSignUpReply(JSON::dictionaryLiteral({{"result", "success"}}), std::nullopt);
    EXPECT_EQ(r.code, "");
    EXPECT_EQ(r.message, LocaleData::free_trial_unknown_error_notification());
    r = S::readSignUpReply(JSON::dictionaryLiteral({{"result", "no"}, {"message", "m"}}), std::nullopt);
    EXPECT_EQ(r.message, LocaleData::free_trial_wrong_response_error_notification());

    ParseError plain;
    plain.code = 100;
    r = S::readSignUpReply(JSON(), plain);
    EXPECT_EQ(r.code, "100");
    EXPECT_EQ(r.message, LocaleData::free_trial_wrong_response_error_notification());
    ParseError text;
    text.code = 141;
    text.payload = JSON::dictionaryLiteral({{"error", "plain words"}});
    r = S::readSignUpReply(JSON(), text);
    EXPECT_EQ(r.code, "141");
    EXPECT_EQ(r.message, "plain words");
    text.payload = JSON::dictionaryLiteral({{"error", R"({"errorCode":2.9,"message":"old token"})"}});
    r = S::readSignUpReply(JSON(), text);
    EXPECT_EQ(r.code, "2") << "truncated toward zero";
    text.payload = JSON::dictionaryLiteral({{"error", R"({"errorCode":1e300,"message":"huge"})"}});
    r = S::readSignUpReply(JSON(), text);
    EXPECT_EQ(r.code, "141") << "a code past int64 is not trusted";
}

TEST_F(FreeTrialSignUpServiceTest, VerificationApprovesOnlyASyncedAccount) {
    AuthService auth(*parse, secrets, *model, "svc");
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
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], "show");
    EXPECT_EQ(events[1], "Validation Error: " + LocaleData::free_trial_validation_error_wrong_reponse_received() +
                             " (Error code: 202)");
    EXPECT_EQ(events[2], "hide");
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
