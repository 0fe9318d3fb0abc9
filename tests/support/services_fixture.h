#pragma once
// The services' shared test bed: virtual time, the fake backend behind the real
// backend client, and the other doubles.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "platform/backend/parse_client.h"
#include "support/temp_dir.h"
#include "support/capture_log.h"
#include "support/fake_backend.h"
#include "support/fake_http_client.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/inline_background_queue.h"
#include "platform/secret_store_queue.h"
#include "support/manual_queue.h"

namespace hw::test {

class ServicesFixture : public ::testing::Test {
protected:
    ServicesFixture() : backend(queue) {
        parse = makeClient();
        backend.functions["authenticateUser"] = [this](const JSON& p) {
            ++signIns;
            if (p["password"].string() != std::optional<std::string>("secret")) {
                return FakeBackend::Reply::ok(JSON::dictionaryLiteral({{"status", "failed"}}));
            }
            return FakeBackend::Reply::ok(JSON::dictionaryLiteral(
                {{"status", "success"}, {"sessionToken", "r:token1"}, {"objectId", backend.sessionUserId}}));
        };
    }

    std::unique_ptr<ParseClient> makeClient() {
        auto client = std::make_unique<ParseClient>(FakeBackend::clientConfig(dir.file("datastore.sqlite")), backend,
                                                    queue, secrets, settings);
        EXPECT_TRUE(client->enableLocalDatastore());
        return client;
    }

    void signIn() {
        parse->callFunction("authenticateUser",
                            JSON::dictionaryLiteral({{"username", "user@example.com"}, {"password", "secret"}}),
                            [](JSON, OptionalParseError) {});
        queue.runUntilIdle();
        ASSERT_TRUE(parse->currentUser());
    }

    static JSON location(const std::string& id, const std::string& name, int order, bool recommended = false) {
        return JSON::dictionaryLiteral({{"objectId", id},
                                        {"name", name},
                                        {"countryCode", id},
                                        {"dnsPrefix", id + "1"},
                                        {"l2tpSharedKey", "shared"},
                                        {"ovpnConfigWithDNSName", "remote " + id + "1.vpn.test 1194\n"},
                                        {"isRecommended", recommended},
                                        {"sortOrder", order},
                                        {"flag_px", 0.5},
                                        {"flag_py", 7}});
    }
    static JSON favorite(const std::string& configId) {
        return JSON::dictionaryLiteral(
            {{"objectId", "fav-" + configId},
             {"config", JSON::dictionaryLiteral({{"__type", "Pointer"}, {"className", "VPNConfig"}, {"objectId", configId}})}});
    }

    std::shared_ptr<CaptureLog> log = CaptureLog::install();
    TempDir dir;
    ManualQueue queue;
    FakeBackend backend;
    FakeSecretStore secrets;
    // Store calls run at once; their answers wait on the queue, as they would for the worker.
    InlineBackgroundQueue storeWorker;
    SecretStoreQueue keychain{unownedSecretStore(secrets), queue, storeWorker};
    FakeSettingsStore settings;
    std::unique_ptr<ParseClient> parse;
    int signIns = 0;
};

}  // namespace hw::test
