// The locations window on the real hub: the demo's list and flags, search, a kept star.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>

#include "controllers/location_title_highlight.h"
#include "controllers/locations_search_field_main.h"
#include "controllers/locations_table_qt_model.h"
#include "locations_window_testbed.h"
#include "support/widget_test_app.h"

namespace hw::test {
namespace {

class LocationsWindowTestbedTest : public ::testing::Test, private WidgetAppFirst {
protected:
    void SetUp() override {
        env = TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
    }
    std::vector<std::string> locationNames(const LocationsTableViewModel& table) {
        std::vector<std::string> names;
        for (int row = 1; row < table.rowCount(); ++row) {
            if (table.kindOfRow(row) == LocationsTableViewModel::RowKind::location) names.push_back(table.itemAtRow(row)->name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::optional<TestbedEnv> env;
};

TEST_F(LocationsWindowTestbedTest, DemoSearchesItsSixLocations) {
    MainWindowTestbed main(*env);
    const auto why =
        main.signInAndLoad(env->get("HAVENWAY_TESTBED_DEMO_USER"), env->get("HAVENWAY_TESTBED_DEMO_PASSWORD"));
    ASSERT_TRUE(why.empty()) << why;
    main.openWindow();
    LocationsWindowTestbed rig(main);
    rig.open();
    auto& table = rig.controller->tableViewModel();
    EXPECT_EQ(locationNames(table).size(), 6u);

    // Every row's flag arrives from its file.
    auto* model = rig.widget->tableModel();
    auto flagsShown = [&] {
        int shown = 0;
        for (int row = 1; row < model->rowCount(); ++row) {
            if (!model->data(model->index(row), LocationsTableQtModel::FlagRole).value<QImage>().isNull()) ++shown;
        }
        return shown;
    };
    ASSERT_TRUE(spinQtUntil([&] { return flagsShown() == 6; })) << flagsShown();

    QTest::keyClicks(&rig.widget->searchField(), "AN");
    EXPECT_EQ(locationNames(table), (std::vector<std::string>{"Canada", "Germany", "Japan", "Netherlands"}));
    for (const auto* name : {"Canada", "Germany", "Japan", "Netherlands"}) {
        const auto title = QString::fromStdString(table.itemAtRow(rig.rowOf(name))->locationName());
        const auto match = locationTitleMatch(title, "AN");
        ASSERT_TRUE(match) << name;
        EXPECT_EQ(title.mid(match->start, match->length), "an") << name;
    }
}

TEST_F(LocationsWindowTestbedTest, TestersStarSetHereIsKept) {
    MainWindowTestbed main(*env);
    auto why = main.signInAndLoad(env->get("HAVENWAY_TESTBED_USER"), env->get("HAVENWAY_TESTBED_PASSWORD"));
    ASSERT_TRUE(why.empty()) << why;
    main.openWindow();
    LocationsWindowTestbed rig(main);
    rig.open();
    auto& table = rig.controller->tableViewModel();
    ASSERT_TRUE(table.list()->favorites().empty()) << "the tester starts without favourites";
    const std::string starred = "Japan";
    rig.controller->onFavoriteButtonClick(rig.rowOf(starred));
    EXPECT_EQ(table.titleOfRow(1), "Favorites");

    bool loaded = false;
    main.hub->loadRequiredData([&] { loaded = true; });
    ASSERT_TRUE(spinQtUntil([&] { return loaded; })) << "second load never finished";
    const auto& list = main.hub->appModel().locationsListModel();
    ASSERT_TRUE(list);
    std::vector<std::string> favourites;
    for (const auto& item : list->favorites()) favourites.push_back(item->name);
    EXPECT_EQ(favourites, std::vector<std::string>{starred});
}

}  // namespace
}  // namespace hw::test
