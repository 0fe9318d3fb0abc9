#include "core/settings_user_defaults.h"
#include "hub/hub_fixture.h"

namespace hw::test {
namespace {

using Keys = SettingsUserDefaults;

// A hub whose remote configuration names a lookup address and two mirrors.
class RequiredData : public HubTest {
protected:
    RequiredData() {
        make();
        factory->parseConfig->applyConfig = [this] {
            model().publicIPInfoUrl = "https://ip.example/json";
            model().parseMainDomainName = "main.example";
            model().domainForCountriesList =
                std::vector<DomainForCountryObject>{{{"CN", "IR"}, "d1.example"}, {{"DE"}, "d2.example"}};
        };
    }

    void start() {
        hub->loadRequiredData([this] { ++completions; }, [this](const std::string& e) { failures.push_back(e); });
        runQueue();
    }
    void answerAddress(std::optional<std::string> automaticId = "de") {
        factory->parseConfig->answerLookup({"203.0.113.7", "DE", "Europe/Berlin", false});
        runQueue();
        factory->parseConfig->answerAutomaticLocation(std::move(automaticId));
        runQueue();
    }
    void answerList(std::shared_ptr<LocationsListModel> l = list({"fr", "de", "us"})) {
        factory->configs->answer(std::move(l));
        runQueue();
    }

    int completions = 0;
    std::vector<std::string> failures;
};

TEST_F(RequiredData, AddressFirstThenListCompletesOnceWithTheModelFilled) {
    start();
    ASSERT_EQ(factory->parseConfig->lookups.size(), 1u);
    EXPECT_EQ(factory->parseConfig->lookups[0].first, "https://ip.example/json");
    answerAddress();
    EXPECT_EQ(completions, 0);
    answerList();
    EXPECT_EQ(completions, 1);

    EXPECT_EQ(model().userPublicIP, "203.0.113.7");
    EXPECT_EQ(model().mainDomainName, "d2.example");
    EXPECT_EQ(model().explicitAutomaticItemLocationID(), "de");
    ASSERT_NE(model().locationsListModel(), nullptr);
    ASSERT_NE(model().currentAutomaticLocation, nullptr);
    EXPECT_TRUE(model().currentAutomaticLocation->isAutomaticLocationItem);
    // The automatic row is a copy: the list's row is untouched.
    EXPECT_FALSE(model().locationsListModel()->itemWithObjectId("de")->isAutomaticLocationItem);

    factory->queue.advance(60'000);
    EXPECT_EQ(completions, 1);
}

TEST_F(RequiredData, ListFirstThenAddressCompletesOnce) {
    factory->store.set(Keys::useAutomaticLocation, true);
    start();
    answerList();
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(factory->parseConfig->automaticLocationCalls.size(), 0u);
    answerAddress("us");
    EXPECT_EQ(completions, 1);
    // With the automatic location in use it becomes the current one.
    ASSERT_NE(model().currentLocation(), nullptr);
    EXPECT_EQ(model().currentLocation()->objectId, "us");
    EXPECT_TRUE(model().currentLocation()->isAutomaticLocationItem);
}

TEST_F(RequiredData, EachRunHasItsOwnFlags) {
    start();
    start();
    answerAddress();
    answerAddress();
    answerList();
    EXPECT_EQ(completions, 1);
    answerList();
    EXPECT_EQ(completions, 2);
}

TEST_F(RequiredData, AnUnchangedAutomaticIdLeavesTheAutomaticLocationToThePostProcessing) {
    // A list from an earlier run is in place.
    model().setLocationsListModel(list({"fr", "de"}));
    model().setExplicitAutomaticItemLocationID("de");
    start();
    answerAddress("de");
    EXPECT_EQ(model().currentAutomaticLocation, nullptr);
    answerList();
    ASSERT_NE(model().currentAutomaticLocation, nullptr);

    // A changed id updates it at once, before the list of this run arrives.
    model().currentAutomaticLocation = nullptr;
    start();
    answerAddress("fr");
    ASSERT_NE(model().currentAutomaticLocation, nullptr);
    EXPECT_EQ(model().currentAutomaticLocation->objectId, "fr");
}

TEST_F(RequiredData, MirrorDomainFollowsTheCountry) {
    start();
    for (const auto& [country, domain] : std::vector<std::pair<std::string, std::string>>{
             {"DE", "d2.example"}, {"de", "main.example"}, {"FR", "main.example"}}) {
        hub->setMirrorDomainIfRequired(std::nullopt, country);
        EXPECT_EQ(model().mainDomainName, domain) << country;
    }
}

TEST_F(RequiredData, CacheRule) {
    const Date stored{1'700'000'000};
    const Date later{1'700'000'001};
    struct Case {
        bool skip;
        std::optional<Date> announced, stored;
        bool useCache;
    };
    for (const Case& c : {Case{false, stored, stored, true}, Case{false, later, stored, false},
                          Case{false, std::nullopt, stored, true}, Case{false, stored, std::nullopt, false},
                          Case{true, stored, stored, false}}) {
        factory->store.set(Keys::skipCachedDataLoad, c.skip);
        model().parseVPNConfigUpdatedAt = c.announced;
        model().vpnConfigUpdatedAt = c.stored;
        EXPECT_EQ(hub->shouldUseCachedLocations(), c.useCache)
            << "skip " << c.skip << " announced " << c.announced.has_value() << " stored " << c.stored.has_value();
    }
    // The run asks the list service with the rule's answer and records the date.
    factory->store.set(Keys::skipCachedDataLoad, false);
    model().parseVPNConfigUpdatedAt = later;
    start();
    ASSERT_EQ(factory->configs->loads.size(), 1u);
    EXPECT_FALSE(factory->configs->loads[0].first);
    answerList();
    EXPECT_EQ(model().vpnConfigUpdatedAt, later);

    factory->hubOptions.isEnterpriseVersion = true;
    make();
    model().parseVPNConfigUpdatedAt = model().vpnConfigUpdatedAt = stored;
    EXPECT_FALSE(hub->shouldUseCachedLocations()) << "the enterprise build never reads the cache";
}

TEST_F(RequiredData, FailedLookupKeepsCountryAndZoneButStoresTheAddress) {
    model().userCountry = "NL";
    model().userContinent = "Europe/Amsterdam";
    start();
    factory->parseConfig->answerLookup({"", "", "", true});
    runQueue();
    factory->parseConfig->answerAutomaticLocation(std::nullopt);
    runQueue();
    answerList();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(model().userPublicIP, "");
    EXPECT_EQ(model().userCountry, "NL");
    EXPECT_EQ(model().userContinent, "Europe/Amsterdam");
    EXPECT_EQ(model().mainDomainName, "main.example");
}

TEST_F(RequiredData, MissingLookupAddressCountsAsAFailedLookupAndTheLoadCompletes) {
    factory->parseConfig->applyConfig = [this] {
        model().publicIPInfoUrl.reset();
        model().parseMainDomainName = "main.example";
        model().mainDomainName = "mirror.example";
    };
    start();
    EXPECT_TRUE(factory->parseConfig->lookups.empty());
    answerList();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(model().mainDomainName, "main.example");
}

TEST_F(RequiredData, AutomaticLocationErrorStillCompletesTheBranch) {
    model().setExplicitAutomaticItemLocationID("fr");
    start();
    answerAddress(std::nullopt);
    answerList();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(model().explicitAutomaticItemLocationID(), "fr");
    EXPECT_EQ(model().currentAutomaticLocation->objectId, "fr");
}

TEST_F(RequiredData, FailedOrEmptyListKeepsThePreviousListAndItsDate) {
    const auto previous = list({"fr"});
    model().setLocationsListModel(previous);
    model().vpnConfigUpdatedAt = Date{100};
    model().parseVPNConfigUpdatedAt = Date{200};

    start();
    answerAddress();
    answerList(nullptr);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(model().locationsListModel(), previous);
    EXPECT_EQ(model().vpnConfigUpdatedAt, Date{100});

    start();
    answerAddress();
    answerList(list({}));
    EXPECT_EQ(completions, 2);
    EXPECT_EQ(model().locationsListModel(), previous);
}

TEST_F(RequiredData, FailedRemoteConfigurationNeverCompletesButReportsTheFailure) {
    factory->parseConfig->configError = "Network unavailable";
    start();
    factory->queue.advance(60'000);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(failures, std::vector<std::string>{"Network unavailable"});
    EXPECT_TRUE(factory->parseConfig->lookups.empty());
    EXPECT_TRUE(factory->configs->loads.empty());
}

TEST_F(RequiredData, UnknownAutomaticLocationLeavesTheSelection) {
    factory->store.set(Keys::useAutomaticLocation, true);
    model().setLocationsListModel(list({"fr", "de"}));
    model().automaticItemLocationID = "gone";
    hub->updateAutomaticLocation();
    EXPECT_EQ(model().currentAutomaticLocation, nullptr);
    ASSERT_NE(model().currentLocation(), nullptr);
    EXPECT_EQ(model().currentLocation()->objectId, "fr");
}

TEST_F(RequiredData, PendingLocationIsChosenAfterTheLoadWhenNotAutomatic) {
    factory->store.set(Keys::useAutomaticLocation, false);
    model().setLocationsListModel(list({"fr", "de", "us"}));
    model().pendingLocationIDToSet = "us";
    hub->postProcessingBeforeDataLoadCompleted();
    ASSERT_NE(model().currentLocation(), nullptr);
    EXPECT_EQ(model().currentLocation()->objectId, "us");
    EXPECT_EQ(model().pendingLocationIDToSet, "us");

    model().pendingLocationIDToSet = "nowhere";
    hub->postProcessingBeforeDataLoadCompleted();
    EXPECT_EQ(model().currentLocation()->objectId, "us");
}

TEST_F(RequiredData, RefreshUserAddressWaitsTwoSecondsAndCompletesOnTheMainQueue) {
    int completed = 0;
    hub->refreshUserIPAddress([&] { ++completed; });  // no lookup address yet
    factory->queue.advance(10'000);
    EXPECT_TRUE(factory->parseConfig->lookups.empty());

    model().publicIPInfoUrl = "https://ip.example/json";
    model().mainDomainName = "kept.example";
    hub->refreshUserIPAddress([&] { ++completed; });
    factory->queue.advance(1999);
    EXPECT_TRUE(factory->parseConfig->lookups.empty());
    factory->queue.advance(1);
    ASSERT_EQ(factory->parseConfig->lookups.size(), 1u);
    factory->parseConfig->answerLookup({"198.51.100.2", "FR", "Europe/Paris", false});
    EXPECT_EQ(completed, 0);
    runQueue();
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(model().userPublicIP, "198.51.100.2");
    EXPECT_EQ(model().mainDomainName, "kept.example");
    EXPECT_TRUE(factory->parseConfig->automaticLocationCalls.empty());

    // A later ask supersedes one still out (it may have left through a tunnel since ended).
    hub->refreshUserIPAddress([&] { ++completed; });
    hub->refreshUserIPAddress([&] { ++completed; });
    factory->queue.advance(2000);
    ASSERT_EQ(factory->parseConfig->lookups.size(), 2u);
    factory->parseConfig->answerLookup({"203.0.113.9", "NL", "Europe/Amsterdam", false});
    runQueue();
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(model().userPublicIP, "198.51.100.2");
    factory->parseConfig->answerLookup({"198.51.100.3", "FR", "Europe/Paris", false});
    runQueue();
    EXPECT_EQ(completed, 2);
    EXPECT_EQ(model().userPublicIP, "198.51.100.3");
}

}  // namespace
}  // namespace hw::test
