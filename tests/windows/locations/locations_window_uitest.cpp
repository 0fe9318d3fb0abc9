// The locations window's widgets offscreen, beside a real main window.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QTest>
#include <QVariantAnimation>

#include "support/manual_animation_driver.h"
#include "support/widget_test_app.h"
#include "view/activity_indicator_with_image.h"
#include "view/color_fill_views.h"
#include "view/kit_color.h"
#include "windows/locations/locations_list_window_view_controller.h"
#include "windows/locations/widgets/locations_list_window_widget.h"
#include "windows/main/main_window_fixture.h"
#include "windows/main/widgets/main_window_widget.h"
#include "windows/shared/widgets/location_row_delegate.h"
#include "windows/shared/widgets/location_title_highlight.h"
#include "windows/shared/widgets/locations_search_field_main.h"
#include "windows/shared/widgets/locations_table_qt_model.h"
#include "windows/shared/widgets/locations_table_widget.h"
#include "windows/shared/widgets/locations_window_views.h"

namespace hw::test {
namespace {

struct LocationsWindowUi : WidgetAppFirst, MainWindowFixture, ::testing::Test {
    LocationsWindowUi() {
        LocationsListWindowViewController::windowOpenedFlag = false;
        // A fourth location keeps every group filled when one location changes group.
        list = std::make_shared<LocationsListModel>(
            std::vector<LocationsListItemPtr>{nl, jp, us, location("de", "Germany")});
        locations = std::make_shared<LocationsListWindowViewController>(LocationsListWindowEnvironment{
            context, window, window, queue, [this] { return main.get(); }, [this] { return pane; }, true});
        main = makeController(mainWidget, mainWidget, locations.get());
        main->showWindow();
        main->setupMainView(list, {});
        drain();
        pane->shown = nl;
        locations->showWindow();
        drain();
        mainTester = std::make_unique<QAbstractItemModelTester>(mainWidget.tableModel(),
                                                                 QAbstractItemModelTester::FailureReportingMode::Fatal);
        ownTester = std::make_unique<QAbstractItemModelTester>(window.tableModel(),
                                                                QAbstractItemModelTester::FailureReportingMode::Fatal);
    }
    ~LocationsWindowUi() override {
        mainTester.reset();
        ownTester.reset();
        locations.reset();
        main.reset();
        LocationsListWindowViewController::windowOpenedFlag = false;
    }

    int ownRows() { return window.tableModel()->rowCount(); }
    int mainRows() { return mainWidget.tableModel()->rowCount(); }
    int rowsOfList() { return static_cast<int>(list->listWithGroups().size()) + 1; }
    QRect ownRect(int row) { return window.table().visualRect(window.tableModel()->index(row)); }
    void star(int row) {
        QTest::mouseClick(window.table().viewport(), Qt::LeftButton, {},
                          LocationRowDelegate::starHitRect(ownRect(row)).center());
    }

    MainWindowWidget mainWidget{images};
    LocationsListWindowWidget window{images};
    std::shared_ptr<MainWindowViewController> main;
    std::shared_ptr<LocationsListWindowViewController> locations;
    std::unique_ptr<QAbstractItemModelTester> mainTester;
    std::unique_ptr<QAbstractItemModelTester> ownTester;
};

TEST_F(LocationsWindowUi, AStarredRowTravelsToItsNewPlace) {
    ManualAnimationDriver animations;
    star(*locations->tableViewModel().rowOfItem(nl.get()));  // the favourites group now exists
    animations.advanceInSteps(LocationsTableWidget::kMoveMs + 50);
    const QRect from = ownRect(*locations->tableViewModel().rowOfItem(jp.get()));
    star(*locations->tableViewModel().rowOfItem(jp.get()));
    const QRect to = ownRect(*locations->tableViewModel().rowOfItem(jp.get()));
    ASSERT_NE(from.top(), to.top());
    QWidget* moving = window.table().movingRow();
    ASSERT_TRUE(moving);
    animations.advance(0);
    EXPECT_EQ(moving->y(), from.top());
    animations.advanceInSteps(LocationsTableWidget::kMoveMs / 2);
    EXPECT_GT(moving->y(), std::min(from.top(), to.top()));
    EXPECT_LT(moving->y(), std::max(from.top(), to.top()));
    animations.advanceInSteps(LocationsTableWidget::kMoveMs);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window.table().movingRow()) << "the picture leaves once the row has arrived";
}

TEST_F(LocationsWindowUi, EachWindowKeepsItsRowsUntilItsOwnReload) {
    ASSERT_EQ(ownRows(), rowsOfList());
    const int full = ownRows();

    // Typed here: this window filters; the main window keeps its copy.
    QTest::keyClicks(&window.searchField(), "Jap");
    EXPECT_LT(ownRows(), full);
    EXPECT_EQ(mainRows(), full);
    // Its own reload (on connecting, say) keeps it whole as well.
    main->reloadTableData();
    EXPECT_EQ(mainRows(), full);

    // Cleared with the field's own button road.
    locations->clearSearchField();
    EXPECT_EQ(ownRows(), full);
    EXPECT_TRUE(window.searchField().text().isEmpty());

    // A star here moves the row (the favourites group exists already, so
    // nothing else changes); the main window is consistent once it reloads.
    star(*locations->tableViewModel().rowOfItem(nl.get()));
    ASSERT_TRUE(nl->isFavorite);
    int moves = 0;
    QObject::connect(window.tableModel(), &QAbstractItemModel::rowsMoved, [&moves] { ++moves; });
    star(*locations->tableViewModel().rowOfItem(jp.get()));
    EXPECT_TRUE(jp->isFavorite);
    EXPECT_EQ(moves, 1);
    EXPECT_EQ(ownRows(), rowsOfList());
    for (int row = 1; row < ownRows(); ++row)
        EXPECT_EQ(locations->tableViewModel().itemAtRow(row), list->listWithGroups()[std::size_t(row - 1)]);
    main->reloadTableData();
    EXPECT_EQ(mainRows(), ownRows());

    // A star in the main window; this window catches up at its reload.
    main->onFavoriteButtonClick(*main->tableViewModel().rowOfItem(jp.get()));
    EXPECT_FALSE(jp->isFavorite);
    locations->reloadTableData();
    EXPECT_EQ(ownRows(), rowsOfList());
}

// Where the match lies is the pure function's; this proves it is drawn heavier.
TEST_F(LocationsWindowUi, TitlesEmphasiseTheMatch) {
    const auto formats = locationTitleFormats("Banana", "AN");
    ASSERT_EQ(formats.size(), 2);
    EXPECT_GT(formats[1].format.font().weight(), formats[0].format.font().weight());
    EXPECT_EQ(locationTitleFormats("Banana", "xyz").size(), 1);
}

TEST_F(LocationsWindowUi, InfoIconOpensTheTooltipAndAClickOnItsTextClosesIt) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect icon = window.infoIconRect();
    ASSERT_FALSE(icon.isEmpty());
    QTest::mouseClick(window.table().viewport(), Qt::LeftButton, {}, icon.center());
    drain();
    EXPECT_TRUE(locations->automaticInfoTooltipShown());
    EXPECT_TRUE(window.tooltip().isVisible());
    EXPECT_FALSE(model.useAutomaticLocation());  // the icon is not a choice of the row

    auto* text = window.tooltip().findChild<AutomaticLocationTooltipTextView*>();
    ASSERT_TRUE(text);
    QTest::mouseClick(text, Qt::LeftButton, {}, text->rect().center());
    drain();
    EXPECT_FALSE(locations->automaticInfoTooltipShown());
}

TEST_F(LocationsWindowUi, ClearButtonEmptiesTheFieldAndDropsFocus) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto& field = window.searchField();
    field.setFocus();
    QTest::keyClicks(&field, "Jap");
    auto* clear = field.findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction"));
    ASSERT_TRUE(clear);
    clear->trigger();
    EXPECT_TRUE(field.text().isEmpty());
    EXPECT_FALSE(field.hasFocus());
    EXPECT_EQ(field.placeholderText().toStdString(), "Search for a Location...");
    EXPECT_EQ(ownRows(), rowsOfList());
    EXPECT_EQ(list->searchString(), "");
}

TEST_F(LocationsWindowUi, LockDisablesTheFieldAndCoversTheList) {
    model.setVpnSettingsChangingDisabled(true);
    drain();
    EXPECT_FALSE(window.searchField().isEnabled());
    EXPECT_FALSE(window.overlay().isHidden());
    EXPECT_TRUE(window.table().scrollingDisabled());
    model.setVpnSettingsChangingDisabled(false);
    drain();
    EXPECT_TRUE(window.searchField().isEnabled());
    EXPECT_TRUE(window.overlay().isHidden());
}

QImage rendered(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

TEST_F(LocationsWindowUi, FlagRingIsDrawnOnlyWithAnImage) {
    LocationItemFlagImage flag;
    flag.resize(40, 40);
    auto empty = rendered(flag);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(qAlpha(empty.pixel(x, y)), 0) << x << "," << y;

    QImage red(8, 8, QImage::Format_ARGB32);
    red.fill(Qt::red);
    flag.setImage(red);
    auto drawn = rendered(flag);
    // Anchored at the bottom-left: the ring spans x 0..30, y 10..40.
    EXPECT_EQ(QColor(drawn.pixel(15, 25)), QColor(Qt::red));
    const QColor ring(drawn.pixel(15, 10));
    EXPECT_GT(ring.alpha(), 0);
    EXPECT_EQ(ring.red(), ring.blue());
    EXPECT_EQ(qAlpha(drawn.pixel(15, 5)), 0);
    EXPECT_EQ(qAlpha(drawn.pixel(35, 25)), 0);

    // The rows draw their flags the same way: before its file arrives, no ring.
    const int row = *locations->tableViewModel().rowOfItem(jp.get());
    ASSERT_TRUE(window.tableModel()->index(row).data(LocationsTableQtModel::FlagRole).value<QImage>().isNull());
    const QImage table = rendered(*window.table().viewport());
    const QRect at = LocationRowDelegate::flagRect(ownRect(row));
    for (const QPoint p : {at.center(), QPoint(at.left() + 1, at.center().y())})
        EXPECT_NE(QColor(table.pixel(p)), QColor(LocationItemFlagImage::kRingColor)) << p.x() << "," << p.y();
}

// The chosen row's shade differs little from the others': a bar at its left
// edge marks it, on that row alone, in both windows' lists.
TEST_F(LocationsWindowUi, TheChosenRowCarriesABarAtItsEdge) {
    const QColor bar = kitColor("#15A9EA");
    const int chosen = *locations->tableViewModel().rowOfItem(nl.get());
    const int other = *locations->tableViewModel().rowOfItem(jp.get());
    ASSERT_TRUE(window.tableModel()->index(chosen).data(LocationsTableQtModel::SelectedRole).toBool());
    const QImage table = rendered(*window.table().viewport());
    for (int row : {chosen, other}) {
        const QRect r = ownRect(row);
        EXPECT_EQ(QColor(table.pixel(r.left() + 1, r.center().y())) == bar, row == chosen) << row;
        EXPECT_NE(QColor(table.pixel(r.left() + 6, r.center().y())), bar) << "a thin bar only";
    }
}

TEST_F(LocationsWindowUi, SpinnerRunsOneAnimationAfterTwoStarts) {
    ActivityIndicatorWithImage spinner;
    spinner.startRotationAnimation();
    spinner.startRotationAnimation();
    const auto animations = spinner.findChildren<QVariantAnimation*>();
    EXPECT_EQ(animations.size(), 1);
    spinner.stopRotationAnimation();
    EXPECT_TRUE(spinner.findChildren<QVariantAnimation*>().isEmpty());
}

}  // namespace
}  // namespace hw::test
