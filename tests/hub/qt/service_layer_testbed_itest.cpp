// The hub on the real services against the testbed backend.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <memory>

#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "platform/backend/parse_client.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "platform/temp_dir.h"
#include "services/auth_service.h"
#include "services/locations_list_model.h"
#include "support/fake_image_codec.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "testbed/testbed_env.h"

namespace hw {
namespace {

QCoreApplication& hubTestApp() {
    static int argc = 1;
    static char name[] = "hub_itest";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

template <class Done>
bool spinUntil(Done done, int boundMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < boundMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

struct AppFirst {
    AppFirst() { hubTestApp(); }
};

class HubTestbed : public ::testing::Test, private AppFirst {
protected:
    void SetUp() override {
        env = test::TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << test::TestbedEnv::path();
        env->exportToEnvironment();
        settings.registerDefaults(SettingsUserDefaults::defaults());
        http = std::make_unique<QtHttpClient>(queue);
        parse = makeClient();
        factory = std::make_shared<DefaultServiceLayerFactory>(ServiceLayerPlatform{
            queue, background, settings, secrets, *http, *parse, system, codec, nullptr, nullptr, nullptr});
        hub = std::make_unique<ServiceLayer>(factory);
    }
    void TearDown() override {
        hub.reset();
        factory.reset();
        parse.reset();
        http.reset();
        spinUntil([] { return false; }, 30);
    }
    std::unique_ptr<ParseClient> makeClient() {
        ParseClientConfig c;
        c.applicationId = env->get("HAVENWAY_TESTBED_APP_ID");
        c.clientKey = env->get("HAVENWAY_TESTBED_CLIENT_KEY");
        c.serverURL = env->parseUrl();
        c.secretService = "com.havenway.hub-itest";
        c.datastorePath = dir.file("datastore.sqlite");
        c.requestTimeoutMs = 15000;
        auto client = std::make_unique<ParseClient>(c, *http, queue, secrets, settings);
        client->enableRevocableSession();
        EXPECT_TRUE(client->enableLocalDatastore());
        return client;
    }
    bool signIn() {
        std::optional<AuthResults> result;
        hub->authService()->login(env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"),
                                  [&](AuthResults r, std::optional<std::string>) { result = r; });
        return spinUntil([&] { return result.has_value(); }) && result == AuthResults::success;
    }

    struct Background final : BackgroundQueue {
        void async(Task task) override { task(); }
    } background;
    std::optional<test::TestbedEnv> env;
    test::TempDir dir;
    QtMainQueue queue;
    std::unique_ptr<QtHttpClient> http;
    test::FakeSecretStore secrets;
    test::FakeSettingsStore settings;
    test::FakeSystemInfo system;
    test::FakeImageCodec codec;
    std::unique_ptr<ParseClient> parse;
    std::shared_ptr<DefaultServiceLayerFactory> factory;
    std::unique_ptr<ServiceLayer> hub;
};

TEST_F(HubTestbed, PreparesSignsInAndLoadsTheRequiredData) {
    system.serial = "HUBITEST01";
    hub->prepareApplication();
    EXPECT_EQ(settings.stringForKey(SettingsUserDefaults::vpnProtocols), " Automatic");
    ASSERT_TRUE(signIn());

    int completions = 0;
    std::optional<std::string> failure;
    hub->loadRequiredData([&] { ++completions; }, [&](const std::string& e) { failure = e; });
    ASSERT_TRUE(spinUntil([&] { return completions > 0 || failure; })) << "required data never arrived";
    ASSERT_FALSE(failure) << *failure;

    ApplicationModel& model = hub->appModel();
    ASSERT_TRUE(model.locationsListModel());
    EXPECT_EQ(model.locationsListModel()->items().size(), 6u);
    ASSERT_TRUE(model.currentAutomaticLocation);
    EXPECT_TRUE(model.currentAutomaticLocation->isAutomaticLocationItem);
    EXPECT_TRUE(model.explicitAutomaticItemLocationID());
    ASSERT_TRUE(model.userPublicIP);
    EXPECT_FALSE(model.userPublicIP->empty());
    EXPECT_EQ(model.userCountry, "NL");
    // The mirror that serves the country, else the configured main domain.
    std::string expected = model.parseMainDomainName;
    for (const auto& entry : model.domainForCountriesList.value_or(std::vector<DomainForCountryObject>{})) {
        if (std::find(entry.countries.begin(), entry.countries.end(), "NL") != entry.countries.end()) {
            expected = entry.domain;
            break;
        }
    }
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(model.mainDomainName, expected);
    EXPECT_TRUE(model.vpnConfigUpdatedAt);

    // Exactly once, however long the loop runs on.
    spinUntil([] { return false; }, 300);
    EXPECT_EQ(completions, 1);

    bool synced = false;
    hub->syncVPNAcccountDetails([&] { synced = true; });
    EXPECT_TRUE(spinUntil([&] { return synced; }));
}

}  // namespace
}  // namespace hw
