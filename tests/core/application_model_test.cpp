#include <gmock/gmock.h>

#include "application_model_fixture.h"
#include "core/application_model_parse_file.h"
#include "support/fake_backend_file.h"

namespace hw::test {
namespace {

using ::testing::ElementsAre;
using Keys = SettingsUserDefaults;

TEST_F(ApplicationModelTest, StartsWithTheDocumentedValuesAndReadsNothingFromTheStore) {
    EXPECT_EQ(model->currentConnectionState(), ConnectionStates::disconnected);
    EXPECT_EQ(model->vpnProtocol, VPNTypesAutomatic);
    EXPECT_EQ(model->vpnProtocolReadable, " Automatic");
    EXPECT_EQ(model->smartWidgetCheckIntervalMin, 61);
    EXPECT_DOUBLE_EQ(model->SMART_WIDGET_UPDATE_CHECK_INTERVAL(), 3660.0);
    EXPECT_EQ(model->connectedToWiFiNotificationFrequency, 5);
    EXPECT_EQ(model->userContinent, "Europe");
    EXPECT_EQ(model->automaticItemLocationID, "o671Cp7jeG");
    EXPECT_EQ(model->platform, "Debian GNU/Linux 12");
    EXPECT_TRUE(model->authorizeForFreeTrialLink.ends_with("/api/freeTrial/authorizeForFreeTrial.php"));
    EXPECT_EQ(model->reachabilityDomainName.find("://"), std::string::npos);
    EXPECT_TRUE(model->trustedNetworks.empty());
    EXPECT_TRUE(store.stored().empty());
}

TEST_F(ApplicationModelTest, StoreBackedFieldsReadThroughOnEveryGet) {
    FakeSettingsStore empty;
    ApplicationModel bare({empty, queue, background, codec, http, system});
    // Without registered defaults every switch reads false and texts read empty.
    EXPECT_FALSE(bare.useAutomaticLocation());
    EXPECT_FALSE(bare.sendAnalyticsData());
    EXPECT_EQ(bare.helperToolCurrentVersion(), "");
    EXPECT_EQ(bare.previousDefaultGatewayValue(), "");
    EXPECT_EQ(bare.appLaunchParameters(), std::nullopt);
    EXPECT_EQ(bare.explicitAutomaticItemLocationID(), std::nullopt);

    EXPECT_TRUE(model->useAutomaticLocation());
    store.set(Keys::useAutomaticLocation, false);
    EXPECT_FALSE(model->useAutomaticLocation());
    // A value of the wrong kind reads as missing.
    store.set(Keys::sendAnalyticsData, "yes");
    EXPECT_FALSE(model->sendAnalyticsData());
}

TEST_F(ApplicationModelTest, StoreBackedSettersSynchroniseExceptTheThreeThatLeaveItToTheStore) {
    struct Case {
        const char* key;
        std::function<void()> write;
        bool synchronises;
    };
    const std::vector<Case> cases = {
        {Keys::appLaunchedFirstTime, [&] { model->setAppLaunchedFirstTime(true); }, true},
        {Keys::useNetworkLock, [&] { model->setUseNetworkLock(true); }, true},
        {Keys::sendCrashReportsData, [&] { model->setSendCrashReportsData(false); }, true},
        {Keys::sendAnalyticsData, [&] { model->setSendAnalyticsData(false); }, true},
        {Keys::enableTrustedNetworksManagement, [&] { model->setEnableTrustedNetworksManagement(false); }, true},
        {Keys::useAutomaticLocation, [&] { model->setUseAutomaticLocation(false); }, true},
        {Keys::appLaunchParameters, [&] { model->setAppLaunchParameters(StringList{"-utm_source", "x"}); }, true},
        {Keys::explicitAutomaticItemLocationID, [&] { model->setExplicitAutomaticItemLocationID("abc"); }, true},
        {Keys::previousDefaultGatewayValue, [&] { model->setPreviousDefaultGatewayValue("192.168.1.1"); }, true},
        {Keys::helperToolVersion, [&] { model->setHelperToolCurrentVersion("1.4"); }, false},
        {Keys::showCreateNewAccountLink, [&] { model->setShowCreateNewAccountLink(false); }, false},
        {Keys::isMainViewBottomBarHidden, [&] { model->setIsMainViewBottomBarHidden(true); }, false},
    };
    for (const auto& c : cases) {
        const int before = store.syncCount;
        c.write();
        EXPECT_TRUE(store.stored().contains(c.key)) << c.key;
        EXPECT_EQ(store.syncCount - before, c.synchronises ? 1 : 0) << c.key;
    }
    EXPECT_TRUE(model->appLaunchedFirstTime());
    EXPECT_EQ(model->helperToolCurrentVersion(), "1.4");
    EXPECT_EQ(model->appLaunchParameters(), SettingValue(StringList{"-utm_source", "x"}));
}

TEST_F(ApplicationModelTest, GatewayIgnoresTheHelpersNoAnswerAndBlanks) {
    model->setPreviousDefaultGatewayValue("10.0.0.1");
    for (const char* ignored : {"", " ", "NO"}) model->setPreviousDefaultGatewayValue(ignored);
    EXPECT_EQ(model->previousDefaultGatewayValue(), "10.0.0.1");
}

TEST_F(ApplicationModelTest, ClearingOptionalStoredValuesRemovesTheirKeys) {
    model->setExplicitAutomaticItemLocationID("abc");
    model->setExplicitAutomaticItemLocationID(std::nullopt);
    EXPECT_EQ(model->explicitAutomaticItemLocationID(), std::nullopt);
    model->setAppLaunchParameters(StringList{"-pixel_url"});
    model->setAppLaunchParameters(std::nullopt);
    EXPECT_EQ(model->appLaunchParameters(), std::nullopt);
    EXPECT_FALSE(store.stored().contains(Keys::appLaunchParameters));
}

TEST_F(ApplicationModelTest, ConnectionStateTellsItsClosureOnEverySet) {
    model->setCurrentConnectionState(ConnectionStates::connecting);  // no closure yet: nothing happens
    std::vector<ConnectionStates> told;
    model->onCurrentConnectionStateUpdated = [&](ConnectionStates s) { told.push_back(s); };
    model->setCurrentConnectionState(ConnectionStates::connected);
    model->setCurrentConnectionState(ConnectionStates::connected);
    EXPECT_THAT(told, ElementsAre(ConnectionStates::connected, ConnectionStates::connected));
}

TEST_F(ApplicationModelTest, StartAtLoginTellsItsClosureOnEverySet) {
    model->setStartOnOsStartup(true);
    std::vector<bool> told;
    model->startOnOsStartupNotification = [&](bool v) { told.push_back(v); };
    model->setStartOnOsStartup(true);
    model->setStartOnOsStartup(false);
    EXPECT_THAT(told, ElementsAre(true, false));
}

TEST_F(ApplicationModelTest, CountersAndReconnectFlagsPrintTheirLines) {
    model->setAutoReconnectAttemptsCount(3);
    EXPECT_TRUE(logged("connectionAttemptsCount == 3"));
    model->setAutoReconnectInProgress(true);
    EXPECT_FALSE(logged("autoReconnectInProgress == FALSE"));
    model->setAutoReconnectInProgress(false);
    EXPECT_TRUE(logged("autoReconnectInProgress == FALSE"));
    model->setOpenVPN_Reconnect_in_progress(false);
    EXPECT_TRUE(logged("openVPN_Reconnect_in_progress == FALSE"));
}

TEST_F(ApplicationModelTest, IntentionalDisconnectLiftsTheNetworkLock) {
    model->networkLockActivated = true;
    model->setIntensionallyDisconnectedVPN(false);
    EXPECT_TRUE(model->networkLockActivated);
    EXPECT_TRUE(journal.calls.empty());
    model->setIntensionallyDisconnectedVPN(true);
    EXPECT_FALSE(model->networkLockActivated);
    EXPECT_THAT(journal.calls, ElementsAre("disableNetworkLock"));
}

TEST_F(ApplicationModelTest, ReconnectLimitIsTenOnlyForStrongSwanOutsideDiscovery) {
    EXPECT_EQ(model->autoReconnectTryAttempts_if_NetworkLockDisabled(), 4);  // no provider
    manager.providerType = VPNTypesOpenVPN;
    EXPECT_EQ(model->autoReconnectTryAttempts_if_NetworkLockDisabled(), 4);
    manager.providerType = VPNTypesIKEv2_StrongSwan;
    EXPECT_EQ(model->autoReconnectTryAttempts_if_NetworkLockDisabled(), 10);
    manager.discovery = true;
    EXPECT_EQ(model->autoReconnectTryAttempts_if_NetworkLockDisabled(), 4);
    model->setPorts({});
    EXPECT_EQ(model->autoReconnectTryAttempts_if_NetworkLockDisabled(), 4);
}

TEST_F(ApplicationModelTest, SettingsLockObserversRunInOrderAndOnlyGrow) {
    std::vector<std::string> calls;
    auto first = [&](bool v) { calls.push_back(std::string("first ") + (v ? "on" : "off")); };
    model->addVPNSettingsChangingDisabledObserver(first);
    model->addVPNSettingsChangingDisabledObserver([&](bool) {
        calls.push_back("second");
        // Added during a round: first called on the next assignment.
        if (model->vpnSettingsChangingDisabledObserverCount() == 3) {
            model->addVPNSettingsChangingDisabledObserver([&](bool) { calls.push_back("late"); });
        }
    });
    model->addVPNSettingsChangingDisabledObserver(first);
    model->setVpnSettingsChangingDisabled(true);
    EXPECT_THAT(calls, ElementsAre("first on", "second", "first on"));
    EXPECT_TRUE(logged("vpnSettingsChangingDisabled: true"));
    calls.clear();
    model->setVpnSettingsChangingDisabled(false);
    EXPECT_THAT(calls, ElementsAre("first off", "second", "first off", "late"));
    EXPECT_TRUE(logged("vpnSettingsChangingDisabled: false"));
}

TEST_F(ApplicationModelTest, AnObserverOfADeadOwnerIsSkipped) {
    struct Window {
        std::vector<bool> seen;
    };
    auto window = std::make_shared<Window>();
    model->addVPNSettingsChangingDisabledObserver<Window>(window, [](Window& w, bool v) { w.seen.push_back(v); });
    model->setVpnSettingsChangingDisabled(true);
    EXPECT_THAT(window->seen, ElementsAre(true));
    window.reset();
    model->setVpnSettingsChangingDisabled(false);  // would be a use after free if held strongly
}

TEST_F(ApplicationModelTest, DocklessModeStopsOrReloadsTheWidgetOnlyOnAChange) {
    model->setIsAppInUserAgentMode(false);
    EXPECT_TRUE(journal.calls.empty());
    model->setIsAppInUserAgentMode(true);
    model->setIsAppInUserAgentMode(true);
    model->setIsAppInUserAgentMode(false);
    EXPECT_THAT(journal.calls, ElementsAre("stopSheduleNextSmartWidgetUpdateTimer", "loadSmartWidgetData"));
    shell.skipUserAgentMode = true;
    model->setIsAppInUserAgentMode(true);
    EXPECT_TRUE(model->isAppInUserAgentMode());
    EXPECT_EQ(journal.calls.size(), 2u);
}

TEST_F(ApplicationModelTest, CurrentLocationPersistsItsIdButNoneLeavesTheStoredOne) {
    model->setCurrentLocation(std::make_shared<LocationsListItemModel>("loc-de"));
    EXPECT_EQ(store.stringForKey(Keys::lastLocation), "loc-de");
    model->setCurrentLocation(nullptr);
    EXPECT_EQ(model->currentLocation(), nullptr);
    EXPECT_EQ(store.stringForKey(Keys::lastLocation), "loc-de");
}

TEST_F(ApplicationModelTest, NewLocationsListChoosesTheCurrentLocation) {
    auto list = FakeLocationsListOperations::list({"a", "b", "c"});
    model->setLocationsListModel(list);
    EXPECT_EQ(list->rebuilds, 1);
    EXPECT_EQ(model->currentLocation(), list->rows[0]);

    model->pendingLocationIDToSet = "c";
    model->setLocationsListModel(FakeLocationsListOperations::list({"a", "b", "c"}));
    EXPECT_EQ(model->currentLocation()->objectId, "c");
    EXPECT_EQ(model->pendingLocationIDToSet, std::nullopt);
    EXPECT_EQ(store.stringForKey(Keys::lastLocation), "c");

    model->pendingLocationIDToSet = "gone";
    model->setLocationsListModel(FakeLocationsListOperations::list({"a"}));
    EXPECT_EQ(model->currentLocation(), nullptr);
    EXPECT_EQ(model->pendingLocationIDToSet, std::nullopt);
}

TEST_F(ApplicationModelTest, EmptyOrMissingLocationsListKeepsTheCurrentLocation) {
    model->setLocationsListModel(FakeLocationsListOperations::list({"a"}));
    const auto current = model->currentLocation();
    model->pendingLocationIDToSet = "b";
    model->setLocationsListModel(FakeLocationsListOperations::list({}));
    EXPECT_EQ(model->currentLocation(), current);
    EXPECT_EQ(model->pendingLocationIDToSet, "b");  // kept for a list that has rows
    model->setLocationsListModel(nullptr);
    EXPECT_EQ(model->currentLocation(), current);
    model->setPorts({});
    model->setLocationsListModel(FakeLocationsListOperations::list({"z"}));
    EXPECT_EQ(model->currentLocation(), current);
}

TEST_F(ApplicationModelTest, ConfigDateIsStoredOnlyWhenItChanges) {
    const int before = store.syncCount;
    model->updateVPNConfigUpdatedAt();  // both none
    model->vpnConfigUpdatedAt = Date{100};
    model->parseVPNConfigUpdatedAt = Date{100};
    model->updateVPNConfigUpdatedAt();
    EXPECT_EQ(store.syncCount, before);
    model->parseVPNConfigUpdatedAt = Date{200};
    model->updateVPNConfigUpdatedAt();
    EXPECT_EQ(store.dateForKey(Keys::vpnConfigUpdatedAt), Date{200});
    model->parseVPNConfigUpdatedAt.reset();
    model->updateVPNConfigUpdatedAt();
    EXPECT_EQ(model->vpnConfigUpdatedAt, std::nullopt);
    EXPECT_FALSE(store.stored().contains(Keys::vpnConfigUpdatedAt));
}

TEST_F(ApplicationModelTest, MapInTheLocalCacheIsDecodedOffTheMainQueueAndAssignedOnIt) {
    auto file = std::make_shared<FakeBackendFile>();
    file->available = true;
    file->data = FakeImageCodec::bytes("IMG:4x2");
    model->setMainViewMapPFFile(file);
    queue.runUntilIdle();
    EXPECT_EQ(file->syncReads, 0);  // the blocking read waits for the background queue
    background.runUntilIdle();
    EXPECT_EQ(model->mainViewMapImage, nullptr);  // decoded, not yet assigned
    queue.runUntilIdle();
    ASSERT_NE(model->mainViewMapImage, nullptr);
    EXPECT_EQ(model->mainViewMapImage->width, 4);
    EXPECT_FALSE(model->mainViewMapPFFileLoaded);
    EXPECT_THAT(journal.calls, ElementsAre("updateMainViewMapImage"));
}

TEST_F(ApplicationModelTest, FetchedMapMarksItselfLoaded) {
    auto file = std::make_shared<FakeBackendFile>();
    file->data = FakeImageCodec::bytes("IMG:3x3");
    model->setMainViewMapPFFile(file);
    ASSERT_EQ(file->fetches.size(), 1u);
    file->finishFetch();
    runAll();
    ASSERT_NE(model->mainViewMapImage, nullptr);
    EXPECT_TRUE(model->mainViewMapPFFileLoaded);
    EXPECT_THAT(journal.calls, ElementsAre("updateMainViewMapImage"));
}

TEST_F(ApplicationModelTest, FailedOrStaleMapDownloadsKeepThePreviousImage) {
    auto good = std::make_shared<FakeBackendFile>();
    good->data = FakeImageCodec::bytes("IMG:2x2");
    model->setMainViewMapPFFile(good);
    good->finishFetch();
    runAll();
    const auto shown = model->mainViewMapImage;

    auto broken = std::make_shared<FakeBackendFile>();  // fetch error
    model->setMainViewMapPFFile(broken);
    broken->finishFetch();
    auto garbage = std::make_shared<FakeBackendFile>();
    garbage->data = FakeImageCodec::bytes("<html>");
    model->setMainViewMapPFFile(garbage);
    garbage->finishFetch();
    runAll();
    EXPECT_EQ(model->mainViewMapImage, shown);

    // An older file finishing after a newer one was assigned must not win.
    auto older = std::make_shared<FakeBackendFile>();
    older->data = FakeImageCodec::bytes("IMG:8x8");
    auto newer = std::make_shared<FakeBackendFile>();
    newer->data = FakeImageCodec::bytes("IMG:5x5");
    model->setMainViewMapPFFile(older);
    model->setMainViewMapPFFile(newer);
    newer->finishFetch();
    older->finishFetch();
    runAll();
    EXPECT_EQ(model->mainViewMapImage->width, 5);
}

TEST_F(ApplicationModelTest, DarkMapOnlyFillsItsImage) {
    auto file = std::make_shared<FakeBackendFile>();
    file->available = true;  // the dark map always fetches
    file->data = FakeImageCodec::bytes("IMG:6x1");
    model->setMainViewMapDarkPFFile(file);
    ASSERT_EQ(file->fetches.size(), 1u);
    file->finishFetch();
    runAll();
    ASSERT_NE(model->mainViewMapDarkImage, nullptr);
    EXPECT_EQ(model->mainViewMapImage, nullptr);
    EXPECT_TRUE(journal.calls.empty());
}

TEST_F(ApplicationModelTest, MapDownloadOutlivingTheModelTouchesNothing) {
    auto file = std::make_shared<FakeBackendFile>();
    file->data = FakeImageCodec::bytes("IMG:2x2");
    model->setMainViewMapPFFile(file);
    model.reset();
    file->finishFetch();
    runAll();
    EXPECT_TRUE(journal.calls.empty());
}

TEST_F(ApplicationModelTest, BackendClientFileWithCachedDataGivesTheMap) {
    auto file = std::make_shared<ParseFile>(std::weak_ptr<ParseCore>(), "map.png", "", FakeImageCodec::bytes("IMG:7x7"),
                                            "image/png");
    model->setMainViewMapPFFile(std::make_shared<ParseBackendFile>(file));
    runAll();
    ASSERT_NE(model->mainViewMapImage, nullptr);
    EXPECT_EQ(model->mainViewMapImage->width, 7);
}

TEST_F(ApplicationModelTest, ReadOnlyViewsOfOtherComponents) {
    EXPECT_EQ(model->recentLoginData(), std::nullopt);
    login.data = LoginData{"user@example.test", "secret", std::nullopt};
    EXPECT_EQ(model->recentLoginData()->username, "user@example.test");
    EXPECT_EQ(model->mainViewDetailsController(), &detailsPane);
    shell.detailsPane = nullptr;
    EXPECT_EQ(model->mainViewDetailsController(), nullptr);
    model->setPorts({});
    EXPECT_EQ(model->mainViewDetailsController(), nullptr);
    EXPECT_EQ(model->appDelegate(), nullptr);
}

}  // namespace
}  // namespace hw::test
