#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "core/settings_user_defaults.h"
#include "hub/hub_fixture.h"
#include "support/fake_application_model_ports.h"

// Above the hub in the application; a stand-in here.
namespace hw {
class EnterpriseService {
public:
    int serial = 0;
};
}  // namespace hw

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;

TEST_F(HubTest, LazyFieldsAreMadeOnFirstReadAndAgainAfterBeingCleared) {
    make();
    int made = 0;
    ServiceLayerShell shell = hub->shell();
    shell.makeEnterpriseService = [&made] {
        auto service = std::make_shared<EnterpriseService>();
        service->serial = ++made;
        return service;
    };
    hub->setShell(shell);
    EXPECT_EQ(made, 0);

    const auto first = hub->enterpriseService();
    EXPECT_EQ(hub->enterpriseService(), first);
    EXPECT_EQ(made, 1);

    hub->setEnterpriseService(nullptr);
    EXPECT_EQ(hub->enterpriseService()->serial, 2);

    // The factory's lazy parts are asked for only when read.
    EXPECT_EQ(std::count(factory->order.begin(), factory->order.end(), "probeURLHelper"), 0);
    hub->probeURLHelper();
    EXPECT_EQ(std::count(factory->order.begin(), factory->order.end(), "probeURLHelper"), 1);
}

TEST(ServiceLayerShared, OneInstanceForTheProcessOnceAFactoryIsInstalled) {
    EXPECT_THROW(ServiceLayer::sharedInstance(), std::logic_error);

    auto factory = std::make_shared<FakeHubFactory>();
    ServiceLayer::installFactory(factory);
    std::atomic<ServiceLayer*> seen[4] = {};
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = &ServiceLayer::sharedInstance(); });
    for (auto& t : threads) t.join();
    for (auto& slot : seen) EXPECT_EQ(slot.load(), &ServiceLayer::sharedInstance());
    EXPECT_EQ(&ServiceLayer::model(), &ServiceLayer::sharedInstance().appModel());
    EXPECT_EQ(std::count(factory->order.begin(), factory->order.end(), "appModel"), 1);
    ServiceLayer::installFactory(nullptr);
}

TEST_F(HubTest, PrepareApplicationStoresTheIdentifierMigratesAndAppliesWithoutResettingTheEngine) {
    make();
    PortJournal journal;
    FakeConnectionManager manager{journal};
    model().setPorts({&manager, nullptr, nullptr, nullptr, &factory->locations});
    factory->store.set(Keys::vpnProtocols, 2);  // the old integer form of OpenVPN

    hub->prepareApplication();
    // The secret store may still be starting: the first window does not wait on it.
    EXPECT_EQ(factory->keychain.reads, 0);
    runQueue();

    EXPECT_EQ(factory->keychain.read("com.havenway.Havenway", "appID").text(), "HUBSERIAL1");
    EXPECT_EQ(factory->store.stringForKey(Keys::vpnProtocols), " OpenVPN");
    EXPECT_EQ(model().vpnProtocol, VPNTypesOpenVPN);
    EXPECT_FALSE(model().skipVPNConnectorsNotification);
    // The connection is not removed.
    EXPECT_TRUE(journal.calls.empty());
}

TEST_F(HubTest, StoredProtocolMigrationTable) {
    make();
    const std::vector<std::pair<SettingValue, std::string>> cases = {
        {0, " Automatic"}, {1, " IKEv2 "}, {2, " OpenVPN"}, {3, " L2TP over IPSec"}, {4, " L2TP over IPSec"},
        {7, " Automatic"}, {" PPTP", " Automatic"}, {" IKEv2", " Automatic"}, {"garbage", " Automatic"},
        {" IKEv2 ", " IKEv2 "},
    };
    for (const auto& [stored, expected] : cases) {
        factory->store.set(Keys::vpnProtocols, stored);
        const int syncs = factory->store.syncCount;
        hub->prepareUserDefaultsToBeApplied();
        EXPECT_EQ(factory->store.stringForKey(Keys::vpnProtocols), expected);
        EXPECT_EQ(factory->store.syncCount, syncs + 1) << expected;
    }
}

TEST_F(HubTest, ReachabilityOutcomeReachesTheModelThenTheCallbackOnTheMainQueue) {
    make();
    model().reachabilityDomainName = "backend.example";
    std::vector<bool> outcomes;
    hub->onInternetReachabilityCheckFinished = [&](bool ok) {
        outcomes.push_back(ok);
        EXPECT_EQ(model().isConnectedToInternet, ok);
    };
    hub->checkInternetConnectionReachability();
    EXPECT_EQ(factory->reachability->host, "backend.example");

    factory->reachability->checks.at(0)(false);
    EXPECT_TRUE(outcomes.empty());
    runQueue();
    EXPECT_EQ(outcomes, std::vector<bool>{false});

    // Without a callback only the model changes.
    hub->onInternetReachabilityCheckFinished = nullptr;
    hub->checkInternetConnectionReachability();
    factory->reachability->checks.at(1)(true);
    runQueue();
    EXPECT_TRUE(model().isConnectedToInternet);
}

TEST_F(HubTest, NewVersionCheck) {
    factory->hubOptions.appVersion = "2.1.0";
    make();
    EXPECT_FALSE(hub->checkingIfNewAppVersionAvailable());  // nothing announced

    model().newAppVersionString = "2.2.0";
    EXPECT_TRUE(hub->checkingIfNewAppVersionAvailable());
    EXPECT_EQ(delegate.calls, std::vector<std::string>{"showAppUpgratePopup"});
    EXPECT_EQ(comparisons.back(), "2.1.0<2.2.0");

    // The enterprise build never compares.
    factory->hubOptions.isEnterpriseVersion = true;
    make();
    model().newAppVersionString = "99.0";
    EXPECT_FALSE(hub->checkingIfNewAppVersionAvailable());
    EXPECT_EQ(comparisons.size(), 1u);
    EXPECT_EQ(delegate.calls.size(), 1u);
}

TEST_F(HubTest, RemoteConfigurationRunsTheVersionCheckUnlessSkipped) {
    factory->hubOptions.appVersion = "1.0";
    make();
    factory->parseConfig->applyConfig = [this] { model().newAppVersionString = "2.0"; };
    int completed = 0;
    hub->loadParseConfig(true, [&] { ++completed; }, [](const auto&) { FAIL(); });
    runQueue();
    EXPECT_EQ(completed, 1);
    EXPECT_TRUE(delegate.calls.empty());

    hub->loadParseConfig(false, [&] { ++completed; }, [](const auto&) { FAIL(); });
    runQueue();
    EXPECT_EQ(completed, 2);
    EXPECT_EQ(delegate.calls, std::vector<std::string>{"showAppUpgratePopup"});
}

TEST_F(HubTest, AccountDetailsSyncSendsTheStoredAccountAndCompletesOnTheMainQueue) {
    make();
    int completed = 0;
    hub->syncVPNAcccountDetails([&] { ++completed; });
    EXPECT_TRUE(factory->functions->calls.empty());  // nobody signed in

    factory->auth->stored = LoginData{"user@example.com", "s3cret-pass", std::nullopt};
    hub->syncVPNAcccountDetails([&] { ++completed; });
    ASSERT_EQ(factory->functions->calls.size(), 1u);
    const auto& call = factory->functions->calls[0];
    EXPECT_EQ(call.name, "syncVPNAcccountDetails");
    EXPECT_EQ(call.params["username"].string(), "user@example.com");
    EXPECT_EQ(call.params["password"].string(), "s3cret-pass");

    call.completion(false);  // an error answers too
    EXPECT_EQ(completed, 0);
    runQueue();
    EXPECT_EQ(completed, 1);
    EXPECT_FALSE(log->contains("s3cret-pass"));
}

}  // namespace
}  // namespace hw::test
