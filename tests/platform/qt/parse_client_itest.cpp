// The backend client against the testbed's real Parse Server, over QtHttpClient.
#include "platform/backend/parse_client.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/qt_test_app.h"
#include "support/temp_dir.h"
#include "support/testbed_parse_config.h"
#include "testbed/testbed_env.h"

namespace hw {
namespace {

using test::spinUntil;

class ParseClientTestbed : public ::testing::Test, private test::QtAppFirst {
protected:
    void SetUp() override {
        env_ = test::TestbedEnv::load();
        if (!env_) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << test::TestbedEnv::path();
        env_->exportToEnvironment();
        ASSERT_FALSE(dir_.path().empty());
        http_ = std::make_unique<QtHttpClient>(queue_);
    }
    void TearDown() override {
        // Let Qt finish its connection teardown before the process ends.
        http_.reset();
        spinUntil([] { return false; }, 50);
    }
    std::unique_ptr<ParseClient> client(std::string serverURL = {}) {
        auto c = test::testbedParseConfig(*env_, "com.havenway.test", dir_.file("datastore.sqlite"));
        if (!serverURL.empty()) c.serverURL = serverURL;
        auto p = std::make_unique<ParseClient>(c, *http_, queue_, secrets_, settings_);
        p->enableRevocableSession();
        EXPECT_TRUE(p->enableLocalDatastore());
        return p;
    }
    // Runs a cloud function to its end.
    std::pair<JSON, OptionalParseError> call(ParseClient& p, const std::string& name, JSON params) {
        std::optional<std::pair<JSON, OptionalParseError>> out;
        p.callFunction(name, params, [&](JSON r, OptionalParseError e) { out.emplace(r, e); });
        EXPECT_TRUE(spinUntil([&] { return out.has_value(); }));
        return out.value_or(std::make_pair(JSON(), OptionalParseError()));
    }
    bool signIn(ParseClient& p, const std::string& user, const std::string& password) {
        auto [result, error] = call(p, "authenticateUser", JSON::dictionaryLiteral({{"username", user}, {"password", password}}));
        EXPECT_FALSE(error) << (error ? error->message : "");
        return result["status"].string() == "success";
    }
    template <class T>
    T await(std::function<void(std::function<void(T)>)> start) {
        std::optional<T> out;
        start([&](T v) { out.emplace(std::move(v)); });
        EXPECT_TRUE(spinUntil([&] { return out.has_value(); }));
        return std::move(*out);
    }

    std::optional<test::TestbedEnv> env_;
    test::TempDir dir_;
    QtMainQueue queue_;
    std::unique_ptr<QtHttpClient> http_;
    test::FakeSecretStore secrets_;
    test::FakeSettingsStore settings_;
};

TEST_F(ParseClientTestbed, SignsInWithTheRightPasswordOnly) {
    auto p = client();
    EXPECT_FALSE(signIn(*p, env_->get("HAVENWAY_TESTBED_DEMO_USER"), "wrong-password"));
    EXPECT_FALSE(p->currentUser());

    ASSERT_TRUE(signIn(*p, env_->get("HAVENWAY_TESTBED_DEMO_USER"), env_->get("HAVENWAY_TESTBED_DEMO_PASSWORD")));
    ASSERT_TRUE(p->currentUser());
    EXPECT_EQ(p->currentUser()->username, env_->get("HAVENWAY_TESTBED_DEMO_USER"));
    EXPECT_EQ(p->currentUser()->sessionToken.rfind("r:", 0), 0u) << "a revocable session";

    // A sign-in elsewhere (other stores: another device) leaves this session alone.
    test::FakeSecretStore otherSecrets;
    test::FakeSettingsStore otherSettings;
    ParseClient other(test::testbedParseConfig(*env_, ""), *http_, queue_, otherSecrets, otherSettings);
    ASSERT_TRUE(signIn(other, env_->get("HAVENWAY_TESTBED_DEMO_USER"), env_->get("HAVENWAY_TESTBED_DEMO_PASSWORD")));

    auto restored = client();
    ASSERT_TRUE(restored->currentUser());
    using BecomeResult = std::pair<std::optional<ParseUser>, OptionalParseError>;
    auto again = await<BecomeResult>([&](auto done) {
        restored->become(restored->currentUser()->sessionToken,
                         [done](std::optional<ParseUser> u, OptionalParseError e) { done({u, e}); });
    });
    EXPECT_FALSE(again.second) << "the session outlived a sign-in on another device";

    auto revoked = await<OptionalParseError>([&](auto done) { restored->logOut(done); });
    EXPECT_FALSE(revoked);
    auto stale = await<BecomeResult>([&](auto done) {
        p->become(p->currentUser()->sessionToken, [done](std::optional<ParseUser> u, OptionalParseError e) { done({u, e}); });
    });
    ASSERT_TRUE(stale.second);
    EXPECT_TRUE(stale.second->isInvalidSession()) << stale.second->code;
}

TEST_F(ParseClientTestbed, FetchesAndCachesTheConfiguration) {
    {
        auto p = client();
        auto [config, error] = await<std::pair<ParseConfig, OptionalParseError>>([&](auto done) {
            p->fetchConfig([done](ParseConfig c, OptionalParseError e) { done({c, e}); });
        });
        ASSERT_FALSE(error);
        EXPECT_EQ(config["publicIPInfoUrl"].string(), env_->webUrl() + "/api/ipinfo");
        // The testbed's own name server where its VPN servers run.
        const std::string nameServer = env_->get("HAVENWAY_TESTBED_VPN_SERVER");
        EXPECT_EQ(config["DNSResolver"].string(), nameServer.empty() ? "8.8.4.4" : nameServer);
        EXPECT_TRUE(parseDate(config["vpnConfigUpdatedAt"])) << "a Date value";
    }
    auto offline = client("https://127.0.0.1:1/parse");
    EXPECT_EQ(offline->currentConfig()["reachabilityDomainName"].string(), env_->get("HAVENWAY_BACKEND_HOST"));
}

TEST_F(ParseClientTestbed, QueriesPinsAndReadsConfigurationsOffline) {
    auto p = client();
    ASSERT_TRUE(signIn(*p, env_->get("HAVENWAY_TESTBED_DEMO_USER"), env_->get("HAVENWAY_TESTBED_DEMO_PASSWORD")));
    using Found = std::pair<std::vector<ParseObject>, OptionalParseError>;
    auto configs = await<Found>([&](auto done) {
        p->find(ParseQuery("VPNConfig").orderByAscending("sortOrder"),
                [done](std::vector<ParseObject> o, OptionalParseError e) { done({std::move(o), e}); });
    });
    ASSERT_FALSE(configs.second);
    ASSERT_EQ(configs.first.size(), 6u);
    EXPECT_EQ(configs.first[0].get("name").string(), "Netherlands");
    ASSERT_TRUE(p->pinAll("vpnConfigs", configs.first));

    auto favourites = await<Found>([&](auto done) {
        p->find(ParseQuery("FavoriteVPNConfig").wherePointerTo("user", "_User", p->currentUser()->objectId),
                [done](std::vector<ParseObject> o, OptionalParseError e) { done({std::move(o), e}); });
    });
    ASSERT_FALSE(favourites.second);
    EXPECT_EQ(favourites.first.size(), 2u);

    auto flag = configs.first[0].file("flag");
    ASSERT_TRUE(flag);
    using Data = std::pair<std::optional<Bytes>, OptionalParseError>;
    auto data = await<Data>([&](auto done) {
        flag->getDataInBackground([done](std::optional<Bytes> d, OptionalParseError e) { done({d, e}); });
    });
    ASSERT_FALSE(data.second);
    ASSERT_TRUE(data.first);
    ASSERT_GT(data.first->size(), 8u);
    EXPECT_EQ(std::string(data.first->begin() + 1, data.first->begin() + 4), "PNG");

    auto offline = client("https://127.0.0.1:1/parse");
    auto local = await<Found>([&](auto done) {
        offline->findInLocalDatastore(ParseQuery("VPNConfig").whereEqualTo("countryCode", "NL"), "vpnConfigs",
                                      [done](std::vector<ParseObject> o, OptionalParseError e) { done({std::move(o), e}); });
    });
    ASSERT_FALSE(local.second);
    ASSERT_EQ(local.first.size(), 1u);
    EXPECT_EQ(local.first[0].objectId(), configs.first[0].objectId());
    auto cachedFlag = local.first[0].file("flag");
    ASSERT_TRUE(cachedFlag && cachedFlag->isDataAvailable());
    EXPECT_EQ(cachedFlag->getData(), data.first);
}

TEST_F(ParseClientTestbed, UploadsAReportWithItsLogFile) {
    auto p = client();
    ASSERT_TRUE(signIn(*p, env_->get("HAVENWAY_TESTBED_USER"), env_->get("HAVENWAY_TESTBED_PASSWORD")));
    const auto logPath = dir_.file("error.log");
    std::ofstream(logPath) << "line 1\nline 2\n";
    ParseError readError;
    auto file = p->fileWithPath("error.log", logPath, &readError);
    ASSERT_TRUE(file);
    EXPECT_FALSE(p->fileWithPath("error.log", dir_.file("missing.log"), &readError));

    ParseObject report("ErrorLogReport");
    report.setPointer("user", "_User", p->currentUser()->objectId);
    report.set("platform", "Linux test");
    report.set("errorMessage", "integration test");
    report.setFile("log", file);
    using Saved = std::pair<ParseObject, OptionalParseError>;
    auto saved = await<Saved>([&](auto done) {
        p->save(report, [done](ParseObject o, OptionalParseError e) { done({std::move(o), e}); });
    });
    ASSERT_FALSE(saved.second) << saved.second->message;
    EXPECT_EQ(saved.first.objectId().size(), 10u);

    // Read it back as the service would, with the master key.
    HttpRequest check;
    check.url = env_->parseUrl() + "/classes/ErrorLogReport/" + saved.first.objectId();
    check.headers = {{"X-Parse-Application-Id", env_->get("HAVENWAY_TESTBED_APP_ID")},
                     {"X-Parse-Master-Key", env_->get("HAVENWAY_TESTBED_MASTER_KEY")}};
    auto stored = await<HttpResponse>([&](auto done) { http_->send(check, done); });
    auto json = JSON::parse(stored.body);
    EXPECT_EQ(json["errorMessage"].string(), "integration test");
    EXPECT_EQ(json["user"]["objectId"].string(), p->currentUser()->objectId);
    ASSERT_TRUE(json["log"]["url"].string());
    HttpRequest download;
    download.url = *json["log"]["url"].string();
    auto body = await<HttpResponse>([&](auto done) { http_->send(download, done); });
    EXPECT_EQ(body.body, "line 1\nline 2\n");

    auto opened = await<OptionalParseError>([&](auto done) { p->trackAppOpened(done); });
    EXPECT_FALSE(opened);
}

}  // namespace
}  // namespace hw
