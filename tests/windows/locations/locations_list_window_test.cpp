#include <gtest/gtest.h>

#include <QRectF>

#include "support/kit_controller_fixture.h"
#include "support/recording_details_pane.h"
#include "support/recording_pane_engine.h"
#include "support/recording_window_view.h"
#include "view/kit_geometry.h"
#include "windows/locations/locations_list_window_view_controller.h"

namespace hw::test {
namespace {

class RecordingLocationsView : public LocationsListWindowView {
public:
    LocationsListWindowViewEvents* events = nullptr;
    LocationsTableViewModel* table = nullptr;
    std::vector<int> scrolledTo;
    bool scrollingDisabled = false;
    bool overlayHidden = true;
    bool searchEnabled = true;
    std::string text;
    std::string highlight;
    bool focusDropped = false;
    int placeholderCleared = 0;
    std::vector<std::pair<bool, double>> tooltipFades;
    std::function<void()> tooltipHandler;
    bool scrollObserved = false;
    int resets = 0;
    std::vector<std::pair<int, int>> moves;

    void setEvents(LocationsListWindowViewEvents* e) override { events = e; }
    void bindTable(LocationsTableViewModel& vm) override {
        table = &vm;
        vm.onDidReset = [this] { ++resets; };
        vm.onWillMoveRow = [this](int from, int to) { moves.emplace_back(from, to); };
    }
    void scrollRowToVisible(int row) override { scrolledTo.push_back(row); }
    void setTableScrollingDisabled(bool d) override { scrollingDisabled = d; }
    void setOverlayHidden(bool h) override { overlayHidden = h; }
    std::string searchText() const override { return text; }
    void setSearchText(const std::string& t) override { text = t; }
    void setSearchFieldEnabled(bool e) override { searchEnabled = e; }
    void setSearchBarPlaceholderText() override {}
    void clearPlaceholderText() override { ++placeholderCleared; }
    void dropSearchFieldFocus() override { focusDropped = true; }
    void setTitleHighlight(const std::string& t) override { highlight = t; }
    void fadeAutomaticInfoTooltip(bool in, double s) override { tooltipFades.emplace_back(in, s); }
    void setTooltipMouseDownHandler(std::function<void()> h) override { tooltipHandler = std::move(h); }
    void setScrollObserved(bool o) override { scrollObserved = o; }

    void type(const std::string& t) {
        text = t;
        events->onSearchFieldChanged();
    }
};

// The main window as the locations window reaches it: choices become current.
class RecordingMain : public LocationsWindowMain {
public:
    explicit RecordingMain(ApplicationModel& model) : model_(model) {}
    std::vector<std::tuple<std::string, bool, bool>> choices;
    std::optional<WindowFrame> frame;

    const LocationsListItemPtr& currentLocation() const override { return model_.currentLocation(); }
    void selectLocationProcessing(const LocationsListItemPtr& location, bool skip, bool automatic) override {
        choices.emplace_back(location ? location->name : "", skip, automatic);
        if (!automatic) model_.setUseAutomaticLocation(false);
        model_.setCurrentLocation(location);
    }
    std::optional<WindowFrame> mainWindowFrame() override { return frame; }

private:
    ApplicationModel& model_;
};

LocationsListItemPtr place(const std::string& name, bool favorite = false, bool recommended = false) {
    auto item = std::make_shared<LocationsListItemModel>(name, name);
    item->isFavorite = favorite;
    item->isRecommended = recommended;
    return item;
}

struct LocationsWindowTest : KitControllerFixture, ::testing::Test {
    LocationsWindowTest() {
        LocationsListWindowViewController::windowOpenedFlag = false;
        model.setUseAutomaticLocation(false);
        de = place("Germany", true);
        us = place("United States", false, true);
        nl = place("Netherlands");
        jp = place("Japan");
        list = std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{de, us, nl, jp});
        pane->shown = nl;
        controller = std::make_shared<LocationsListWindowViewController>(LocationsListWindowEnvironment{
            context, window, view, queue, [this] { return &main; }, [this] { return pane; }, canPlace,
            [this] { return &intentsEngine.intents(); }});
        controller->updateTableData(list);
    }
    ~LocationsWindowTest() override { LocationsListWindowViewController::windowOpenedFlag = false; }

    void open() {
        controller->showWindow();
        queue.runUntilIdle();
    }
    int rowOf(const LocationsListItemPtr& item) { return *controller->tableViewModel().rowOfItem(item.get()); }
    // The table serves exactly the model's rows: the shared list as this window's own search shows it.
    void expectRowsEqualModel() {
        const std::string shared = list->searchString();
        list->applySearchString(controller->tableViewModel().searchText());
        const auto rows = list->listWithGroups();
        list->applySearchString(shared);
        ASSERT_EQ(controller->tableViewModel().rowCount(), static_cast<int>(rows.size()) + 1);
        for (std::size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(controller->tableViewModel().itemAtRow(static_cast<int>(i) + 1), rows[i]) << i;
    }

    bool canPlace = true;
    RecordingWindowView window;
    RecordingLocationsView view;
    RecordingMain main{model};
    std::shared_ptr<RecordingDetailsPane> pane = std::make_shared<RecordingDetailsPane>();
    // Where a double-click's Connect goes.
    RecordingPaneEngine intentsEngine;
    LocationsListItemPtr de, us, nl, jp;
    std::shared_ptr<LocationsListModel> list;
    std::shared_ptr<LocationsListWindowViewController> controller;
};

// Placement is specified y-up; the window works in Qt's y-down frames.
TEST_F(LocationsWindowTest, StaysBesideTheMainWindowWhileOpen) {
    const QRectF screen(0, 0, 1920, 1080);
    auto mainAt = [&](double x, double y) {
        const auto q = flipRectOnScreen(QRectF(x, y, 820, 560), screen);
        return WindowFrame{q.x(), q.y(), q.width(), q.height()};
    };
    auto ownYUp = [&] {
        const auto f = window.currentFrame;
        return flipRectOnScreen(QRectF(f.x, f.y, f.width, f.height), screen);
    };
    window.currentFrame = {0, 0, 239, 518};
    main.frame = mainAt(500, 300);
    open();
    EXPECT_EQ(ownYUp(), QRectF(261, 321, 239, 518));
    EXPECT_TRUE(controller->windowOpened());

    controller->onMainWindowMoved(mainAt(540, 290));
    EXPECT_EQ(ownYUp(), QRectF(301, 311, 239, 518));

    controller->close();
    // The main window passes moves on only while this reads true.
    EXPECT_FALSE(controller->windowOpened());
}

// The list never hides under the main window: without room on the left it
// goes to the right, and with room on neither side, to the wider one.
TEST_F(LocationsWindowTest, GoesWhereTheScreenHasRoomBesideTheMainWindow) {
    struct Row {
        const char* name;
        WindowFrame screen;
        double mainX;
        double ownX;
        double width = 239;
    };
    const Row rows[] = {
        {"room on the left", {0, 0, 1920, 1080}, 500, 261},
        {"main window at the left edge", {0, 0, 1920, 1080}, 0, 820},
        {"1024 wide, main window at the left edge", {0, 0, 1024, 700}, 0, 820},
        {"1024 wide, more room on the left", {0, 0, 1024, 700}, 200, -39},
        {"1024 wide, more room on the right", {0, 0, 1024, 700}, 100, 920},
        {"a second screen to the right", {1920, 0, 1280, 1024}, 1920, 2740},
        {"a wider window, room on the left", {0, 0, 1920, 1080}, 500, 230, 270},
        {"a wider window at the left edge", {0, 0, 1920, 1080}, 0, 820, 270},
    };
    for (const auto& row : rows) {
        window.currentFrame = {0, 0, row.width, 518};
        window.screenArea = row.screen;
        main.frame = WindowFrame{row.mainX, 100, 820, 560};
        controller->window();
        controller->onMainWindowMoved(*main.frame);
        EXPECT_EQ(window.currentFrame.x, row.ownX) << row.name;
    }
}

TEST_F(LocationsWindowTest, LeavesItsPlaceAloneWhereClientsCannotPlaceWindows) {
    canPlace = false;
    controller = std::make_shared<LocationsListWindowViewController>(LocationsListWindowEnvironment{
        context, window, view, queue, [this] { return &main; }, [this] { return pane; }, canPlace,
            [this] { return &intentsEngine.intents(); }});
    main.frame = WindowFrame{500, 300, 820, 560};
    const auto before = window.currentFrame;
    open();
    EXPECT_EQ(window.currentFrame, before);
}

TEST_F(LocationsWindowTest, ReloadsOnEachOpeningAndNothingIsSelectableBefore) {
    controller->window();  // loaded, never opened
    EXPECT_EQ(window.title(), "Locations") << "the name alone fits the narrow window's title bar";
    EXPECT_EQ(controller->tableViewModel().rowCount(), 0);
    const auto choices = main.choices.size();
    controller->onTableRowClicked(0);
    model.currentAutomaticLocation = jp;
    controller->onTableRowClicked(0);
    EXPECT_EQ(main.choices.size(), choices);
    EXPECT_TRUE(events.empty());

    open();
    expectRowsEqualModel();
    EXPECT_EQ(view.resets, 1);

    controller->close();
    list->items().front()->toggleFavoriteFlag();  // starred in the main window meanwhile
    list->rebuildLists();
    open();
    EXPECT_EQ(view.resets, 2);
    expectRowsEqualModel();
}

TEST_F(LocationsWindowTest, SelectsThePaneLocationOnceTheFirstTimeThePaneHasOne) {
    pane->shown = nullptr;
    open();
    EXPECT_FALSE(controller->locationSelected());
    EXPECT_TRUE(main.choices.empty());

    controller->close();
    pane->shown = jp;
    open();
    EXPECT_TRUE(controller->locationSelected());
    ASSERT_EQ(main.choices.size(), 1u);
    EXPECT_EQ(main.choices[0], std::make_tuple(std::string("Japan"), true, false));
    EXPECT_EQ(view.scrolledTo.back(), rowOf(jp));

    controller->close();
    open();
    EXPECT_EQ(main.choices.size(), 1u);
}

TEST_F(LocationsWindowTest, LockedOpeningCoversTheListAndRefusesEverything) {
    model.setVpnSettingsChangingDisabled(true);
    open();
    EXPECT_FALSE(view.overlayHidden);
    EXPECT_FALSE(view.searchEnabled);
    EXPECT_TRUE(view.scrollingDisabled);
    main.choices.clear();
    controller->onTableRowClicked(rowOf(jp));
    controller->doubleClickOnLocationsRow(rowOf(jp));
    controller->onFavoriteButtonClick(rowOf(jp));
    EXPECT_TRUE(main.choices.empty());
    EXPECT_EQ(intentsEngine.count("intents.connectOrEnd"), 0);
    EXPECT_FALSE(jp->isFavorite);

    controller->hideOverlayForLocationsTable();
    EXPECT_TRUE(view.overlayHidden);
    EXPECT_TRUE(view.searchEnabled);
    EXPECT_FALSE(view.scrollingDisabled);
    EXPECT_FALSE(model.vpnSettingsChangingDisabled());
}

TEST_F(LocationsWindowTest, ActivatingWithoutAPaneLocationOnlyReloads) {
    open();
    main.choices.clear();
    pane->shown = nullptr;
    const int resets = view.resets;
    controller->activateTableView();
    EXPECT_EQ(view.resets, resets + 1);
    EXPECT_TRUE(main.choices.empty());
}

// The gate itself is the main window's; this proves this window's road.
TEST_F(LocationsWindowTest, ChoicesReachTheMainWindowAndAnalyticsAndDoubleClicksThePane) {
    open();
    model.currentAutomaticLocation = us;
    main.choices.clear();
    controller->onTableRowClicked(rowOf(jp));
    controller->onTableRowClicked(0);
    EXPECT_EQ(main.choices, (std::vector<std::tuple<std::string, bool, bool>>{{"Japan", false, false},
                                                                              {"United States", false, true}}));
    EXPECT_TRUE(model.useAutomaticLocation());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].second->at("ap_location_id"), "Japan");
    EXPECT_EQ(events[1].second->at("ap_location_id"), "Automatic");

    controller->doubleClickOnLocationsRow(1);
    EXPECT_EQ(intentsEngine.count("intents.connectOrEnd"), 0);
    controller->doubleClickOnLocationsRow(rowOf(jp));
    EXPECT_EQ(intentsEngine.count("intents.connectOrEnd"), 1);
}

TEST_F(LocationsWindowTest, FavouritesMoveTheirRowAndScrollOnlyIntoFavourites) {
    open();
    // Into favourites: one row move, scrolled to its new row.
    view.scrolledTo.clear();
    const int from = rowOf(jp);
    controller->onFavoriteButtonClick(from);
    EXPECT_TRUE(jp->isFavorite);
    ASSERT_EQ(view.moves.size(), 1u);
    EXPECT_EQ(view.moves[0].first, from);
    EXPECT_EQ(view.scrolledTo, std::vector<int>{rowOf(jp)});
    expectRowsEqualModel();

    // Out again: moved back, no scroll.
    view.scrolledTo.clear();
    controller->onFavoriteButtonClick(rowOf(jp));
    EXPECT_FALSE(jp->isFavorite);
    EXPECT_EQ(view.moves.size(), 2u);
    EXPECT_TRUE(view.scrolledTo.empty());
    expectRowsEqualModel();

    // The last favourite leaves: its group goes, so a reset rather than a move.
    const int resets = view.resets;
    controller->onFavoriteButtonClick(rowOf(de));
    EXPECT_EQ(view.moves.size(), 2u);
    EXPECT_EQ(view.resets, resets + 1);
    expectRowsEqualModel();

    // A star outside the rows is ignored.
    controller->onFavoriteButtonClick(99);
    controller->onFavoriteButtonClick(0);
    expectRowsEqualModel();
}

TEST_F(LocationsWindowTest, FavouriteInAListOfOnlyFavouritesReloads) {
    open();
    view.type("Germ");
    const int resets = view.resets;
    controller->onFavoriteButtonClick(rowOf(de));
    controller->onFavoriteButtonClick(rowOf(de));
    ASSERT_TRUE(de->isFavorite);
    ASSERT_TRUE(controller->tableViewModel().containsOnlyFavorites());
    EXPECT_EQ(view.resets, resets + 2);
    EXPECT_TRUE(view.moves.empty());
    expectRowsEqualModel();
}

TEST_F(LocationsWindowTest, TooltipOpensOnTheIconAndClosesOnTheIconAClickOrAScroll) {
    open();
    auto icon = [&] { view.events->onAutomaticTooltipIcon_Click(); };
    const std::function<void()> closers[] = {icon, [&] { view.tooltipHandler(); },
                                             [&] { view.events->onTableViewScrolling(); }};
    for (const auto& close : closers) {
        view.tooltipFades.clear();
        icon();
        queue.runUntilIdle();
        ASSERT_TRUE(controller->automaticInfoTooltipShown());
        EXPECT_TRUE(view.scrollObserved);
        ASSERT_TRUE(view.tooltipHandler);
        close();
        queue.runUntilIdle();
        EXPECT_FALSE(controller->automaticInfoTooltipShown());
        EXPECT_FALSE(view.scrollObserved);
        EXPECT_FALSE(view.tooltipHandler);
        EXPECT_EQ(view.tooltipFades, (std::vector<std::pair<bool, double>>{{true, 1.0}, {false, 0.5}}));
    }
    view.tooltipFades.clear();
    view.events->onTableViewScrolling();  // hidden: nothing to close
    queue.runUntilIdle();
    EXPECT_TRUE(view.tooltipFades.empty());
}

TEST_F(LocationsWindowTest, SearchReloadsOnAChangeAndClearingScrollsBackToAListedLocation) {
    open();
    const int resets = view.resets;
    view.scrolledTo.clear();
    view.type("Jap");
    view.events->onSearchFieldChanged();  // Return in the field: same text
    EXPECT_EQ(view.resets, resets + 1);
    EXPECT_EQ(view.highlight, "Jap");
    expectRowsEqualModel();
    EXPECT_EQ(view.scrolledTo, std::vector<int>{1}) << "once, to where the results begin";

    view.scrolledTo.clear();
    view.events->clearSearchField();
    EXPECT_EQ(view.text, "");
    EXPECT_EQ(view.highlight, "");
    EXPECT_TRUE(view.focusDropped);
    EXPECT_EQ(view.placeholderCleared, 1);
    expectRowsEqualModel();
    queue.advance(99);
    EXPECT_TRUE(view.scrolledTo.empty());
    queue.advance(1);
    EXPECT_EQ(view.scrolledTo, std::vector<int>{rowOf(nl)});

    view.type("");  // unchanged: no reload, but the scroll back is queued
    pane->shown = place("Elsewhere");
    queue.advance(100);
    EXPECT_EQ(view.scrolledTo.size(), 1u);
}

}  // namespace
}  // namespace hw::test
