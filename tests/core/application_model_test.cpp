#include <gmock/gmock.h>

#include "application_model_fixture.h"
#include "core/application_model_parse_file.h"
#include "support/fake_backend_file.h"

namespace hw::test {
namespace {

std::shared_ptr<FakeBackendFile> mapFile(const char* bytes) {
    auto file = std::make_shared<FakeBackendFile>();
    file->data = FakeImageCodec::bytes(bytes);
    return file;
}

using ::testing::ElementsAre;
using Keys = SettingsUserDefaults;

TEST_F(ApplicationModelTest, StoreBackedFieldsReadThroughAndSynchroniseAsDocumented) {
    store.set(Keys::sendAnalyticsData, "yes");  // wrong kind reads as missing
    EXPECT_FALSE(model->sendAnalyticsData());

    struct Case {
        const char* key;
        std::function<void()> write;
        bool synchronises;
    };
    const std::vector<Case> cases = {
        {Keys::useNetworkLock, [&] { model->setUseNetworkLock(true); }, true},
        {Keys::appLaunchParameters, [&] { model->setAppLaunchParameters(StringList{"-utm_source"}); }, true},
        {Keys::explicitAutomaticItemLocationID, [&] { model->setExplicitAutomaticItemLocationID("abc"); }, true},
        {Keys::previousDefaultGatewayValue, [&] { model->setPreviousDefaultGatewayValue("10.0.0.1"); }, true},
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
    // The helper's no-answer and blanks never replace a saved gateway.
    for (const char* ignored : {"", " ", "NO"}) model->setPreviousDefaultGatewayValue(ignored);
    EXPECT_EQ(model->previousDefaultGatewayValue(), "10.0.0.1");
    model->setExplicitAutomaticItemLocationID(std::nullopt);
    model->setAppLaunchParameters(std::nullopt);
    EXPECT_EQ(model->explicitAutomaticItemLocationID(), std::nullopt);
    EXPECT_FALSE(store.stored().contains(Keys::appLaunchParameters));
}

TEST_F(ApplicationModelTest, IntentionalDisconnectLiftsTheNetworkLock) {
    model->networkLockActivated = true;
    model->setIntensionallyDisconnectedVPN(false);
    EXPECT_TRUE(model->networkLockActivated);
    model->setIntensionallyDisconnectedVPN(true);
    EXPECT_FALSE(model->networkLockActivated);
    EXPECT_THAT(journal.calls, ElementsAre("disableNetworkLock"));
}

TEST_F(ApplicationModelTest, SettingsLockObserversRunInOrderAndOnlyGrow) {
    std::vector<std::string> calls;
    auto first = [&](bool v) { calls.push_back(v ? "first on" : "first off"); };
    model->addVPNSettingsChangingDisabledObserver(first);
    model->addVPNSettingsChangingDisabledObserver([&](bool) {
        calls.push_back("second");
        if (model->vpnSettingsChangingDisabledObserverCount() == 3) {
            model->addVPNSettingsChangingDisabledObserver([&](bool) { calls.push_back("late"); });
        }
    });
    model->addVPNSettingsChangingDisabledObserver(first);
    model->setVpnSettingsChangingDisabled(true);
    EXPECT_THAT(calls, ElementsAre("first on", "second", "first on"));  // "late" waits for the next round
    calls.clear();
    model->setVpnSettingsChangingDisabled(false);
    EXPECT_THAT(calls, ElementsAre("first off", "second", "first off", "late"));
}

TEST_F(ApplicationModelTest, AnObserverOfADeadOwnerIsSkipped) {
    struct Window {
        std::vector<std::string> seen;
    };
    auto window = std::make_shared<Window>();
    model->addVPNProtocolUpdatedObserver<Window>(window, [](Window& w, const std::string& t) { w.seen.push_back(t); });
    model->applySettings({{Keys::vpnProtocols, " OpenVPN"}});
    EXPECT_THAT(window->seen, ElementsAre(" OpenVPN"));
    window.reset();
    model->applySettings({{Keys::vpnProtocols, " IKEv2 "}});  // a strong capture would touch freed memory
}

TEST_F(ApplicationModelTest, DocklessModeStopsOrReloadsTheWidgetOnlyOnAChange) {
    model->setIsAppInUserAgentMode(false);
    model->setIsAppInUserAgentMode(true);
    model->setIsAppInUserAgentMode(true);
    model->setIsAppInUserAgentMode(false);
    EXPECT_THAT(journal.calls, ElementsAre("stopSheduleNextSmartWidgetUpdateTimer", "loadSmartWidgetData"));
    shell.skipUserAgentMode = true;
    model->setIsAppInUserAgentMode(true);
    EXPECT_TRUE(model->isAppInUserAgentMode());
    EXPECT_EQ(journal.calls.size(), 2u);
}

TEST_F(ApplicationModelTest, NewLocationsListChoosesTheCurrentLocationAndAnEmptyOrMissingOneKeepsIt) {
    auto list = FakeLocationsListOperations::list({"a", "b", "c"});
    model->setLocationsListModel(list);
    EXPECT_EQ(list->rebuilds, 1);
    EXPECT_EQ(model->currentLocation(), list->rows[0]);

    model->pendingLocationIDToSet = "c";
    model->setLocationsListModel(FakeLocationsListOperations::list({"a", "b", "c"}));
    const auto current = model->currentLocation();
    EXPECT_EQ(current->objectId, "c");
    EXPECT_EQ(model->pendingLocationIDToSet, std::nullopt);
    EXPECT_EQ(store.stringForKey(Keys::lastLocation), "c");

    model->pendingLocationIDToSet = "b";
    model->setLocationsListModel(FakeLocationsListOperations::list({}));
    model->setLocationsListModel(nullptr);
    model->setPorts({});
    model->setLocationsListModel(FakeLocationsListOperations::list({"z"}));
    EXPECT_EQ(model->currentLocation(), current);
    EXPECT_EQ(model->pendingLocationIDToSet, "b");  // kept for a list that has rows

    model->setPorts({&manager, &reachability, &shell, &login, &locations});
    model->pendingLocationIDToSet = "gone";
    model->setLocationsListModel(FakeLocationsListOperations::list({"a"}));
    EXPECT_EQ(model->currentLocation(), nullptr);
    EXPECT_EQ(model->pendingLocationIDToSet, std::nullopt);
    EXPECT_EQ(store.stringForKey(Keys::lastLocation), "c");  // none stores nothing
}

TEST_F(ApplicationModelTest, ConfigDateIsStoredOnlyWhenItChanges) {
    model->vpnConfigUpdatedAt = model->parseVPNConfigUpdatedAt = Date{100};
    model->updateVPNConfigUpdatedAt();
    EXPECT_EQ(store.syncCount, 0);
    model->parseVPNConfigUpdatedAt = Date{200};
    model->updateVPNConfigUpdatedAt();
    EXPECT_EQ(store.dateForKey(Keys::vpnConfigUpdatedAt), Date{200});
    model->parseVPNConfigUpdatedAt.reset();
    model->updateVPNConfigUpdatedAt();
    EXPECT_FALSE(store.stored().contains(Keys::vpnConfigUpdatedAt));
}

TEST_F(ApplicationModelTest, CachedMapIsReadAndDecodedOffTheMainQueueAndAssignedOnIt) {
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
    EXPECT_FALSE(model->mainViewMapPFFileLoaded);
    EXPECT_THAT(journal.calls, ElementsAre("updateMainViewMapImage"));

    // The same through the backend client's own file object.
    auto parseFile = std::make_shared<ParseFile>(std::weak_ptr<ParseCore>(), "map.png", "",
                                                 FakeImageCodec::bytes("IMG:7x7"), "image/png");
    model->setMainViewMapPFFile(std::make_shared<ParseBackendFile>(parseFile));
    runAll();
    EXPECT_EQ(model->mainViewMapImage->width, 7);
}

TEST_F(ApplicationModelTest, FetchedMapsFillTheirImageFailedStaleOrOrphanedOnesChangeNothing) {
    auto good = mapFile("IMG:2x2");
    model->setMainViewMapPFFile(good);
    good->finishFetch();
    auto dark = mapFile("IMG:6x1");
    dark->available = true;  // the dark map always fetches
    model->setMainViewMapDarkPFFile(dark);
    dark->finishFetch();
    runAll();
    const auto shown = model->mainViewMapImage;
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(model->mainViewMapPFFileLoaded);
    EXPECT_EQ(darkMap()->width, 6);
    EXPECT_THAT(journal.calls, ElementsAre("updateMainViewMapImage"));  // once, for the light map
    auto broken = std::make_shared<FakeBackendFile>();  // fetch error
    auto garbage = mapFile("<html>");
    model->setMainViewMapPFFile(broken);
    broken->finishFetch();
    model->setMainViewMapPFFile(garbage);
    garbage->finishFetch();
    runAll();
    EXPECT_EQ(model->mainViewMapImage, shown);

    // An older file finishing after a newer one was assigned must not win.
    auto older = mapFile("IMG:8x8");
    auto newer = mapFile("IMG:5x5");
    model->setMainViewMapPFFile(older);
    model->setMainViewMapPFFile(newer);
    newer->finishFetch();
    older->finishFetch();
    runAll();
    EXPECT_EQ(model->mainViewMapImage->width, 5);

    auto late = mapFile("IMG:2x2");
    model->setMainViewMapPFFile(late);
    model.reset();
    late->finishFetch();
    runAll();
    EXPECT_EQ(journal.calls.size(), 2u);
}

TEST_F(ApplicationModelTest, DarkMapIsKeptEncodedAndDecodedWhenAskedAGarbageFileKeepsTheLastGoodOne) {
    EXPECT_EQ(darkMap(), nullptr);
    auto dark = mapFile("IMG:6x1");
    model->setMainViewMapDarkPFFile(dark);
    dark->finishFetch();
    runAll();
    const int decoded = codec.decodes;
    const auto first = darkMap();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width, 6);
    // Nothing holds the pixels between asks: each ask decodes anew.
    EXPECT_NE(darkMap(), first);
    EXPECT_EQ(codec.decodes, decoded + 2);

    auto garbage = mapFile("<html>");
    model->setMainViewMapDarkPFFile(garbage);
    garbage->finishFetch();
    runAll();
    ASSERT_NE(darkMap(), nullptr);
    EXPECT_EQ(darkMap()->width, 6);
}

}  // namespace
}  // namespace hw::test
