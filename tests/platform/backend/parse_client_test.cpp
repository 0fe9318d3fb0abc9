#include "platform/backend/parse_client.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "support/fake_http_client.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/inline_background_queue.h"
#include "support/manual_queue.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

using test::FakeHttpClient;

std::optional<std::string> header(const HttpRequest& r, const std::string& name) {
    for (const auto& [k, v] : r.headers) {
        if (k == name) return v;
    }
    return std::nullopt;
}

class ParseClientTest : public ::testing::Test {
protected:
    ParseClientConfig config() const {
        ParseClientConfig c;
        c.applicationId = "APP";
        c.clientKey = "KEY";
        c.serverURL = "https://backend.test/parse/";
        c.secretService = "svc";
        c.datastorePath = dir_.file("store/datastore.sqlite");
        c.requestTimeoutMs = 10000;
        return c;
    }
    std::unique_ptr<ParseClient> makeClient() {
        return std::make_unique<ParseClient>(config(), http_, queue_, secrets_, settings_);
    }
    // Answers by path (the part after the server address, without the query).
    void answer(std::map<std::string, HttpResponse> byPath) {
        http_.responder = [byPath](const HttpRequest& r) {
            auto path = r.url.substr(std::string("https://backend.test/parse").size());
            path = path.substr(0, path.find('?'));
            auto it = byPath.find(r.method + " " + path);
            return it == byPath.end() ? FakeHttpClient::ok(R"({"code":101,"error":"not scripted"})", 404) : it->second;
        };
    }

    test::TempDir dir_;
    test::ManualQueue queue_;
    FakeHttpClient http_{queue_};
    test::FakeSecretStore secrets_;
    test::FakeSettingsStore settings_;
};

TEST_F(ParseClientTest, CloudFunctionSendsTheRestShapeAndAnswersOnceOnTheQueue) {
    auto client = makeClient();
    answer({{"POST /functions/getAutomaticLocation", FakeHttpClient::ok(R"({"result":"loc42"})")}});
    int calls = 0;
    JSON got;
    client->callFunction("getAutomaticLocation", JSON::dictionaryLiteral({{"userip", "1.2.3.4"}, {"userTimeZone", "Europe/Amsterdam"}}),
                         [&](JSON result, OptionalParseError error) {
                             ++calls;
                             EXPECT_FALSE(error);
                             got = result;
                         });
    EXPECT_EQ(calls, 0) << "never synchronously";
    queue_.runUntilIdle();
    EXPECT_EQ(queue_.pending(), 0u) << "the answer ends the safety timer: nothing is left to wake an idle application";
    queue_.advance(60000);
    EXPECT_EQ(calls, 1) << "the safety timer never fires after the answer";
    EXPECT_EQ(got.string(), "loc42");
    const auto& r = http_.requests.at(0);
    EXPECT_EQ(header(r, "X-Parse-Application-Id"), "APP");
    EXPECT_EQ(header(r, "X-Parse-Client-Key"), "KEY");
    EXPECT_FALSE(header(r, "X-Parse-Session-Token")) << "signed out";
    EXPECT_EQ(JSON::parse(r.body)["userTimeZone"].string(), "Europe/Amsterdam");
}

TEST_F(ParseClientTest, MapsServerAndTransportFailuresToErrorCodes) {
    auto client = makeClient();
    struct Case {
        HttpResponse response;
        int code;
    };
    const std::vector<Case> cases = {
        {FakeHttpClient::ok(R"({"code":209,"error":"Invalid session token"})", 400), kParseErrorInvalidSessionToken},
        {FakeHttpClient::ok(R"({"code":141,"error":"{\"errorCode\":4,\"message\":\"exists\"}"})", 400), 141},
        {FakeHttpClient::ok("<html>bad gateway</html>", 502), kParseErrorInternalServer},
        {FakeHttpClient::ok("not json", 200), kParseErrorInvalidJSON},
        {FakeHttpClient::ok(R"({"no":"result"})", 200), kParseErrorInvalidJSON},
        {FakeHttpClient::failed(HttpCannotConnect, "refused"), kParseErrorConnectionFailed},
        {FakeHttpClient::failed(HttpTlsFailed, "bad certificate"), kParseErrorConnectionFailed},
        {FakeHttpClient::failed(HttpTimedOut, "slow"), kParseErrorTimeout},
    };
    std::vector<ParseError> errors;
    for (const auto& c : cases) {
        http_.scripted.push_back(c.response);
        client->callFunction("syncVPNAcccountDetails", JSON::dictionaryLiteral({}), [&](JSON, OptionalParseError e) {
            ASSERT_TRUE(e);
            errors.push_back(*e);
        });
    }
    queue_.runUntilIdle();
    ASSERT_EQ(errors.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(errors[i].code, cases[i].code) << "case " << i;
    EXPECT_TRUE(errors[0].isInvalidSession());
    EXPECT_EQ(errors[0].payload["code"].int64(), 209);
    EXPECT_EQ(JSON::parse(errors[1].message)["errorCode"].int64(), 4) << "the script's error text is kept whole";
}

TEST_F(ParseClientTest, AReplyThatNeverComesEndsInOneTimeout) {
    auto client = makeClient();
    int calls = 0;
    std::optional<ParseError> error;
    client->callFunction("getNotificationsDataV2", JSON::dictionaryLiteral({}), [&](JSON, OptionalParseError e) {
        ++calls;
        error = e;
    });
    queue_.advance(10000);
    EXPECT_EQ(calls, 0);
    queue_.advance(1000);
    ASSERT_EQ(calls, 1);
    EXPECT_EQ(error->code, kParseErrorTimeout);
    http_.respond(FakeHttpClient::ok(R"({"result":{}})"));
    queue_.runUntilIdle();
    EXPECT_EQ(calls, 1) << "a late answer is dropped";
}

TEST_F(ParseClientTest, AuthenticateUserBecomesThatUserAcrossRestarts) {
    auto client = makeClient();
    client->enableRevocableSession();
    answer({{"POST /functions/authenticateUser", FakeHttpClient::ok(R"({"result":{"status":"success","sessionToken":"r:tok"}})")},
            {"GET /users/me", FakeHttpClient::ok(R"({"objectId":"u1","username":"demo@havenway.test","sessionToken":"r:tok"})")},
            {"POST /functions/getNotificationsDataV2", FakeHttpClient::ok(R"({"result":{}})")},
            {"POST /logout", FakeHttpClient::ok("{}")}});
    std::optional<std::string> status;
    client->callFunction("authenticateUser", JSON::dictionaryLiteral({{"username", "demo@havenway.test"}, {"password", "pw"}}),
                         [&](JSON result, OptionalParseError e) {
                             EXPECT_FALSE(e);
                             EXPECT_TRUE(client->currentUser()) << "the user is current when the completion runs";
                             status = result["status"].string();
                         });
    queue_.runUntilIdle();
    EXPECT_EQ(status, "success");
    ASSERT_EQ(http_.requests.size(), 2u);
    EXPECT_EQ(header(http_.requests[1], "X-Parse-Session-Token"), "r:tok");
    EXPECT_EQ(header(http_.requests[1], "X-Parse-Revocable-Session"), "1");
    EXPECT_EQ(secrets_.read("svc", ParseClient::kSessionTokenKey).text(), "r:tok");
    EXPECT_EQ(settings_.stringForKey(ParseClient::kCurrentUserKey)->find("r:tok"), std::string::npos)
        << "the token lives in the secret store only";

    secrets_.reads = 0;
    auto restarted = makeClient();
    ASSERT_TRUE(restarted->currentUser());
    EXPECT_EQ(secrets_.reads, 1);
    restarted->callFunction("getNotificationsDataV2", JSON::dictionaryLiteral({}), [](JSON, OptionalParseError) {});
    queue_.runUntilIdle();
    EXPECT_EQ(header(http_.requests.back(), "X-Parse-Session-Token"), "r:tok");

    restarted->logOut();
    EXPECT_FALSE(restarted->currentUser()) << "gone at once";
    EXPECT_EQ(secrets_.read("svc", ParseClient::kSessionTokenKey).status, SecretStatus::Absent);
    queue_.runUntilIdle();
    EXPECT_EQ(http_.requests.back().url, "https://backend.test/parse/logout");
    EXPECT_EQ(header(http_.requests.back(), "X-Parse-Session-Token"), "r:tok");
}

// A sign-out's revocation goes on a connection no tunnel's end drops and is
// asked again, at a doubling pace, until the server answers (a token already
// revoked is refused: an answer too); one unanswered at quit is the next start's.
TEST_F(ParseClientTest, ASignedOutSessionIsRevokedOnceTheServerAnswersAcrossRestarts) {
    const auto offline = FakeHttpClient::failed(HttpCannotConnect, "no route to host");
    struct Row {
        std::vector<HttpResponse> answers;
        std::size_t asked;  // by 4 s: tries at 0, 1 and 3 s
    };
    const Row rows[] = {
        {{offline, FakeHttpClient::ok(R"({"code":1,"error":"internal"})", 503), FakeHttpClient::ok("{}")}, 3},
        {{FakeHttpClient::ok(R"({"code":209,"error":"Invalid session token"})", 400)}, 1},
        {{offline}, 3},  // until the quit
    };
    test::InlineBackgroundQueue worker;
    SecretStoreQueue keychain(unownedSecretStore(secrets_), queue_, worker);
    auto make = [&] { return std::make_unique<ParseClient>(config(), http_, queue_, secrets_, settings_, &keychain); };
    for (const auto& [answers, asked] : rows) {
        SCOPED_TRACE(asked);
        http_.requests.clear();
        settings_.set(ParseClient::kCurrentUserKey, SettingValue(std::string(R"({"objectId":"u1"})")));
        ASSERT_TRUE(secrets_.writeString("svc", ParseClient::kSessionTokenKey, "r:tok"));
        auto client = make();
        queue_.runUntilIdle();
        http_.responder = [&, &answers = answers](const HttpRequest&) {
            return answers.at(std::min(http_.requests.size(), answers.size()) - 1);
        };
        client->logOut();
        queue_.runUntilIdle();
        queue_.advance(ParseClient::kRevokeRetryMs - 1);
        EXPECT_EQ(http_.requests.size(), 1u) << "asked again too soon";
        queue_.advance(ParseClient::kRevokeRetryMs * 3 + 1);
        EXPECT_EQ(http_.requests.size(), asked);
        for (const auto& r : http_.requests) {
            EXPECT_EQ(header(r, "X-Parse-Session-Token"), "r:tok");
            EXPECT_TRUE(r.freshConnection && r.keptThroughDrops);
        }
        const bool left = answers.back().error.has_value();
        EXPECT_EQ(client->sessionsToRevoke(), left ? 1u : 0u);
        EXPECT_EQ(settings_.boolForKey(ParseClient::kSessionsToRevokeKey), left) << "a mark only: the token is a secret";
    }
    http_.requests.clear();
    http_.responder = [](const HttpRequest&) { return FakeHttpClient::ok("{}"); };
    auto next = make();
    queue_.runUntilIdle();
    ASSERT_EQ(http_.requests.size(), 1u);
    EXPECT_EQ(header(http_.requests[0], "X-Parse-Session-Token"), "r:tok");
    EXPECT_FALSE(settings_.object(ParseClient::kSessionsToRevokeKey));
    EXPECT_EQ(secrets_.read("svc", ParseClient::kSessionsToRevokeKey).status, SecretStatus::Absent);
}

TEST_F(ParseClientTest, AFailedSignInOrATokenThatCouldSplitHeadersMakesNoUserAndNoFurtherRequest) {
    for (const char* result : {R"({"result":{"status":"failed"}})",
                               R"({"result":{"status":"success","sessionToken":"r:x\r\nX-Parse-Master-Key: k"}})"}) {
        http_.requests.clear();
        auto client = makeClient();
        answer({{"POST /functions/authenticateUser", FakeHttpClient::ok(result)}});
        OptionalParseError error;
        client->callFunction("authenticateUser", JSON::dictionaryLiteral({{"username", "x"}, {"password", "y"}}),
                             [&](JSON, OptionalParseError e) { error = e; });
        queue_.runUntilIdle();
        EXPECT_EQ(error.has_value(), std::string(result).find("r:x") != std::string::npos) << result;
        EXPECT_TRUE(!error || error->isInvalidSession());
        EXPECT_FALSE(client->currentUser()) << result;
        EXPECT_EQ(http_.requests.size(), 1u) << result;
    }

    // Signed out, the start waits on no secret store (it may still be starting).
    secrets_.writeString("svc", ParseClient::kSessionTokenKey, "r:left");
    secrets_.reads = 0;
    EXPECT_FALSE(makeClient()->currentUser()) << "a token without its user is not a sign-in";
    EXPECT_EQ(secrets_.reads, 0);

    secrets_.writeString("svc", ParseClient::kSessionTokenKey, "r:a b");
    settings_.set(ParseClient::kCurrentUserKey, R"({"objectId":"u1"})");
    EXPECT_FALSE(makeClient()->currentUser()) << "a damaged stored token is not restored";
}

TEST_F(ParseClientTest, ConfigIsCachedInTheDatastoreAndServedWhenAFetchFails) {
    {
        auto client = makeClient();
        ASSERT_TRUE(client->enableLocalDatastore());
        answer({{"GET /config", FakeHttpClient::ok(R"({"params":{"DNSResolver":"9.9.9.9","useAutoUpdater":true}})")}});
        client->fetchConfig([](ParseConfig, OptionalParseError) {});
        queue_.runUntilIdle();
    }
    struct stat st {};
    ASSERT_EQ(::stat(dir_.file("store/datastore.sqlite").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    auto client = makeClient();
    EXPECT_FALSE(client->currentConfig()["DNSResolver"].exists()) << "no datastore yet";
    ASSERT_TRUE(client->enableLocalDatastore());
    EXPECT_EQ(client->currentConfig()["DNSResolver"].string(), "9.9.9.9");
    http_.responder = nullptr;
    http_.scripted.push_back(FakeHttpClient::failed(HttpCannotConnect, "offline"));
    client->fetchConfig([](ParseConfig c, OptionalParseError e) {
        EXPECT_TRUE(e);
        EXPECT_EQ(c["useAutoUpdater"].bool_(), true) << "the cached copy comes with the error";
    });
    queue_.runUntilIdle();
}

TEST_F(ParseClientTest, SavingUploadsTheFileFirstAndAppliesTheDefaultAcl) {
    secrets_.writeString("svc", ParseClient::kSessionTokenKey, "r:tok");
    settings_.set(ParseClient::kCurrentUserKey, R"({"objectId":"u1","username":"demo"})");
    auto client = makeClient();
    client->setDefaultACL(JSON::dictionaryLiteral({}), true);
    answer({{"POST /files/error.log", FakeHttpClient::ok(R"({"name":"abc_error.log","url":"https://backend.test/parse/files/APP/abc_error.log"})", 201)},
            {"POST /classes/ErrorLogReport", FakeHttpClient::ok(R"({"objectId":"r1","createdAt":"2026-12-06T18:00:00.000Z"})", 201)}});
    ParseObject report("ErrorLogReport");
    report.setPointer("user", "_User", client->currentUser()->objectId);
    report.set("errorMessage", "tunnel failed");
    report.setFile("log", client->fileWithData("error.log", Bytes{'l', 'o', 'g'}));
    std::optional<ParseObject> saved;
    client->save(report, [&](ParseObject o, OptionalParseError e) {
        EXPECT_FALSE(e);
        saved = o;
    });
    queue_.runUntilIdle();
    ASSERT_EQ(http_.requests.size(), 2u);
    EXPECT_EQ(http_.requests[0].body, "log");
    auto body = JSON::parse(http_.requests[1].body);
    EXPECT_EQ(body["log"]["name"].string(), "abc_error.log");
    EXPECT_EQ(body["ACL"]["u1"]["write"].bool_(), true);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->objectId(), "r1");
}

TEST_F(ParseClientTest, FailedUploadSavesNothing) {
    auto client = makeClient();
    http_.scripted.push_back(FakeHttpClient::ok(R"({"code":130,"error":"upload refused"})", 400));
    ParseObject report("ErrorLogReport");
    report.setFile("log", client->fileWithData("error.log", Bytes{'x'}));
    std::optional<ParseError> error;
    client->save(report, [&](ParseObject, OptionalParseError e) { error = e; });
    queue_.runUntilIdle();
    EXPECT_EQ(error ? error->code : 0, 130);
    EXPECT_EQ(http_.requests.size(), 1u);
}

// A class of `stored` objects paged as the server pages them; its count
// answers `counted` (objects made since), or fails.
TEST_F(ParseClientTest, FindAllCountsFirstMissesNoObjectAndKeepsEachPagesWork) {
    struct Case {
        const char* name;
        int stored, counted;
        bool countFails, pageFails;
        std::size_t requests;
        std::vector<int> pages;  // the objects of each page taken, as its work saw them
    };
    const Case cases[] = {
        {"one short page", 60, 60, false, false, 2, {60}},
        {"pages and a short one", 2500, 2500, false, false, 4, {1000, 1000, 500}},
        // The page past a full last one is asked with the others, not after them.
        {"whole pages", 2000, 2000, false, false, 4, {1000, 1000, 0}},
        {"no count: one page after another", 2500, -1, true, false, 4, {1000, 1000, 500}},
        {"objects made since the count", 2300, 1000, false, false, 4, {1000, 1000, 300}},
        {"a failed page is the answer", 2500, 2500, false, true, 4, {}},
    };
    const auto param = [](const std::string& url, const std::string& key) {
        const auto at = url.find(key + "=");
        return at == std::string::npos ? -1 : std::atoi(url.c_str() + at + key.size() + 1);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        http_.requests.clear();
        http_.responder = [&](const HttpRequest& r) {
            if (param(r.url, "count") == 1) {
                if (c.countFails) return FakeHttpClient::ok(R"({"code":1,"error":"busy"})", 500);
                return FakeHttpClient::ok(R"({"results":[],"count":)" + std::to_string(c.counted) + "}");
            }
            const int skip = std::max(param(r.url, "skip"), 0), limit = param(r.url, "limit");
            if (c.pageFails && skip == 1000) return FakeHttpClient::ok(R"({"code":1,"error":"busy"})", 500);
            std::string body = R"({"results":[)";
            for (int i = skip; i < std::min(skip + limit, c.stored); ++i)
                body += (i > skip ? "," : "") + std::string(R"({"objectId":"o)") + std::to_string(i) + "\"}";
            return FakeHttpClient::ok(body + "]}");
        };
        auto client = makeClient();
        int answers = 0;
        std::set<std::string> ids;
        std::size_t found = 0;
        OptionalParseError error;
        std::vector<int> pages;
        ParseQuery query("Probe");
        query.orderByAscending("objectId");
        query.limit = 1000;
        const auto work = [](const std::vector<ParseObject>& page) -> ParseClient::PageMade {
            return std::make_shared<const int>(static_cast<int>(page.size()));
        };
        client->findAll(query, work, [&](std::vector<ParseObject> objects, std::vector<ParseClient::PageMade> made,
                                         OptionalParseError e) {
            ++answers;
            error = e;
            found = objects.size();
            for (const auto& o : objects) ids.insert(o.objectId());
            for (const auto& m : made) pages.push_back(*static_cast<const int*>(m.get()));
        });
        // Both asked before either answers, the count first.
        ASSERT_EQ(http_.requests.size(), 2u);
        EXPECT_EQ(param(http_.requests[0].url, "count"), 1);
        EXPECT_EQ(param(http_.requests[1].url, "count"), -1);
        queue_.runUntilIdle();
        EXPECT_EQ(answers, 1);
        EXPECT_EQ(http_.requests.size(), c.requests);
        EXPECT_EQ(pages, c.pages);
        if (c.pageFails) {
            EXPECT_TRUE(error);
            EXPECT_EQ(found, 0u);
            continue;
        }
        EXPECT_FALSE(error);
        EXPECT_EQ(found, std::size_t(c.stored));
        EXPECT_EQ(ids.size(), std::size_t(c.stored));
    }
}

TEST_F(ParseClientTest, PinnedObjectsAreFoundOfflineAndTheirFilesNeverWaitOnTheNetwork) {
    auto client = makeClient();
    ASSERT_TRUE(client->enableLocalDatastore());
    answer({{"GET /classes/VPNConfig", FakeHttpClient::ok(R"({"results":[
        {"objectId":"a","name":"Netherlands","flag":{"__type":"File","name":"nl.png","url":"https://backend.test/parse/files/APP/nl.png"}},
        {"objectId":"b","name":"Japan"}]})")},
            {"GET /files/APP/nl.png", FakeHttpClient::ok("PNGDATA")}});
    std::vector<ParseObject> found;
    client->find(ParseQuery("VPNConfig").orderByAscending("sortOrder"), [&](std::vector<ParseObject> objects, OptionalParseError e) {
        EXPECT_FALSE(e);
        found = std::move(objects);
    });
    queue_.runUntilIdle();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_NE(http_.requests[0].url.find("order=sortOrder"), std::string::npos);
    ASSERT_TRUE(client->pinAll("configs", found));

    auto flag = found[0].file("flag");
    ASSERT_TRUE(flag);
    ParseError miss;
    EXPECT_FALSE(flag->getData(&miss));
    EXPECT_EQ(miss.code, kParseErrorCacheMiss);
    EXPECT_EQ(http_.requests.size(), 1u) << "a blocking read never goes to the network";
    std::optional<Bytes> data;
    flag->getDataInBackground([&](std::optional<Bytes> d, OptionalParseError e) {
        EXPECT_FALSE(e);
        data = d;
    });
    queue_.runUntilIdle();
    EXPECT_EQ(data, (Bytes{'P', 'N', 'G', 'D', 'A', 'T', 'A'}));

    // Offline, in a new client: the pinned objects, and the flag from the file cache.
    http_.responder = [](const HttpRequest&) { return FakeHttpClient::failed(HttpCannotConnect, "offline"); };
    auto offline = makeClient();
    ASSERT_TRUE(offline->enableLocalDatastore());
    std::vector<ParseObject> local;
    offline->findInLocalDatastore(ParseQuery("VPNConfig").whereEqualTo("name", "Netherlands"), "configs",
                                  [&](std::vector<ParseObject> objects, OptionalParseError e) {
                                      EXPECT_FALSE(e);
                                      local = std::move(objects);
                                  });
    queue_.runUntilIdle();
    ASSERT_EQ(local.size(), 1u);
    ASSERT_TRUE(local[0].file("flag"));
    EXPECT_TRUE(local[0].file("flag")->isDataAvailable());

    // Written and read on the datastore's queue, in order, answered on the main one.
    test::ManualQueue reader;
    offline->setDatastoreQueue(&reader);
    ASSERT_TRUE(offline->pinAll("configs", {local[0]}));
    int count = -1;
    offline->findInLocalDatastore(ParseQuery("VPNConfig"), "configs",
                                  [&](std::vector<ParseObject> objects, OptionalParseError) { count = static_cast<int>(objects.size()); });
    queue_.runUntilIdle();
    EXPECT_EQ(count, -1) << "read on the main thread";
    reader.runUntilIdle();
    queue_.runUntilIdle();
    EXPECT_EQ(count, 1) << "pinning again replaces the pin's objects";
}

TEST_F(ParseClientTest, RefusesNamesThatWouldBendTheRequestPath) {
    auto client = makeClient();
    int errors = 0;
    client->callFunction("../classes/_User", JSON::dictionaryLiteral({}), [&](JSON, OptionalParseError e) { errors += e ? 1 : 0; });
    client->callFunction("ok", JSON("not a dictionary"), [&](JSON, OptionalParseError e) { errors += e ? 1 : 0; });
    client->find(ParseQuery("VPNConfig?where=x"), [&](std::vector<ParseObject>, OptionalParseError e) { errors += e ? 1 : 0; });
    client->save(ParseObject("A/B"), [&](ParseObject, OptionalParseError e) { errors += e ? 1 : 0; });
    queue_.runUntilIdle();
    EXPECT_EQ(errors, 4);
    EXPECT_TRUE(http_.requests.empty());
}

TEST(ParseDate, ReadsTypedAndPlainIsoDatesAndRefusesTheRest) {
    EXPECT_EQ(parseDate(JSON::dictionaryLiteral({{"__type", "Date"}, {"iso", "2026-11-01T00:00:00.000Z"}})),
              Date{1793491200.0});
    EXPECT_EQ(parseDate(JSON("1970-01-01T00:00:01.500Z")), Date{1.5});
    for (const JSON& bad : {JSON("2026-11-01"), JSON("2026-13-01T00:00:00Z"), JSON("2026-11-01T00:00:00+02:00"), JSON(42),
                            JSON::dictionaryLiteral({{"__type", "File"}, {"iso", "2026-11-01T00:00:00.000Z"}})}) {
        EXPECT_FALSE(parseDate(bad)) << bad;
    }
}

TEST(LocalDatastore, StartsAfreshFromADamagedFileAndStaysPrivate) {
    test::TempDir temp;
    const std::string dir = temp.path();
    const auto path = dir + "/cache/datastore.sqlite";
    {
        auto store = LocalDatastore::open(path);
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->replacePin("p", {{"VPNConfig", "a", "{}"}, {"VPNConfig", "b", "{}"}}));
        ASSERT_TRUE(store->addToPin("q", {{"VPNConfig", "b", "{}"}}));
        ASSERT_TRUE(store->unpin("p"));
        auto left = store->pinned("VPNConfig", "");
        ASSERT_EQ(left.size(), 1u) << "an object another pin holds stays";
    }
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/cache").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    {
        std::ofstream damage(path, std::ios::binary | std::ios::trunc);
        damage << std::string(4096, '\x5a');
    }
    auto store = LocalDatastore::open(path);
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->pinned("VPNConfig", "").empty());
    EXPECT_TRUE(store->putValue("k", "v"));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LocalDatastore, AStarAmongThousandsOfLocationsLooksOnlyAtTheFavourites) {
    test::TempDir temp;
    auto store = LocalDatastore::open(temp.path() + "/datastore.sqlite");
    ASSERT_TRUE(store);
    constexpr int kLocations = 6000;
    std::vector<LocalDatastore::StoredObject> locations;
    for (int i = 0; i < kLocations; ++i) locations.push_back({"VPNConfig", "cfg" + std::to_string(i), "{}"});
    ASSERT_TRUE(store->replacePin("configs", locations));
    ASSERT_TRUE(store->replacePin("favorites.u", {{"FavoriteLocation", "cfg1", "{}"}, {"FavoriteLocation", "cfg2", "{}"}}));

    ASSERT_TRUE(store->replacePin("favorites.u", {{"FavoriteLocation", "cfg2", "{}"}, {"FavoriteLocation", "cfg3", "{}"}}));
    EXPECT_LT(store->lastWriteSteps(), kLocations / 10) << "the cleanup walked the whole table";
    std::vector<std::string> stars;
    for (const auto& o : store->pinned("FavoriteLocation", "")) stars.push_back(o.objectId);
    EXPECT_EQ(stars, (std::vector<std::string>{"cfg2", "cfg3"}));
    EXPECT_EQ(store->pinned("VPNConfig", "").size(), static_cast<std::size_t>(kLocations));

    // A location the new list leaves out is gone, one still listed elsewhere stays.
    ASSERT_TRUE(store->addToPin("recent", {{"VPNConfig", "cfg0", "{}"}}));
    locations.erase(locations.begin(), locations.begin() + 2);
    ASSERT_TRUE(store->replacePin("configs", locations));
    const auto kept = store->pinned("VPNConfig", "");
    EXPECT_EQ(kept.size(), static_cast<std::size_t>(kLocations - 1));
    EXPECT_EQ(kept.front().objectId, "cfg0");
}

}  // namespace
}  // namespace hw
