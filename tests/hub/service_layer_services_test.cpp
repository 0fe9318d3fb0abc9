// The hub on the real services, over the real backend client and an
// in-memory backend, in virtual time.
#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "services/auth_service.h"
#include "services/free_trial_sign_up_service.h"
#include "support/services_fixture.h"
#include "support/fake_image_codec.h"
#include "support/fake_system_info.h"

namespace hw::test {
namespace {

class HubOnRealServices : public ServicesFixture {
protected:
    HubOnRealServices() {
        settings.registerDefaults(SettingsUserDefaults::defaults());
        backend.configParams = JSON::dictionaryLiteral({
            {"publicIPInfoUrl", "https://web.test/api/ipinfo"},
        });
        backend.classes["VPNConfig"] = {location("nl", "NL", 1), location("de", "DE", 2)};
        backend.web = [](const HttpRequest&) {
            return HttpResponse{200, {}, R"({"ip":"203.0.113.7","country_code":"DE","time_zone":"Europe/Berlin"})", {}};
        };
        // A sign-in renews the session for both branches.
        backend.functions["authenticateUser"] = [this, login = backend.functions["authenticateUser"]](const JSON& p) {
            backend.findError.reset();
            automaticLocationExpired = false;
            return login(p);
        };
        backend.functions["getAutomaticLocation"] = [this](const JSON&) {
            return automaticLocationExpired ? FakeBackend::Reply::error(209, "invalid session token")
                                            : FakeBackend::Reply::ok(JSON("de"));
        };
        hub = std::make_unique<ServiceLayer>(std::make_shared<DefaultServiceLayerFactory>(ServiceLayerPlatform{
            queue, background, settings, secrets, backend, *parse, system, codec, nullptr, nullptr, nullptr}));
    }
    ~HubOnRealServices() override { hub.reset(); }
    void runAll() {
        while (queue.runUntilIdle() + background.runUntilIdle() > 0) {
        }
    }

    ManualQueue background;
    FakeSystemInfo system;
    FakeImageCodec codec;
    std::unique_ptr<ServiceLayer> hub;
    bool automaticLocationExpired = false;
};

TEST_F(HubOnRealServices, BothBranchesMeetingAnExpiredSessionShareOneSilentSignIn) {
    hub->prepareApplication();
    std::optional<AuthResults> result;
    hub->authService()->login("user@example.com", "secret", [&](AuthResults r, std::optional<std::string>) { result = r; });
    runAll();
    ASSERT_EQ(result, AuthResults::success);
    backend.findError = FakeBackend::Reply::error(209, "invalid session token");
    automaticLocationExpired = true;

    int completions = 0;
    hub->loadRequiredData([&] { ++completions; });
    runAll();

    EXPECT_EQ(signIns, 2) << "the first sign-in and one silent one";
    EXPECT_EQ(completions, 1);
    ApplicationModel& model = hub->appModel();
    // Both repeated requests delivered.
    EXPECT_TRUE(model.locationsListModel());
    ASSERT_TRUE(model.currentAutomaticLocation);
    EXPECT_EQ(model.currentAutomaticLocation->objectId, "de");
    EXPECT_FALSE(log->contains("secret"));
}

// "Already verified? Click here." checks the new account by signing in.
TEST_F(HubOnRealServices, TheSignUpsVerificationCheckSignsInThroughTheHubsSignIn) {
    auto signUp = hub->freeTrialService();
    ASSERT_TRUE(signUp);
    signUp->usernamePlain = "new@example.com";
    signUp->passwordPlain = "secret";
    signUp->onEmailVerificationCompleted();
    runAll();
    EXPECT_EQ(signIns, 1);
    ASSERT_TRUE(hub->authService()->recentLoginData());
    EXPECT_EQ(hub->authService()->recentLoginData()->username, "new@example.com");
}

}  // namespace
}  // namespace hw::test
