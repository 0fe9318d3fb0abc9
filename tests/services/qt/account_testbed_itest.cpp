// The web API, sign-up and the notification bars on the testbed (sign-in, the
// locations list and the enterprise exchange run through the windows' and the
// shell's testbed tests).
#include <unistd.h>

#include <chrono>

#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "services/analytics_service.h"
#include "services/auth_service.h"
#include "services/free_trial_sign_up_service.h"
#include "services/locations_list_operations.h"
#include "services/notifications_data.h"
#include "support/fake_image_codec.h"
#include "support/inline_background_queue.h"
#include "support/fake_system_info.h"
#include "testbed_services_fixture.h"

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
        auth = std::make_unique<AuthService>(*parse, secrets, *model, "com.havenway.services-itest");
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

TEST_F(AccountTestbed, AnalyticsReachTheTracker) {
    AnalyticsService analytics(*model, *http);
    analytics.trackerURL = env->webUrl() + "/api/app-analytics.php";
    model->setSendAnalyticsData(true);
    const std::string marker = "ae_itest_" + std::to_string(::getpid());
    analytics.sendEvent(marker, AnalyticsService::Parameters{{"ap_location_id", "Japan"}});
    bool seen = false;
    test::spinUntil([&] {
        if (seen) return true;
        HttpRequest list;
        list.url = env->webUrl() + "/testbed/analytics";
        bool answered = false;
        http->send(list, [&](HttpResponse r) {
            seen = r.body.find(marker) != std::string::npos;
            answered = true;
        });
        test::spinUntil([&] { return answered; }, 5000);
        return seen;
    }, 10000);
    EXPECT_TRUE(seen) << "the tracker received the event";
}

TEST_F(AccountTestbed, NewAccountIsAuthorisedCreatedAndVerified) {
    secrets.writeString("svc", "appID", "itest-install-1");
    UUIDHelper uuid(secrets, system, "svc");
    FreeTrialSignUpService signUp(*parse, *http, uuid, queue);
    signUp.authService = auth.get();
    const auto email = "new" + std::to_string(::getpid()) + "-" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "@havenway.test";
    signUp.setCredentials(email, "fresh-pass-1");

    std::optional<FreeTrialSignUpService::AuthorizeOutcome> authorized;
    signUp.authorizeForFreeTrial(env->webUrl() + "/api/freeTrial/authorizeForFreeTrial_v2.php", *signUp.username,
                                 [&](auto o) { authorized = o; });
    ASSERT_TRUE(test::spinUntil([&] { return authorized.has_value(); }));
    ASSERT_TRUE(authorized->success) << (authorized->message ? *authorized->message : "no message");

    std::optional<FreeTrialSignUpService::SignUpOutcome> created;
    signUp.performFreeTrialSignUp(*signUp.username, *signUp.password, *authorized->token,
                                  FreeTrialSignUpService::campaignParameters(std::nullopt),
                                  [&](auto o) { created = o; });
    ASSERT_TRUE(test::spinUntil([&] { return created.has_value(); }));
    ASSERT_TRUE(created->success) << created->code << " " << created->message;

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
