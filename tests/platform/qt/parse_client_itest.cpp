// The backend client against the testbed's real Parse Server, over QtHttpClient
// (configuration, queries and files run through the hub's and windows' testbed tests).
#include "platform/backend/parse_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <unistd.h>

#include "platform/thread_pool.h"
#include "support/testbed_services_fixture.h"

namespace hw {
namespace {

using test::spinUntil;

// The fixture's own client stays unused: each test makes the clients it needs.
class ParseClientTestbed : public test::TestbedServicesFixture {
protected:
    std::unique_ptr<ParseClient> client() {
        auto c = test::testbedParseConfig(*env, "com.havenway.test", dir.file("datastore.sqlite"));
        auto p = std::make_unique<ParseClient>(c, *http, queue, secrets, settings);
        p->enableRevocableSession();
        EXPECT_TRUE(p->enableLocalDatastore());
        return p;
    }
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
};

// A wrong password runs through the login window's testbed test.
TEST_F(ParseClientTestbed, ARevocableSessionOutlivesOtherSignInsUntilItsLogOut) {
    auto p = client();
    ASSERT_TRUE(signIn(*p, env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD")));
    ASSERT_TRUE(p->currentUser());
    EXPECT_EQ(p->currentUser()->sessionToken.rfind("r:", 0), 0u) << "a revocable session";

    // A sign-in elsewhere (other stores: another device) leaves this session alone.
    test::FakeSecretStore otherSecrets;
    test::FakeSettingsStore otherSettings;
    ParseClient other(test::testbedParseConfig(*env, ""), *http, queue, otherSecrets, otherSettings);
    ASSERT_TRUE(signIn(other, env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD")));

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

TEST_F(ParseClientTestbed, UploadsAReportWithItsLogFile) {
    auto p = client();
    ASSERT_TRUE(signIn(*p, env->get("HAVENWAY_TESTBED_USER"), env->get("HAVENWAY_TESTBED_PASSWORD")));
    const auto logPath = dir.file("error.log");
    std::ofstream(logPath) << "line 1\nline 2\n";
    ParseError readError;
    auto file = p->fileWithPath("error.log", logPath, &readError);
    ASSERT_TRUE(file);
    EXPECT_FALSE(p->fileWithPath("error.log", dir.file("missing.log"), &readError));

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
    check.url = env->parseUrl() + "/classes/ErrorLogReport/" + saved.first.objectId();
    check.headers = {{"X-Parse-Application-Id", env->get("HAVENWAY_TESTBED_APP_ID")},
                     {"X-Parse-Master-Key", env->get("HAVENWAY_TESTBED_MASTER_KEY")}};
    auto stored = await<HttpResponse>([&](auto done) { http->send(check, done); });
    auto json = JSON::parse(stored.body);
    EXPECT_EQ(json["errorMessage"].string(), "integration test");
    EXPECT_EQ(json["user"]["objectId"].string(), p->currentUser()->objectId);
    ASSERT_TRUE(json["log"]["url"].string());
    HttpRequest download;
    download.url = *json["log"]["url"].string();
    auto body = await<HttpResponse>([&](auto done) { http->send(download, done); });
    EXPECT_EQ(body.body, "line 1\nline 2\n");

    auto opened = await<OptionalParseError>([&](auto done) { p->trackAppOpened(done); });
    EXPECT_FALSE(opened);
}

// More objects than one of the application's pages of 1,000, most of them
// with one sort key: findAll must page on the server's own order and neither
// repeat nor miss one.
TEST_F(ParseClientTestbed, FindAllPagesThroughEveryObjectOnce) {
    const std::string cls = "PagingProbe" + std::to_string(::getpid());
    constexpr int kObjects = 1205;
    const HttpHeaders master{{"X-Parse-Application-Id", env->get("HAVENWAY_TESTBED_APP_ID")},
                             {"X-Parse-Master-Key", env->get("HAVENWAY_TESTBED_MASTER_KEY")},
                             {"Content-Type", "application/json"}};
    // All at once, each on its own: this server's /batch fails in-process.
    const auto each = [&](const std::vector<HttpRequest>& requests) {
        int answered = 0, ok = 0;
        for (const auto& r : requests)
            http->send(r, [&](HttpResponse a) { ++answered, ok += a.status / 100 == 2; });
        EXPECT_TRUE(spinUntil([&] { return answered == int(requests.size()); }, 180000));
        return ok;
    };
    std::vector<HttpRequest> creates;
    for (int i = 0; i < kObjects; ++i) {
        HttpRequest r;
        r.method = "POST";
        r.url = env->parseUrl() + "/classes/" + cls;
        r.headers = master;
        r.body = JSON::dictionaryLiteral({{"n", i}, {"sortOrder", i < 10 ? i : 10}}).rawString().value_or("");
        creates.push_back(r);
    }
    ASSERT_EQ(each(creates), kObjects);

    // Decoded on a worker of their own, as the application has them.
    ThreadPool pages(1);
    auto p = client();
    p->setDecodeQueue(&pages);
    ParseQuery query(cls);
    query.orderByAscending("sortOrder,objectId");
    query.limit = 1000;
    using Found = std::pair<std::vector<ParseObject>, OptionalParseError>;
    auto found = await<Found>([&](auto done) {
        p->findAll(query, [done](std::vector<ParseObject> o, OptionalParseError e) { done({std::move(o), e}); });
    });
    ASSERT_FALSE(found.second) << found.second->message;
    std::set<long long> seen;
    for (const auto& o : found.first) seen.insert(o.get("n").int64().value_or(-1));
    EXPECT_EQ(found.first.size(), std::size_t(kObjects));
    EXPECT_EQ(seen.size(), std::size_t(kObjects));
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), kObjects - 1);
    // The pages asked side by side come back in the server's order.
    for (std::size_t i = 1; i < found.first.size(); ++i)
        ASSERT_LE(found.first[i - 1].get("sortOrder").int64(), found.first[i].get("sortOrder").int64()) << i;

    std::vector<HttpRequest> drops;
    for (const auto& o : found.first) {
        HttpRequest r;
        r.method = "DELETE";
        r.url = env->parseUrl() + "/classes/" + cls + "/" + o.objectId();
        r.headers = master;
        drops.push_back(r);
    }
    each(drops);
}

}  // namespace
}  // namespace hw
