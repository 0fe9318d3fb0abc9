#include <gmock/gmock.h>

#include "main_window_fixture.h"
#include "services/analytics_event.h"

namespace hw::test {
namespace {

using ::testing::ElementsAre;

struct MainWindowTable : MainWindowFixture, ::testing::Test {};

TEST_F(MainWindowTable, SetupMainViewWaitsForTheWindowThenInstallsListCallbacksAndSelection) {
    VPNConnectionDetailsCallbacks callbacks;
    callbacks.onIPaddressUpdatedCallback = [](const std::string&) {};
    controller->setupMainView(list, callbacks);
    EXPECT_TRUE(controller->setupMainViewPending());
    EXPECT_EQ(view.table, nullptr);

    controller->showWindow();
    EXPECT_FALSE(controller->setupMainViewPending());
    ASSERT_TRUE(pane->callbacks && pane->callbacks->onIPaddressUpdatedCallback);
    EXPECT_EQ(view.table->rowCount(), 1 + 2 + 3);  // Automatic, two headers, three locations
    EXPECT_EQ(model.currentLocation(), list->listWithOutGroups().front());
    EXPECT_EQ(pane->count("prepareConnectionStatusNotifications"), 1);
    ASSERT_EQ(locationsWindow.lists.size(), 1u);
    EXPECT_EQ(locationsWindow.lists[0], list);
}

TEST_F(MainWindowTable, StartSelectionFollowsTheStateObject) {
    struct Row {
        const char* name;
        bool withCurrent;
        bool emptyList;
        const char* expected;  // id of the current location afterwards, "" for none
    };
    for (const Row& row : {Row{"current kept", true, false, "jp"}, Row{"first row", false, false, "us"},
                           Row{"empty list selects nothing", false, true, ""}}) {
        MainWindowFixture f;
        if (row.withCurrent) f.model.setCurrentLocation(f.jp);
        if (row.emptyList) f.list = std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{});
        f.open();
        const auto& current = f.model.currentLocation();
        EXPECT_EQ(current ? current->objectId : "", row.expected) << row.name;
        EXPECT_EQ(f.pane->shown ? f.pane->shown->objectId : "", row.expected) << row.name;
    }
}

TEST_F(MainWindowTable, SelectionGateDecidesAndReportsLocationChanges) {
    struct Row {
        const char* name;
        bool locked;
        bool automaticKnown;
        int row;  // -2: the current location's row
        bool accepted;
        const char* analytics;  // "" for no event
    };
    const Row rows[] = {
        {"locked settings", true, true, 0, false, ""},
        {"group header", false, true, 1, false, ""},
        {"automatic before it is known", false, false, 0, false, ""},
        {"automatic", false, true, 0, true, "Automatic"},
        {"same location", false, true, -2, true, ""},
        {"another location", false, true, 5, true, "Japan"},
        {"outside the rows", false, true, 40, false, ""},
    };
    for (const Row& r : rows) {
        MainWindowFixture f;
        if (r.automaticKnown) f.model.currentAutomaticLocation = location("auto", "Germany");
        f.open();
        f.model.setVpnSettingsChangingDisabled(r.locked);
        const auto before = f.model.currentLocation();
        const int row = r.row == -2 ? f.rowOf(before) : r.row;
        f.pane->calls.clear();
        f.controller->onTableRowClicked(row);
        EXPECT_EQ(f.pane->count("changeDetailsView"), r.accepted ? 1 : 0) << r.name;
        if (!r.accepted) {
            EXPECT_EQ(f.model.currentLocation(), before) << r.name;
        }
        if (*r.analytics) {
            ASSERT_EQ(f.events.size(), 1u) << r.name;
            EXPECT_EQ(f.events[0].first, AnalyticsEvent::VPN_LOCATION_CHANGE_EVENT);
            EXPECT_EQ(f.events[0].second->at(AnalyticsEvent::VPN_LOCATION_CHANGE_EVENT_PARAMETER_NAME), r.analytics);
        } else {
            EXPECT_TRUE(f.events.empty()) << r.name;
        }
    }
}

TEST_F(MainWindowTable, AutomaticRowPaintsSelectedAndAnotherRowTakesItBack) {
    model.currentAutomaticLocation = location("auto", "Germany");
    open();
    auto& table = *view.table;
    std::vector<int> repainted;
    table.onRowChanged = [&](int row) { repainted.push_back(row); };
    const int jpRow = rowOf(jp);

    controller->onTableRowClicked(0);
    EXPECT_TRUE(model.useAutomaticLocation());
    EXPECT_EQ(table.previouslySelectedRow, -1);
    EXPECT_STREQ(table.backgroundOfRow(0), "#4b4e51");
    EXPECT_EQ(model.currentLocation()->objectId, "auto");

    controller->onTableRowClicked(jpRow);
    EXPECT_FALSE(model.useAutomaticLocation());
    EXPECT_STREQ(table.backgroundOfRow(0), "#373a3d");
    EXPECT_STREQ(table.backgroundOfRow(jpRow), "#4b4e51");
    EXPECT_EQ(table.previouslySelectedRow, jpRow);
    EXPECT_THAT(repainted, ::testing::IsSupersetOf({0, jpRow}));
}

TEST_F(MainWindowTable, DoubleClickConnectsOnlyOnLocationRows) {
    open();
    const int jpRow = rowOf(jp);
    for (auto [row, connects] : std::vector<std::pair<int, bool>>{{-1, false}, {1, false}, {99, false}, {0, true},
                                                                  {jpRow, true}}) {
        engine.calls.clear();
        controller->doubleClickOnLocationsRow(row);
        EXPECT_EQ(engine.count("intents.connectOrEnd"), connects ? 1 : 0) << row;
    }
}

TEST_F(MainWindowTable, StarMovesTheLocationAndKeepsTheShownOneSelected) {
    open();
    controller->onTableRowClicked(rowOf(jp));
    const int usRow = rowOf(us);
    controller->onFavoriteButtonClick(usRow);
    EXPECT_TRUE(us->isFavorite);
    EXPECT_EQ(view.table->titleOfRow(1), "Favorites");
    EXPECT_EQ(view.table->itemAtRow(2), us);
    EXPECT_EQ(model.currentLocation(), jp);
    EXPECT_EQ(view.table->selectedRow(), rowOf(jp));

    // Locked settings, headers and rows past the end leave every star alone.
    model.setVpnSettingsChangingDisabled(true);
    controller->onFavoriteButtonClick(2);
    EXPECT_TRUE(us->isFavorite);
    model.setVpnSettingsChangingDisabled(false);
    controller->onFavoriteButtonClick(1);
    controller->onFavoriteButtonClick(500);
    controller->onFavoriteButtonClick(-3);
    EXPECT_TRUE(us->isFavorite);
    EXPECT_FALSE(jp->isFavorite);
}

TEST_F(MainWindowTable, SearchFiltersAndTheSameTextOnlyReloads) {
    open();
    view.scrolledTo.clear();
    int resets = 0;
    view.table->onDidReset = [&] { ++resets; };
    EXPECT_TRUE(view.table->applySearch("jap"));
    EXPECT_EQ(view.table->rowCount(), 1 + 2);
    EXPECT_EQ(view.table->itemAtRow(2), jp);
    controller->onSearchFieldChanged("jap");
    EXPECT_EQ(resets, 2);
    EXPECT_EQ(view.table->rowCount(), 3);
    EXPECT_TRUE(view.scrolledTo.empty()) << "the same text moves nothing";

    // A new text shows its results from their first group's header, however
    // far down the list was; none found, nothing to show.
    for (const char* text : {"un", "zzz", ""}) controller->onSearchFieldChanged(text);
    EXPECT_EQ(view.scrolledTo, std::vector<int>{1});
}

TEST_F(MainWindowTable, EachWindowsSearchFiltersOnlyItsOwnRows) {
    model.setCurrentLocation(us);
    open();
    const int whole = view.table->rowCount();
    // The locations window reads the same list through a table of its own.
    LocationsTableViewModel other(model);
    other.reload(list);
    other.applySearch("ja");
    EXPECT_EQ(other.rowCount(), 1 + 2);
    EXPECT_EQ(list->searchString(), "");

    // Connecting reloads the main table: it stays whole, the chosen row in it.
    controller->deactivateTableView();
    EXPECT_EQ(view.table->rowCount(), whole);
    EXPECT_TRUE(view.table->rowOfItem(us.get()));

    controller->onSearchFieldChanged("un");
    other.reload();
    EXPECT_EQ(other.rowCount(), 1 + 2) << "the main window's search leaves the other table alone";
    EXPECT_EQ(other.itemAtRow(2), jp);
}

TEST_F(MainWindowTable, PaneFreezesTheTableAndAnOpenLocationsWindowHearsChoicesAndMoves) {
    model.currentAutomaticLocation = location("auto", "Germany");
    open();
    controller->onTableRowClicked(rowOf(jp));
    pane->deactivateTable();
    EXPECT_TRUE(view.scrollingDisabled);
    pane->activateTable();
    EXPECT_FALSE(view.scrollingDisabled);
    EXPECT_EQ(view.scrolledTo.back(), rowOf(jp));

    // A location chosen elsewhere while Automatic is on: Automatic is applied again.
    controller->onTableRowClicked(0);
    controller->selectLocation(jp, false);
    EXPECT_TRUE(model.useAutomaticLocation());
    EXPECT_EQ(model.currentLocation()->objectId, "auto");
    ASSERT_FALSE(locationsWindow.selections.empty());
    EXPECT_EQ(locationsWindow.selections.back().first, jp);

    view.userDrags({1, 2, 3, 4});
    EXPECT_TRUE(locationsWindow.mainWindowFrames.empty());
    locationsWindow.opened = true;
    view.userDrags({5, 6, 7, 8});
    EXPECT_THAT(locationsWindow.mainWindowFrames, ElementsAre(WindowFrame{5, 6, 7, 8}));
}

}  // namespace
}  // namespace hw::test
