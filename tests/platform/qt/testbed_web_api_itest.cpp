// The testbed's web API and the sign-up road end to end, as the services will use them.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <filesystem>
#include <optional>

#include "platform/backend/parse_client.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/qt_test_app.h"
#include "support/testbed_parse_config.h"
#include "testbed/testbed_env.h"

namespace hw {
namespace {

using test::spinUntil;

std::string sha1Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha1(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string base64(const std::string& text) {
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

class TestbedWebApi : public ::testing::Test, private test::QtAppFirst {
protected:
    void SetUp() override {
        env_ = test::TestbedEnv::load();
        if (!env_) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << test::TestbedEnv::path();
        env_->exportToEnvironment();
        http_ = std::make_unique<QtHttpClient>(queue_);
        parse_ = std::make_unique<ParseClient>(test::testbedParseConfig(*env_, "com.havenway.test"), *http_, queue_,
                                               secrets_, settings_);
    }
    void TearDown() override {
        parse_.reset();
        http_.reset();
        spinUntil([] { return false; }, 50);
    }
    HttpResponse send(const std::string& method, const std::string& url, HttpHeaders headers = {}, std::string body = {}) {
        HttpRequest r;
        r.method = method;
        r.url = url;
        r.headers = std::move(headers);
        r.body = std::move(body);
        r.timeoutMs = 15000;
        std::optional<HttpResponse> out;
        http_->send(r, [&](HttpResponse response) { out = std::move(response); });
        EXPECT_TRUE(spinUntil([&] { return out.has_value(); }));
        return out.value_or(HttpResponse{});
    }
    std::pair<JSON, OptionalParseError> call(const std::string& name, JSON params) {
        std::optional<std::pair<JSON, OptionalParseError>> out;
        parse_->callFunction(name, params, [&](JSON r, OptionalParseError e) { out.emplace(r, e); });
        EXPECT_TRUE(spinUntil([&] { return out.has_value(); }));
        return out.value_or(std::make_pair(JSON(), OptionalParseError()));
    }
    std::optional<std::string> authorize(const std::string& email64, const std::string& uuid) {
        const auto token = sha1Hex(email64 + ":" + uuid + ":" + "if (k == 3) { y = seed() - 4; }");
        auto r = send("POST", env_->webUrl() + "/api/freeTrial/authorizeForFreeTrial_v2.php",
                      {{"Content-Type", "application/x-www-form-urlencoded"}},
                      "email=" + email64 + "&uuid=" + uuid + "&token=" + token);
        auto reply = JSON::parse(r.body);
        EXPECT_EQ(reply["result"].string(), "success") << r.body;
        return reply["authorization_token"].string();
    }
    JSON signupParams(const std::string& email64, const std::string& password64, const std::string& uuid,
                      const std::string& authToken) {
        const auto hash = sha1Hex(email64 + ":" + password64 + ":" + uuid + ":" + authToken + ":" + "KLMq7741%%@%");
        return JSON::dictionaryLiteral({{"email_b64", email64}, {"password_b64", password64}, {"uuid", uuid},
                                        {"authorization_token", authToken}, {"token", hash}, {"source", "mac-v2"},
                                        {"v2", "true"}, {"utm_source", ""}, {"utm_term", ""}, {"utm_campaign", ""},
                                        {"utm_medium", ""}, {"pixel_url", ""}});
    }

    std::optional<test::TestbedEnv> env_;
    QtMainQueue queue_;
    std::unique_ptr<QtHttpClient> http_;
    test::FakeSecretStore secrets_;
    test::FakeSettingsStore settings_;
    std::unique_ptr<ParseClient> parse_;
};

TEST_F(TestbedWebApi, SignsUpANewAccountThatCanSignInOnce) {
    const auto stamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto email = "new+" + stamp + "@havenway.test";  // its Base64 holds "+" or "/" often enough
    const auto email64 = base64(email);
    const auto password64 = base64("secret99");
    const auto uuid = "UUID-" + stamp;

    auto token = authorize(email64, uuid);
    ASSERT_TRUE(token);
    auto [created, createError] = call("signupForFreeTrial", signupParams(email64, password64, uuid, *token));
    ASSERT_FALSE(createError) << createError->message;
    EXPECT_EQ(created["result"].string(), "success");

    auto [login, loginError] = call("authenticateUser", JSON::dictionaryLiteral({{"username", email}, {"password", "secret99"}}));
    ASSERT_FALSE(loginError);
    EXPECT_EQ(login["status"].string(), "success");
    ASSERT_TRUE(parse_->currentUser());

    auto again = authorize(email64, uuid);
    ASSERT_TRUE(again);
    auto [dup, dupError] = call("signupForFreeTrial", signupParams(email64, password64, uuid, *again));
    ASSERT_TRUE(dupError);
    EXPECT_EQ(JSON::parse(dupError->message)["errorCode"].int64(), 4);

    auto [spent, spentError] = call("signupForFreeTrial", signupParams(email64, password64, uuid, *token));
    ASSERT_TRUE(spentError) << "an authorization token serves one sign-up";
    EXPECT_EQ(JSON::parse(spentError->message)["errorCode"].int64(), 2);
}

TEST_F(TestbedWebApi, ExchangesTheIdentityServiceCodeForVpnCredentials) {
    auto token = send("POST", env_->webUrl() + "/oauth/token", {{"Content-Type", "application/x-www-form-urlencoded"}},
                      "grant_type=authorization_code&client_id=Xq7pLmN2vR8tKw4zYb6cHd9fJs3gTn5e"
                      "&client_secret=Vb3nQ7xKm2Lp9Rt4Wz8Yc6Hd1Fj5Gs0Nk3Pq7Tv2Xw9Zb4Mc8Ld6Rf1Hj5Kn0SpA"
                      "&redirect_uri=havenway%3A%2F%2Foauth%2Fcallback&code=testbed-enterprise-code");
    auto access = JSON::parse(token.body)["access_token"].string();
    ASSERT_TRUE(access) << token.body;
    auto info = send("GET", env_->webUrl() + "/userinfo", {{"Authorization", "Bearer " + *access}});
    auto metadata = JSON::parse(info.body)["user_metadata"];
    EXPECT_EQ(metadata["username"].string(), env_->get("HAVENWAY_TESTBED_DEMO_USER"));
    EXPECT_EQ(metadata["password"].string(), env_->get("HAVENWAY_TESTBED_DEMO_PASSWORD"));

    auto refused = send("GET", env_->webUrl() + "/userinfo", {{"Authorization", "Bearer nope"}});
    EXPECT_EQ(refused.status, 401);
}

TEST_F(TestbedWebApi, ServesTheWidgetToASessionAndRecordsAnalytics) {
    auto [login, error] = call("authenticateUser", JSON::dictionaryLiteral({{"username", env_->get("HAVENWAY_TESTBED_DEMO_USER")},
                                                                             {"password", env_->get("HAVENWAY_TESTBED_DEMO_PASSWORD")}}));
    ASSERT_FALSE(error);
    ASSERT_TRUE(parse_->currentUser());
    const HttpHeaders app = {{"X-Parse-Application-Id", env_->get("HAVENWAY_TESTBED_APP_ID")}};
    auto anonymous = send("POST", env_->webUrl() + "/api/smart-widget", app);
    EXPECT_EQ(anonymous.status, 401);
    auto widget = send("POST", env_->webUrl() + "/api/smart-widget",
                       {app[0], {"X-Parse-Session-Token", parse_->currentUser()->sessionToken}});
    ASSERT_EQ(widget.status, 200);
    auto w = JSON::parse(widget.body);
    for (const char* key : {"title", "subtitle", "link", "link_text", "image"}) EXPECT_TRUE(w[key].string()) << key;

    const auto marker = "ae_test_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    auto tracked = send("POST", env_->webUrl() + "/api/app-analytics.php",
                        {{"Content-Type", "application/x-www-form-urlencoded"}}, "event=" + marker);
    EXPECT_EQ(JSON::parse(tracked.body)["result"].string(), "success");
    auto seen = send("GET", env_->webUrl() + "/testbed/analytics");
    EXPECT_NE(seen.body.find(marker), std::string::npos);
}

}  // namespace
}  // namespace hw
