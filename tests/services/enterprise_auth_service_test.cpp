#include "services/enterprise_auth_service.h"

#include <gtest/gtest.h>

#include "support/capture_log.h"
#include "support/fake_http_client.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

class EnterpriseAuthServiceTest : public ::testing::Test {
protected:
    std::shared_ptr<test::CaptureLog> log = test::CaptureLog::install();
    test::ManualQueue queue;
    test::FakeHttpClient http{queue};
    EnterpriseAuthService service{http, "https://id.test/oauth/token", "https://id.test/userinfo"};
    std::vector<std::string> failures;

    void SetUp() override {
        service.onFailure = [this](const std::string& reason) { failures.push_back(reason); };
    }
};

TEST_F(EnterpriseAuthServiceTest, ExchangesTheCodeAsAnEscapedFormAndHandsOverTheToken) {
    http.scripted.push_back(test::FakeHttpClient::ok(R"({"access_token":"tok-123","token_type":"Bearer"})"));
    std::string token;
    service.requestAuthToken("a&b=c", [&](const std::string& t) { token = t; });
    queue.runUntilIdle();
    EXPECT_EQ(token, "tok-123");
    ASSERT_EQ(http.requests.size(), 1u);
    EXPECT_NE(http.requests[0].body.find("code=a%26b%3Dc"), std::string::npos) << "a code cannot add form fields";
    EXPECT_TRUE(failures.empty());
    EXPECT_FALSE(log->contains("tok-123"));
    EXPECT_FALSE(log->contains("a&b=c"));
}

TEST_F(EnterpriseAuthServiceTest, EveryFailedExchangeSkipsTheCompletionAndReportsTheFailure) {
    int completions = 0;
    auto done = [&](const std::string&) { ++completions; };
    http.scripted.push_back(test::FakeHttpClient::failed(HttpCannotConnect, "refused"));
    http.scripted.push_back(test::FakeHttpClient::ok("<html>"));
    http.scripted.push_back(test::FakeHttpClient::ok(R"({"error":"invalid_grant"})", 400));
    for (int i = 0; i < 3; ++i) service.requestAuthToken("code", done);
    service.requestAuthToken("", done);
    queue.runUntilIdle();
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(failures.size(), 4u);
    EXPECT_EQ(http.requests.size(), 3u) << "an empty code is not sent";
}

TEST_F(EnterpriseAuthServiceTest, UserInformationGivesTheVPNCredentialsWithTheBearerToken) {
    http.scripted.push_back(test::FakeHttpClient::ok(
        R"({"sub":"1","user_metadata":{"username":"vpn-user","password":"vpn-pass-9"}})"));
    http.scripted.push_back(test::FakeHttpClient::ok(R"({"sub":"1","user_metadata":{"username":"vpn-user"}})"));
    std::vector<std::pair<std::string, std::string>> got;
    auto done = [&](const std::string& u, const std::string& p) { got.emplace_back(u, p); };
    service.requestClientIDUsingAccessToken("tok-1", done);
    service.requestClientIDUsingAccessToken("tok-1", done);
    queue.runUntilIdle();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], std::make_pair(std::string("vpn-user"), std::string("vpn-pass-9")));
    ASSERT_EQ(http.requests.size(), 2u);
    EXPECT_EQ(*test::FakeHttpClient::ok("", 200, http.requests[0].headers).header("authorization"), "Bearer tok-1");
    EXPECT_EQ(failures.size(), 1u) << "a reply without a password reports a failure";
    EXPECT_FALSE(log->contains("vpn-pass-9"));
}

}  // namespace
}  // namespace hw
