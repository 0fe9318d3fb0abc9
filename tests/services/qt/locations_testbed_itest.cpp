// The locations list, the enterprise exchange and the small requests against the testbed.
#include "services/enterprise_auth_service.h"
#include "services/notifications_data.h"
#include "services/vpn_configs_service.h"
#include "testbed_services_fixture.h"

namespace hw {
namespace {

class LocationsTestbed : public test::TestbedServicesFixture {
protected:
    std::shared_ptr<LocationsListModel> load(VPNConfigsService& service, bool useCache) {
        std::shared_ptr<LocationsListModel> model;
        bool done = false;
        service.loadLocationsList(useCache, [&](std::shared_ptr<LocationsListModel> m, OptionalParseError e) {
            EXPECT_FALSE(e) << (e ? e->message : "");
            model = std::move(m);
            done = true;
        });
        EXPECT_TRUE(test::spinUntil([&] { return done; }));
        return model;
    }
};

TEST_F(LocationsTestbed, LoadsFromTheBackendThenFromTheCache) {
    ASSERT_TRUE(signInDirectly(demoUser(), demoPassword()));
    VPNConfigsService service(*parse);
    auto network = load(service, false);
    ASSERT_TRUE(network);
    EXPECT_EQ(network->items().size(), 6u);
    EXPECT_TRUE(network->listWithOutGroups().front()->flag) << "the flag file comes with the row";
    std::vector<std::string> favourites;
    for (const auto& f : network->favorites()) favourites.push_back(f->name);
    EXPECT_EQ(favourites, (std::vector<std::string>{"Netherlands", "Japan"}));

    // A fresh client with the same datastore answers without the backend.
    parse = makeClient();
    VPNConfigsService offline(*parse);
    auto cached = load(offline, true);
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->favorites().size(), 2u);
}

TEST_F(LocationsTestbed, FavouritesSurviveARestart) {
    ASSERT_TRUE(signInDirectly(testUser(), testPassword()));
    {
        VPNConfigsService service(*parse);
        auto model = load(service, false);
        ASSERT_TRUE(model);
        EXPECT_TRUE(model->favorites().empty());
        model->listWithOutGroups().back()->toggleFavoriteFlag();
    }
    parse = makeClient();
    VPNConfigsService service(*parse);
    auto model = load(service, false);
    ASSERT_TRUE(model);
    ASSERT_EQ(model->favorites().size(), 1u);
}

TEST_F(LocationsTestbed, EnterpriseCodeIsExchangedForTheVPNAccount) {
    // The testbed's web API plays the identity service.
    EnterpriseAuthService service(*http, env->webUrl() + "/oauth/token", env->webUrl() + "/userinfo");
    std::string token;
    std::pair<std::string, std::string> account;
    bool stopped = false;
    service.onFailure = [&](const std::string& reason) {
        ADD_FAILURE() << reason;
        stopped = true;
    };
    service.requestAuthToken("testbed-enterprise-code", [&](const std::string& t) {
        token = t;
        service.requestClientIDUsingAccessToken(t, [&](const std::string& u, const std::string& p) { account = {u, p}; });
    });
    ASSERT_TRUE(test::spinUntil([&] { return stopped || !account.first.empty(); }));
    EXPECT_EQ(account.first, demoUser());
    EXPECT_EQ(account.second, demoPassword());

    bool failed = false;
    service.onFailure = [&](const std::string&) { failed = true; };
    service.requestAuthToken("a-code-the-service-never-issued", [](const std::string&) { ADD_FAILURE(); });
    EXPECT_TRUE(test::spinUntil([&] { return failed; }));
}

TEST_F(LocationsTestbed, NotificationBarsArrive) {
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
