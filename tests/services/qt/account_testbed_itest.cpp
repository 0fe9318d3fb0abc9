// E-mail verification and the notification bars on the testbed (sign-in,
// sign-up, analytics, the locations list and the enterprise exchange run
// through the windows' and the shell's testbed tests).
#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "services/auth_service.h"
#include "services/free_trial_sign_up_service.h"
#include "services/locations_list_operations.h"
#include "services/notifications_data.h"
#include "support/fake_image_codec.h"
#include "support/inline_background_queue.h"
#include "support/fake_system_info.h"
#include "support/testbed_services_fixture.h"

namespace hw {
namespace {

class AccountTestbed : public test::TestbedServicesFixture {
protected:
    void SetUp() override {
        TestbedServicesFixture::SetUp();
        if (IsSkipped()) return;
        settings.registerDefaults(SettingsUserDefaults::defaults());
        model = std::make_unique<ApplicationModel>(
            ApplicationModelEnvironment{settings, queue, background, codec, *http, system});
        auth = std::make_unique<AuthService>(*parse, keychain, *model, "com.havenway.services-itest");
        ApplicationModelPorts ports;
        ports.loginData = auth.get();
        ports.locations = &locations;
        model->setPorts(ports);
    }
    void TearDown() override {
        auth.reset();
        model.reset();
        TestbedServicesFixture::TearDown();
    }

    test::InlineBackgroundQueue background;
    test::FakeImageCodec codec;
    test::FakeSystemInfo system;
    ServicesLocationsListOperations locations;
    std::unique_ptr<ApplicationModel> model;
    std::unique_ptr<AuthService> auth;
};

// Authorising and creating an account run through the sign-up windows' testbed tests.
TEST_F(AccountTestbed, EmailVerificationApprovesAnAccountTheBackendKnows) {
    secrets.writeString("svc", "appID", "itest-install-1");
    UUIDHelper uuid(secrets, system, "svc");
    FreeTrialSignUpService signUp(*parse, *http, uuid, queue);
    signUp.authService = auth.get();
    signUp.setCredentials(testUser(), testPassword());
    bool approved = false;
    bool hidden = false;
    signUp.emailVerificationApprovedHandler = [&] { approved = true; };
    signUp.hideProgressIndicatorHandler = [&] { hidden = true; };
    signUp.alertHandler = [](const std::string&, const std::string& text) { ADD_FAILURE() << text; };
    signUp.onEmailVerificationCompleted();
    ASSERT_TRUE(test::spinUntil([&] { return approved; }));
    EXPECT_TRUE(hidden);
}

TEST_F(AccountTestbed, NotificationBarsArrive) {
    ASSERT_TRUE(signInDirectly(demoUser(), demoPassword()));
    std::optional<NotificationsData> data;
    bool done = false;
    requestNotificationsData(*parse, "Linux", "1.0", [&](std::optional<NotificationsData> d, OptionalParseError e) {
        EXPECT_FALSE(e);
        data = std::move(d);
        done = true;
    });
    ASSERT_TRUE(test::spinUntil([&] { return done; }));
    ASSERT_TRUE(data && data->top && data->bottom);
    EXPECT_FALSE(data->bottom->footerIconURL.empty());
}

}  // namespace
}  // namespace hw
