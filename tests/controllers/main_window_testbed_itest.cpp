// The main window on the real hub, list, map, flags and widget from the testbed.
#include <gtest/gtest.h>

#include "main_window_testbed.h"
#include "services/smart_wigdet_helper.h"
#include "support/widget_test_app.h"

namespace hw::test {
namespace {

class MainWindowTestbedTest : public ::testing::Test, private WidgetAppFirst {
protected:
    void SetUp() override {
        env = TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
    }
    std::vector<std::string> favoriteNames(const LocationsListModel& list) {
        std::vector<std::string> names;
        for (const auto& item : list.favorites()) names.push_back(item->name);
        std::sort(names.begin(), names.end());
        return names;
    }
    std::optional<TestbedEnv> env;
};

TEST_F(MainWindowTestbedTest, DemoSeesItsLocationsMapFlagAndWidget) {
    MainWindowTestbed rig(*env);
    const auto why = rig.signInAndLoad(env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"));
    ASSERT_TRUE(why.empty()) << why;
    rig.openWindow();
    auto& table = rig.controller->tableViewModel();
    ASSERT_TRUE(table.list());
    EXPECT_EQ(table.list()->listWithOutGroups().size(), 6u);
    EXPECT_EQ(favoriteNames(*table.list()), (std::vector<std::string>{"Japan", "Netherlands"}));
    EXPECT_EQ(table.titleOfRow(1), "Favorites");

    // The map arrives from the backend's file; the flag is placed on it.
    ASSERT_TRUE(rig.waitForMapAndFlag()) << "map or flag never placed";
    const auto& current = rig.hub->appModel().currentLocation();
    ASSERT_TRUE(current && current->flag_px && current->flag_py);
    const auto* map = rig.widget->mapView();
    const auto& image = *rig.hub->appModel().mainViewMapImage;
    const auto drawn = *drawnMapRect(map->width(), map->height(), image.width, image.height);
    const QPoint centre = rig.widget->flag()->geometry().center();
    EXPECT_NEAR(centre.x(), drawn.startX + *current->flag_px * drawn.width, 1.5);
    EXPECT_NEAR(centre.y(), drawn.startY + *current->flag_py * drawn.height, 1.5);

    // The list's own flags come from their files too.
    ASSERT_TRUE(spinQtUntil([&] { return rig.images->cachedCount() >= 6; })) << rig.images->cachedCount();

    // The tile from the web API.
    std::optional<SmartWidgetReply> reply;
    rig.hub->smartWidgetService()->requestSmartWidgetData(
        env->get("HAVENWAY_TESTBED_APP_ID"), rig.parse->currentUser()->sessionToken,
        [&](SmartWidgetReply r) { reply = r; }, [](const std::string&) {});
    ASSERT_TRUE(spinQtUntil([&] { return reply.has_value(); })) << "no widget data";
    auto data = rig.hub->appModel().makeSmartWidgetData(reply->link, reply->title, reply->image, reply->subtitle,
                                                        reply->link_text);
    rig.controller->onLatestSmartWidgetDataLoadedWithData(data);
    ASSERT_TRUE(spinQtUntil([&] { return rig.widget->smartWidgetTitle() == reply->title && data->imageData; }));
    EXPECT_FALSE(reply->title.empty());
}

TEST_F(MainWindowTestbedTest, TestersStarIsKeptForTheNextLoad) {
    MainWindowTestbed rig(*env);
    auto why = rig.signInAndLoad(env->get("HAVENWAY_TESTBED_USER"), env->get("HAVENWAY_TESTBED_PASSWORD"));
    ASSERT_TRUE(why.empty()) << why;
    rig.openWindow();
    auto& table = rig.controller->tableViewModel();
    ASSERT_TRUE(table.list()->favorites().empty()) << "the tester starts without favourites";
    const int row = 2;  // the first location under its header
    ASSERT_EQ(table.kindOfRow(row), LocationsTableViewModel::RowKind::location);
    const std::string starred = table.itemAtRow(row)->name;
    rig.controller->onFavoriteButtonClick(row);
    EXPECT_EQ(table.titleOfRow(1), "Favorites");
    EXPECT_EQ(table.itemAtRow(2)->name, starred);

    bool loaded = false;
    rig.hub->loadRequiredData([&] { loaded = true; });
    ASSERT_TRUE(spinQtUntil([&] { return loaded; })) << "second load never finished";
    const auto& list = rig.hub->appModel().locationsListModel();
    ASSERT_TRUE(list);
    EXPECT_NE(list, table.list()) << "a new list object";
    EXPECT_EQ(favoriteNames(*list), std::vector<std::string>{starred});
}

}  // namespace
}  // namespace hw::test
