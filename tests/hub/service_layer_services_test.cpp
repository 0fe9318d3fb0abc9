// The hub on the real services, over the real backend client and an
// in-memory backend, in virtual time.
#include <gtest/gtest.h>

#include "core/settings_user_defaults.h"
#include "hub/default_service_layer_factory.h"
#include "support/temp_dir.h"
#include "services/auth_service.h"
#include "services/locations_list_model.h"
#include "support/capture_log.h"
#include "support/fake_backend.h"
#include "support/fake_image_codec.h"
#include "support/fake_secret_store.h"
#include "support/fake_settings_store.h"
#include "support/fake_system_info.h"
#include "support/manual_queue.h"

namespace hw::test {
namespace {

JSON location(const std::string& id, int order) {
    return JSON::dictionaryLiteral({{"objectId", id},
                                    {"name", "Location " + id},
                                    {"countryCode", id},
                                    {"dnsPrefix", id + "1"},
                                    {"l2tpSharedKey", "shared"},
                                    {"ovpnConfigWithDNSName", "remote " + id + "1.vpn.test 1194\n"},
                                    {"isRecommended", true},
                                    {"sortOrder", order}});
}

class HubOnRealServices : public ::testing::Test {
protected:
    HubOnRealServices() {
        settings.registerDefaults(SettingsUserDefaults::defaults());
        backend.configParams = JSON::dictionaryLiteral({
            {"publicIPInfoUrl", "https://web.test/api/ipinfo"},
            {"vpnConfigUpdatedAt", JSON::dictionaryLiteral({{"__type", "Date"}, {"iso", "2026-05-01T10:00:00.000Z"}})},
            {"mainDomainName", "www.example.test"},
            {"vpnServersDomainSuffix", "vpn.example.test"},
            {"reachabilityDomainName", "backend.example.test"},
            {"domainForCountriesList", R"({"list":[{"countries":["DE"],"domain":"mirror.example.test"}]})"},
        });
        backend.classes["VPNConfig"] = {location("nl", 1), location("de", 2)};
        backend.web = [](const HttpRequest&) {
            return HttpResponse{200, {}, R"({"ip":"203.0.113.7","country_code":"DE","time_zone":"Europe/Berlin"})", {}};
        };
        backend.functions["authenticateUser"] = [this](const JSON& p) {
            ++signIns;
            backend.findError.reset();
            if (p["password"].string() != std::optional<std::string>("S3cr3t-hub")) {
                return FakeBackend::Reply::ok(JSON::dictionaryLiteral({{"status", "failed"}}));
            }
            return FakeBackend::Reply::ok(JSON::dictionaryLiteral(
                {{"status", "success"}, {"sessionToken", "r:token1"}, {"objectId", backend.sessionUserId}}));
        };
        backend.functions["getAutomaticLocation"] = [this](const JSON&) {
            return automaticLocationExpired ? FakeBackend::Reply::error(209, "invalid session token")
                                            : FakeBackend::Reply::ok(JSON("de"));
        };
        factory = std::make_shared<DefaultServiceLayerFactory>(ServiceLayerPlatform{
            queue, background, settings, secrets, backend, *parse, system, codec, nullptr, nullptr, nullptr});
        hub = std::make_unique<ServiceLayer>(factory);
    }
    ~HubOnRealServices() override {
        hub.reset();
        log::setSink(nullptr);
    }
    void runAll() {
        while (queue.runUntilIdle() + background.runUntilIdle() > 0) {
        }
    }
    void signIn() {
        std::optional<AuthResults> result;
        hub->authService()->login("user@example.com", "S3cr3t-hub",
                                  [&](AuthResults r, std::optional<std::string>) { result = r; });
        runAll();
        ASSERT_EQ(result, AuthResults::success);
    }

    std::shared_ptr<CaptureLog> log = CaptureLog::install();
    TempDir dir;
    ManualQueue queue;
    ManualQueue background;
    FakeBackend backend{queue};
    FakeSecretStore secrets;
    FakeSettingsStore settings;
    FakeSystemInfo system;
    FakeImageCodec codec;
    std::unique_ptr<ParseClient> parse = std::make_unique<ParseClient>(
        FakeBackend::clientConfig(dir.file("datastore.sqlite")), backend, queue, secrets, settings);
    std::shared_ptr<DefaultServiceLayerFactory> factory;
    std::unique_ptr<ServiceLayer> hub;
    int signIns = 0;
    bool automaticLocationExpired = false;
};

TEST_F(HubOnRealServices, BothBranchesMeetingAnExpiredSessionShareOneSilentSignIn) {
    hub->prepareApplication();
    signIn();
    backend.findError = FakeBackend::Reply::error(209, "invalid session token");
    automaticLocationExpired = true;
    backend.functions["authenticateUser"] = [this, login = backend.functions["authenticateUser"]](const JSON& p) {
        automaticLocationExpired = false;
        return login(p);
    };

    int completions = 0;
    hub->loadRequiredData([&] { ++completions; });
    runAll();

    EXPECT_EQ(signIns, 2) << "the first sign-in and one silent one";
    EXPECT_EQ(completions, 1);
    ApplicationModel& model = hub->appModel();
    ASSERT_TRUE(model.locationsListModel());
    EXPECT_EQ(model.locationsListModel()->items().size(), 2u);
    ASSERT_TRUE(model.currentAutomaticLocation);
    EXPECT_EQ(model.currentAutomaticLocation->objectId, "de");
    EXPECT_EQ(model.userPublicIP, "203.0.113.7");
    EXPECT_EQ(model.userCountry, "DE");
    EXPECT_EQ(model.mainDomainName, "mirror.example.test");
    EXPECT_FALSE(log->contains("S3cr3t-hub"));
}

}  // namespace
}  // namespace hw::test
