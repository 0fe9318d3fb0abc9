// The enterprise sign-in road of the shell against the testbed's identity service.
#include <algorithm>

#include "app/hub_shell_services.h"
#include "app/shell_doubles.h"
#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "support/testbed_services_fixture.h"
#include "support/fake_image_codec.h"
#include "support/fake_system_info.h"
#include "support/inline_background_queue.h"
#include "support/scoped_env.h"

namespace hw {
namespace {

class ShellTestbed : public test::TestbedServicesFixture {
protected:
    test::InlineBackgroundQueue background;
    test::FakeSystemInfo system;
    test::FakeImageCodec codec;
};

TEST_F(ShellTestbed, TheEnterpriseCodeHandsTheSignInWindowTheAccount) {
    test::ScopedEnv identity("HAVENWAY_IDENTITY_HOST", env->webUrl().c_str());
    settings.registerDefaults(SettingsUserDefaults::defaults());
    parse = makeClient();
    auto factory = std::make_shared<DefaultServiceLayerFactory>(ServiceLayerPlatform{
        queue, background, settings, secrets, *http, *parse, system, codec, nullptr, nullptr, nullptr});
    ServiceLayer hub(factory);
    HubShellServices services(hub, *parse, queue);
    test::Journal journal;
    test::RecordingAlerts alerts(journal);
    test::FakeUserNotificationCenter notifications;
    ShellWindows windows;
    auto auth = std::make_unique<test::RecordingAuthWindow>("auth", journal);
    auto* authWindow = auth.get();
    windows.auth = std::move(auth);
    windows.main = std::make_unique<test::RecordingMainWindow>("main", journal);
    windows.locations = std::make_unique<test::RecordingWindow>("locations", journal);
    AppDelegateEnvironment e{hub, settings, queue, services, std::move(windows), alerts, notifications};
    e.handlesURLs = true;
    AppDelegate delegate(std::move(e));

    authWindow->enterprisePage = true;
    delegate.handleURLEvent("havenway://oauth/callback?code=testbed-enterprise-code");
    const std::string expected = "auth.startEnterpriseLogin:" + demoUser() + "/" + demoPassword();
    EXPECT_TRUE(test::spinUntil([&] { return std::count(journal.begin(), journal.end(), expected) > 0; }))
        << "the account never reached the sign-in window";
}

}  // namespace
}  // namespace hw
