// The main window's widgets offscreen, driven as a user would.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QListView>
#include <QSignalSpy>
#include <QTest>

#include "main_window_fixture.h"
#include "support/widget_test_app.h"
#include "windows/main/widgets/main_window_small_views.h"
#include "windows/main/widgets/main_window_widget.h"
#include "windows/main/widgets/profile_menu_popover.h"
#include "windows/main/widgets/smart_widget_view.h"
#include "windows/shared/widgets/location_row_delegate.h"
#include "windows/shared/widgets/locations_search_field_main.h"
#include "windows/shared/widgets/locations_table_qt_model.h"
#include "windows/shared/widgets/locations_table_widget.h"

namespace hw::test {
namespace {

struct MainWindowUi : WidgetAppFirst, MainWindowFixture, ::testing::Test {
    MainWindowUi() {
        jp->flag = fileWith("https://f/jp.png", "IMG:8x8");
        nl->flag = fileWith("https://f/nl.png", "IMG:8x8");
        controller = makeController(widget, widget);
        controller->showWindow();
        controller->setupMainView(list, {});
        drain();
    }
    ~MainWindowUi() override { controller.reset(); }

    QRect rowRect(int row) const { return widget.table()->visualRect(widget.tableModel()->index(row)); }
    void click(int row) { QTest::mouseClick(widget.table()->viewport(), Qt::LeftButton, {}, rowRect(row).center()); }

    MainWindowWidget widget{images};
};

TEST_F(MainWindowUi, ClicksAndKeysGoThroughTheGate) {
    click(rowOf(jp));
    EXPECT_EQ(model.currentLocation(), jp);
    EXPECT_EQ(events.size(), 1u);
    click(1);  // a header
    EXPECT_EQ(model.currentLocation(), jp);

    // Down from the recommended location skips the next header; Up comes back.
    click(rowOf(us));
    widget.table()->setFocus();
    QTest::keyClick(widget.table(), Qt::Key_Down);
    ASSERT_TRUE(widget.table()->model());
    EXPECT_EQ(model.currentLocation(), controller->tableViewModel().itemAtRow(rowOf(us) + 2));
    QTest::keyClick(widget.table(), Qt::Key_Up);
    EXPECT_EQ(model.currentLocation(), us);
    const auto selected = widget.tableModel()->index(rowOf(us));
    EXPECT_TRUE(widget.tableModel()->data(selected, LocationsTableQtModel::SelectedRole).toBool());
}

TEST_F(MainWindowUi, StarAndDoubleClick) {
    const QRect star = LocationRowDelegate::starHitRect(rowRect(rowOf(us)));
    QTest::mouseClick(widget.table()->viewport(), Qt::LeftButton, {}, star.center());
    EXPECT_TRUE(us->isFavorite);
    EXPECT_EQ(widget.tableModel()->data(widget.tableModel()->index(1), Qt::DisplayRole).toString(), "Favorites");

    QTest::mouseDClick(widget.table()->viewport(), Qt::LeftButton, {}, rowRect(rowOf(jp)).center());
    EXPECT_EQ(engine.count("intents.connectOrEnd"), 1);
    QTest::mouseDClick(widget.table()->viewport(), Qt::LeftButton, {}, rowRect(1).center());
    EXPECT_EQ(engine.count("intents.connectOrEnd"), 1);
}

TEST_F(MainWindowUi, FlagSitsOnTheDrawnMapAndAnswersClicks) {
    FlagPlacement placement = *flagPlacement(DrawnMap{10, 20, 400, 200}, 0.5, 0.25);
    widget.placeFlag(std::make_shared<Image>(FakeImageCodec::image(8, 8)), placement);
    EXPECT_EQ(widget.flag()->geometry().center(), QPoint(210, 70));
    EXPECT_EQ(widget.flagRing()->geometry().center(), widget.flag()->geometry().center());
    EXPECT_EQ(widget.flag()->cursor().shape(), Qt::PointingHandCursor);

    QTest::mouseClick(widget.flag(), Qt::LeftButton);
    queue.runUntilIdle();
    EXPECT_EQ(shell.count("openLocationsWindow"), 1);
    controller->close();
    EXPECT_EQ(shell.calls.back(), "hideLocationsWindow");
    QTest::mouseClick(widget.flag(), Qt::LeftButton);
    queue.runUntilIdle();
    EXPECT_EQ(shell.count("openLocationsWindow"), 1);
}

TEST_F(MainWindowUi, ProfilePopoverOpensBelowTheButtonAndClosesAfterItsCommand) {
    widget.move(100, 100);
    QTest::mouseClick(widget.profileButton(), Qt::LeftButton);
    auto* popover = widget.profilePopover();
    ASSERT_TRUE(popover->isVisible());
    const QPoint buttonBottom = widget.profileButton()->mapToGlobal(QPoint(0, widget.profileButton()->height()));
    EXPECT_GT(popover->geometry().top(), buttonBottom.y());
    EXPECT_LE(popover->geometry().right(), widget.geometry().right());
    QTest::mouseClick(popover, Qt::LeftButton, {}, popover->rowRect(2).center());
    EXPECT_FALSE(popover->isVisible());
    EXPECT_EQ(shell.calls.back(), "openSettingsWindow:0");
}

// Return does on the chosen row what a double click does, Space what a click
// on its star does.
TEST_F(MainWindowUi, ReturnConnectsTheChosenRowAndSpaceStarsIt) {
    click(rowOf(jp));
    widget.table()->setFocus();
    QTest::keyClick(widget.table(), Qt::Key_Return);
    EXPECT_EQ(engine.count("intents.connectOrEnd"), 1);
    QTest::keyClick(widget.table(), Qt::Key_Space);
    EXPECT_TRUE(jp->isFavorite);
    QTest::keyClick(widget.table(), Qt::Key_Space);
    EXPECT_FALSE(jp->isFavorite) << "Space again takes the star back";

}

TEST_F(MainWindowUi, TheProfileMenuTakesTheArrowsAndReturnAndTheFlagReturnOrSpace) {
    widget.move(100, 100);
    widget.profileButton()->setFocus();
    QTest::keyClick(widget.profileButton(), Qt::Key_Space);
    auto* popover = widget.profilePopover();
    ASSERT_TRUE(popover->isVisible());
    EXPECT_EQ(popover->highlightedRow(), -1);
    // From the last row Down wraps to the first; Up goes back round.
    for (const auto key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Up, Qt::Key_Up}) QTest::keyClick(popover, key);
    EXPECT_EQ(popover->highlightedRow(), 2);
    QTest::keyClick(popover, Qt::Key_Return);
    EXPECT_FALSE(popover->isVisible());
    EXPECT_EQ(shell.calls.back(), "openSettingsWindow:0");

    FlagPlacement placement = *flagPlacement(DrawnMap{10, 20, 400, 200}, 0.5, 0.25);
    widget.placeFlag(std::make_shared<Image>(FakeImageCodec::image(8, 8)), placement);
    EXPECT_TRUE(widget.flag()->focusPolicy() & Qt::TabFocus);
    QTest::keyClick(widget.flag(), Qt::Key_Return);
    queue.runUntilIdle();
    EXPECT_EQ(shell.count("openLocationsWindow"), 1);
}

TEST_F(MainWindowUi, TileRunsItsHandlerOnceAndPassesClicksOnWithoutOne) {
    SmartWidgetView tile;
    tile.resize(300, 86);
    int runs = 0;
    tile.mouseDownHandler = [&] { ++runs; };
    QTest::mouseClick(&tile, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(runs, 1);
    tile.mouseDownHandler = nullptr;
    QTest::mouseClick(&tile, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(runs, 1);
}

TEST_F(MainWindowUi, SearchPlaceholderOnlyWithoutFocus) {
    auto* field = widget.searchField();
    widget.activateWindow();
    EXPECT_EQ(field->placeholderText(), "Search for a Location...");
    field->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(field->hasFocus());
    EXPECT_TRUE(field->placeholderText().isEmpty());
    widget.table()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(field->placeholderText(), "Search for a Location...");

    QTest::keyClicks(field, "jap");
    EXPECT_EQ(widget.tableModel()->rowCount(), 3);
}

TEST_F(MainWindowUi, QtModelStaysConsistentThroughSearchesStarsAndReloads) {
    QAbstractItemModelTester tester(widget.tableModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QTest::keyClicks(widget.searchField(), "a");
    controller->onFavoriteButtonClick(rowOf(us));
    widget.searchField()->clear();
    controller->onFavoriteButtonClick(rowOf(jp));
    controller->reloadTableData();
    controller->updateTableData(std::make_shared<LocationsListModel>(std::vector<LocationsListItemPtr>{}));
    EXPECT_EQ(widget.tableModel()->rowCount(), 1);
    controller->updateTableData(list);
    drain();
    EXPECT_EQ(widget.tableModel()->rowCount(), 6);
    // Flags are asked for when a row is drawn, and repaint only the rows that show that file.
    QSignalSpy changed(widget.tableModel(), &QAbstractItemModel::dataChanged);
    widget.tableModel()->data(widget.tableModel()->index(rowOf(jp)), LocationsTableQtModel::FlagRole);
    drain();
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), rowOf(jp));
    // Locking the settings repaints every star.
    model.setVpnSettingsChangingDisabled(true);
    ASSERT_EQ(changed.size(), 2);
    EXPECT_EQ(changed[1][1].toModelIndex().row(), widget.tableModel()->rowCount() - 1);
    EXPECT_FALSE(widget.tableModel()->data(widget.tableModel()->index(2), LocationsTableQtModel::StarEnabledRole).toBool());
    EXPECT_TRUE(widget.tableModel()->data(widget.tableModel()->index(rowOf(nl)), LocationsTableQtModel::FlagRole)
                    .value<QImage>()
                    .isNull());
    EXPECT_FALSE(widget.tableModel()->data(widget.tableModel()->index(rowOf(jp)), LocationsTableQtModel::FlagRole)
                     .value<QImage>()
                     .isNull());
}

}  // namespace
}  // namespace hw::test
