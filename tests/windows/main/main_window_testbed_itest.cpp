// The main and locations windows on the real hub: list, map, flags, widget,
// search and a kept star from the testbed.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>

#include "services/smart_wigdet_helper.h"
#include "support/widget_test_app.h"
#include "windows/locations/locations_window_testbed.h"
#include "windows/shared/widgets/locations_search_field_main.h"
#include "windows/shared/widgets/locations_table_qt_model.h"

namespace hw::test {
namespace {

std::vector<std::string> sortedNames(const std::vector<LocationsListItemPtr>& items) {
    std::vector<std::string> names;
    for (const auto& item : items)
        if (!item->isGroupItem) names.push_back(item->name);
    std::sort(names.begin(), names.end());
    return names;
}

class WindowsTestbed : public ::testing::Test, private WidgetAppFirst {
protected:
    void SetUp() override {
        env = TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
        main.emplace(*env);
    }
    void signInAndOpen(const char* user, const char* password) {
        const auto why = main->signInAndLoad(env->get(user), env->get(password));
        ASSERT_TRUE(why.empty()) << why;
        main->openWindow();
        locations.emplace(*main);
        locations->open();
    }
    std::optional<TestbedEnv> env;
    std::optional<MainWindowTestbed> main;
    std::optional<LocationsWindowTestbed> locations;
};

TEST_F(WindowsTestbed, DemoSeesItsLocationsMapFlagsWidgetAndSearch) {
    signInAndOpen("HAVENWAY_TESTBED_DEMO_USER", "HAVENWAY_TESTBED_DEMO_PASSWORD");
    auto& table = main->controller->tableViewModel();
    ASSERT_TRUE(table.list());
    EXPECT_EQ(table.list()->listWithOutGroups().size(), 6u);
    EXPECT_EQ(sortedNames(table.list()->favorites()), (std::vector<std::string>{"Japan", "Netherlands"}));

    // The map arrives from the backend's file; the flag is placed on it.
    ASSERT_TRUE(main->waitForMapAndFlag()) << "map or flag never placed";
    const auto& current = main->hub->appModel().currentLocation();
    ASSERT_TRUE(current && current->flag_px && current->flag_py);
    const auto* map = main->widget->mapView();
    const auto& image = *main->hub->appModel().mainViewMapImage;
    const auto drawn = *drawnMapRect(map->width(), map->height(), image.width, image.height);
    const QPoint centre = main->widget->flag()->geometry().center();
    EXPECT_NEAR(centre.x(), drawn.startX + *current->flag_px * drawn.width, 1.5);
    EXPECT_NEAR(centre.y(), drawn.startY + *current->flag_py * drawn.height, 1.5);

    // Every row's flag arrives from its file.
    auto* rows = locations->widget->tableModel();
    auto flagsShown = [&] {
        int shown = 0;
        for (int row = 1; row < rows->rowCount(); ++row)
            shown += !rows->data(rows->index(row), LocationsTableQtModel::FlagRole).value<QImage>().isNull();
        return shown;
    };
    ASSERT_TRUE(spinUntil([&] { return flagsShown() == 6; }, 30000)) << flagsShown();

    // The search filters this window's own rows; the main window's stay whole.
    QTest::keyClicks(&locations->widget->searchField(), "AN");
    auto& own = locations->controller->tableViewModel();
    std::vector<LocationsListItemPtr> shown;
    for (int row = 1; row < own.rowCount(); ++row) shown.push_back(own.itemAtRow(row));
    EXPECT_EQ(sortedNames(shown), (std::vector<std::string>{"Canada", "Germany", "Japan", "Netherlands"}));
    EXPECT_EQ(table.rowCount(), 1 + int(table.list()->listWithGroups().size()));

    // The tile from the web API.
    std::optional<SmartWidgetReply> reply;
    main->hub->smartWidgetService()->requestSmartWidgetData(
        env->get("HAVENWAY_TESTBED_APP_ID"), main->parse->currentUser()->sessionToken,
        [&](SmartWidgetReply r) { reply = r; }, [](const std::string&) {});
    ASSERT_TRUE(spinUntil([&] { return reply.has_value(); }, 30000)) << "no widget data";
    EXPECT_FALSE(reply->title.empty());
    auto data = main->hub->appModel().makeSmartWidgetData(reply->link, reply->title, reply->image, reply->subtitle,
                                                          reply->link_text);
    main->controller->onLatestSmartWidgetDataLoadedWithData(data);
    EXPECT_TRUE(spinUntil([&] { return main->widget->smartWidgetTitle() == reply->title && data->imageData; }, 30000));
}

TEST_F(WindowsTestbed, TestersStarIsKeptForTheNextLoad) {
    signInAndOpen("HAVENWAY_TESTBED_USER", "HAVENWAY_TESTBED_PASSWORD");
    ASSERT_TRUE(main->hub->appModel().locationsListModel()->favorites().empty())
        << "the tester starts without favourites";
    locations->controller->onFavoriteButtonClick(locations->rowOf("Japan"));
    EXPECT_EQ(main->controller->tableViewModel().list()->favorites().size(), 1u);

    bool loaded = false;
    main->hub->loadRequiredData([&] { loaded = true; });
    ASSERT_TRUE(spinUntil([&] { return loaded; }, 30000)) << "second load never finished";
    const auto& list = main->hub->appModel().locationsListModel();
    ASSERT_TRUE(list);
    EXPECT_NE(list, main->controller->tableViewModel().list()) << "a new list object";
    EXPECT_EQ(sortedNames(list->favorites()), std::vector<std::string>{"Japan"});
}

}  // namespace
}  // namespace hw::test
