// The hub on the real services against the testbed backend.
#include <gtest/gtest.h>

#include <memory>

#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "services/locations_list_model.h"
#include "support/testbed_services_fixture.h"
#include "support/fake_image_codec.h"
#include "support/inline_background_queue.h"
#include "support/fake_system_info.h"
#include "support/testbed_sign_in.h"

namespace hw {
namespace {

using test::spinUntil;

class HubTestbed : public test::TestbedServicesFixture {
protected:
    void SetUp() override {
        TestbedServicesFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        settings.registerDefaults(SettingsUserDefaults::defaults());
        factory = std::make_shared<DefaultServiceLayerFactory>(ServiceLayerPlatform{
            queue, background, settings, secrets, *http, *parse, system, codec, nullptr, nullptr, nullptr});
        hub = std::make_unique<ServiceLayer>(factory);
    }
    void TearDown() override {
        hub.reset();
        factory.reset();
        TestbedServicesFixture::TearDown();
    }
    test::InlineBackgroundQueue background;
    test::FakeSystemInfo system;
    test::FakeImageCodec codec;
    std::shared_ptr<DefaultServiceLayerFactory> factory;
    std::unique_ptr<ServiceLayer> hub;
};

TEST_F(HubTestbed, PreparesSignsInAndLoadsTheRequiredData) {
    system.serial = "HUBITEST01";
    hub->prepareApplication();
    EXPECT_EQ(settings.stringForKey(SettingsUserDefaults::vpnProtocols), " Automatic");
    ASSERT_EQ(test::signIn(*hub, demoUser(), demoPassword()), "");

    int completions = 0;
    std::optional<std::string> failure;
    hub->loadRequiredData([&] { ++completions; }, [&](const std::string& e) { failure = e; });
    ASSERT_TRUE(spinUntil([&] { return completions > 0 || failure; })) << "required data never arrived";
    ASSERT_FALSE(failure) << *failure;

    ApplicationModel& model = hub->appModel();
    ASSERT_TRUE(model.locationsListModel());
    EXPECT_EQ(model.locationsListModel()->items().size(), 6u);
    EXPECT_TRUE(model.currentAutomaticLocation);
    EXPECT_TRUE(model.userPublicIP && !model.userPublicIP->empty());
    EXPECT_EQ(model.userCountry, "NL");
    EXPECT_FALSE(model.mainDomainName.empty());
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
