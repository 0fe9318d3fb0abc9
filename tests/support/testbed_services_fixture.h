#pragma once
// The services against the testbed backend over QtHttpClient; skips when it is not up.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <memory>

#include "platform/backend/parse_client.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "platform/secret_store_queue.h"
#include "support/inline_background_queue.h"
#include "support/temp_dir.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/qt_test_app.h"
#include "support/testbed_parse_config.h"
#include "testbed/testbed_env.h"

namespace hw::test {

class TestbedServicesFixture : public ::testing::Test, private QtAppFirst {
protected:
    void SetUp() override {
        env = TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
        env->exportToEnvironment();
        http = std::make_unique<QtHttpClient>(queue);
        parse = makeClient();
    }
    void TearDown() override {
        parse.reset();
        http.reset();
        spinUntil([] { return false; }, 30);
    }
    std::unique_ptr<ParseClient> makeClient() {
        auto client = std::make_unique<ParseClient>(
            testbedParseConfig(*env, "com.havenway.services-itest", dir.file("datastore.sqlite")), *http, queue, secrets,
            settings);
        client->enableRevocableSession();
        EXPECT_TRUE(client->enableLocalDatastore());
        return client;
    }
    std::string demoUser() const { return env->get("HAVENWAY_TESTBED_DEMO_USER"); }
    std::string demoPassword() const { return env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"); }
    std::string testUser() const { return env->get("HAVENWAY_TESTBED_USER"); }
    std::string testPassword() const { return env->get("HAVENWAY_TESTBED_PASSWORD"); }

    // Signs the backend client in directly (the sign-in service has its own test).
    bool signInDirectly(const std::string& user, const std::string& password) {
        bool done = false;
        bool ok = false;
        parse->callFunction("authenticateUser", JSON::dictionaryLiteral({{"username", user}, {"password", password}}),
                            [&](JSON r, OptionalParseError e) {
                                ok = !e && r["status"].string() == std::optional<std::string>("success");
                                done = true;
                            });
        spinUntil([&] { return done; });
        return ok;
    }

    std::optional<TestbedEnv> env;
    TempDir dir;
    QtMainQueue queue;
    std::unique_ptr<QtHttpClient> http;
    FakeSecretStore secrets;
    InlineBackgroundQueue storeWorker;
    SecretStoreQueue keychain{unownedSecretStore(secrets), queue, storeWorker};
    FakeSettingsStore settings;
    std::unique_ptr<ParseClient> parse;
};

}  // namespace hw::test
