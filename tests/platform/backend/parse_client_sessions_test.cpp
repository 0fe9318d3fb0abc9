#include <gtest/gtest.h>

#include "platform/backend/parse_client.h"
#include "support/capture_log.h"
#include "support/fake_http_client.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/manual_queue.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

using test::FakeHttpClient;

std::string sessionOf(const HttpRequest& r) {
    for (const auto& [k, v] : r.headers) {
        if (k == "X-Parse-Session-Token") return v;
    }
    return "";
}

class ParseSessionsTest : public ::testing::Test {
protected:
    ParseClientConfig config() const {
        ParseClientConfig c;
        c.applicationId = "APP";
        c.clientKey = "KEY";
        c.serverURL = "https://backend.test/parse";
        c.secretService = "svc";
        c.datastorePath = dir_.file("datastore.sqlite");
        return c;
    }
    // Signs in as the testbed would answer, with the session token given.
    void signIn(ParseClient& client, const std::string& token) {
        http_.responder = [token](const HttpRequest& r) {
            if (r.url.find("/functions/authenticateUser") != std::string::npos)
                return FakeHttpClient::ok(R"({"result":{"status":"success","sessionToken":")" + token + R"("}})");
            return FakeHttpClient::ok(R"({"objectId":"u1","username":"demo"})");
        };
        client.callFunction("authenticateUser", JSON::dictionaryLiteral({{"username", "demo"}}), [](JSON, OptionalParseError) {});
        queue_.runUntilIdle();
        ASSERT_TRUE(client.currentUser());
        http_.requests.clear();
    }
    std::string journal() {
        const bool failing = std::exchange(secrets_.failReads, false);
        const auto text = secrets_.read("svc", ParseClient::kSessionsToRevokeKey).text();
        secrets_.failReads = failing;
        return text;
    }
    std::vector<std::string> revoked() {
        std::vector<std::string> out;
        for (const auto& r : http_.requests) {
            if (r.url.find("/logout") != std::string::npos) out.push_back(sessionOf(r));
        }
        return out;
    }

    test::TempDir dir_;
    test::ManualQueue queue_;
    FakeHttpClient http_{queue_};
    test::FakeSecretStore secrets_;
    test::FakeSettingsStore settings_;
};

// A list of sessions to revoke that could not be read at the start (a locked
// keyring) is read again before anything is written over it: the earlier
// run's session and this one's are both revoked.
TEST_F(ParseSessionsTest, AnUnreadJournalIsReadAgainAndMergedNeverWrittenOver) {
    ASSERT_TRUE(secrets_.writeString("svc", ParseClient::kSessionsToRevokeKey, "r:old\n"));
    settings_.set(ParseClient::kSessionsToRevokeKey, SettingValue(true));
    auto log = test::CaptureLog::install();
    secrets_.failReads = true;
    ParseClient client(config(), http_, queue_, secrets_, settings_);
    EXPECT_TRUE(log->contains("the sessions left to revoke could not be read"));
    signIn(client, "r:new");
    http_.responder = [](const HttpRequest&) { return FakeHttpClient::failed(HttpCannotConnect, "refused"); };
    client.logOut();
    queue_.runUntilIdle();
    EXPECT_EQ(journal(), "r:old\n") << "not written over while unread";
    EXPECT_EQ(revoked(), std::vector<std::string>{"r:new"});

    secrets_.failReads = false;  // the keyring unlocked
    http_.requests.clear();
    http_.responder = [](const HttpRequest&) { return FakeHttpClient::ok("{}"); };
    queue_.advance(60000);
    const auto asked = revoked();
    EXPECT_NE(std::find(asked.begin(), asked.end(), "r:old"), asked.end()) << "the earlier run's session is revoked";
    EXPECT_NE(std::find(asked.begin(), asked.end(), "r:new"), asked.end());
    EXPECT_EQ(client.sessionsToRevoke(), 0u);
    EXPECT_FALSE(settings_.object(ParseClient::kSessionsToRevokeKey));
    log::setSink(nullptr);
}

// Only a definite answer ends a revocation: done, or a token that is no
// longer a session. "Try later" (with its wait) and a failing server are
// asked again, for at most a day in one run; the list keeps it after that.
TEST_F(ParseSessionsTest, ARevocationEndsOnlyOnADefiniteAnswer) {
    const auto tooMany = FakeHttpClient::ok(R"({"code":155,"error":"try later"})", 429, {{"Retry-After", "120"}});
    const auto forbidden = FakeHttpClient::ok(R"({"code":119,"error":"forbidden"})", 403);
    const auto invalid = FakeHttpClient::ok(R"({"code":209,"error":"Invalid session token"})", 400);
    struct Row {
        const char* name;
        std::vector<HttpResponse> answers;  // the last repeats
        double advanceMs;
        std::size_t asked;
        bool left;
    };
    const Row rows[] = {
        {"429 waits its Retry-After, then done", {tooMany, FakeHttpClient::ok("{}")}, 119999, 1, true},
        {"429 asked again after its Retry-After", {tooMany, FakeHttpClient::ok("{}")}, 120001, 2, false},
        {"403 is no answer, then invalid session ends it", {forbidden, invalid}, 1001, 2, false},
        {"429 for ever: a day of asking, then the next start", {tooMany}, 3.0 * ParseClient::kRevokeGiveUpMs, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ParseClient client(config(), http_, queue_, secrets_, settings_);
        signIn(client, "r:tok");
        http_.responder = [this, &row](const HttpRequest&) {
            return row.answers.at(std::min(http_.requests.size(), row.answers.size()) - 1);
        };
        client.logOut();
        queue_.runUntilIdle();
        queue_.advance(row.advanceMs);
        if (row.asked) EXPECT_EQ(revoked().size(), row.asked);
        else EXPECT_LT(revoked().size(), 30u) << "asked with a growing wait, not in a loop";
        if (!row.asked) {
            const auto asked = revoked().size();
            queue_.advance(3.0 * ParseClient::kRevokeGiveUpMs);
            EXPECT_EQ(revoked().size(), asked) << "no longer asked in this run";
        }
        EXPECT_EQ(client.sessionsToRevoke(), row.left ? 1u : 0u);
        EXPECT_EQ(journal(), row.left ? "r:tok\n" : "");
        http_.responder = [](const HttpRequest&) { return FakeHttpClient::ok("{}"); };
        queue_.advance(3.0 * ParseClient::kRevokeGiveUpMs);  // the next row starts clean
        http_.requests.clear();
        secrets_.remove("svc", ParseClient::kSessionsToRevokeKey);
        settings_.remove(ParseClient::kSessionsToRevokeKey);
    }
}

// An answer far larger than what it holds is refused before it is parsed,
// and the configuration kept stands.
TEST_F(ParseSessionsTest, AnOversizedConfigurationIsRefusedUnparsed) {
    ParseClient client(config(), http_, queue_, secrets_, settings_);
    auto log = test::CaptureLog::install();
    std::string huge = R"({"params":{"x":[)";
    while (huge.size() <= static_cast<std::size_t>(ParseClient::kMaxConfigBytes)) huge += "[],";
    huge += "[]]}}";
    http_.responder = [&huge](const HttpRequest&) { return FakeHttpClient::ok(huge); };
    OptionalParseError error;
    ParseConfig got;
    client.fetchConfig([&](ParseConfig c, OptionalParseError e) {
        got = std::move(c);
        error = std::move(e);
    });
    queue_.runUntilIdle();
    ASSERT_TRUE(error);
    EXPECT_FALSE(got["x"].exists());
    ASSERT_EQ(http_.requests.size(), 1u);
    EXPECT_EQ(http_.requests[0].maxResponseBytes, ParseClient::kMaxConfigBytes);
    EXPECT_TRUE(log->contains("GET /config: the answer is larger than 1048576 bytes; refused before parsing"));
    log::setSink(nullptr);
}

}  // namespace
}  // namespace hw
