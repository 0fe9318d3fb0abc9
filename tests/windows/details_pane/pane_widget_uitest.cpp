// The pane's widget offscreen: slides, error-bar layouts, the hover popover,
// the button's title and the bars' partial redraws.
#include <gtest/gtest.h>

#include <QHelpEvent>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include "services/notification_bar_models.h"
#include "support/manual_animation_driver.h"
#include "support/widget_test_app.h"
#include "view/kit_color.h"
#include "view/kit_popover.h"
#include "view/top_bar/notification_bar_views.h"
#include "view/top_bar/top_bar_notification_area_controller.h"
#include "windows/details_pane/pane_fixture.h"
#include "windows/details_pane/widgets/connect_button.h"
#include "windows/details_pane/widgets/main_view_details_view.h"
#include "windows/login/widgets/login_window_views.h"

namespace hw::test {
namespace {

struct PaneWidgetTest : WidgetAppFirst, ::testing::Test {
    PaneWidgetTest() {
        view.resize(520, 512);
        MainViewDetailsEnvironment env{f.context, view, f.queue, f.engine, f.shell};
        pane = std::make_shared<MainViewDetailsAreaController>(std::move(env));
        pane->changeDetailsView(f.nl);
        f.queue.runUntilIdle();
        view.show();
    }
    ~PaneWidgetTest() override {
        ConnectButtonCallbacks::onMouseHoverDelayedCallback = nullptr;
        ConnectButtonCallbacks::onMouseExitedCallback = nullptr;
    }
    int y(PaneTopBar bar) { return view.topBarView(bar)->y(); }

    ManualAnimationDriver animations;
    PaneFixture f;
    RemoteImageLoader images{f.queue, f.queue, f.codec};
    MainViewDetailsView view{images};
    std::shared_ptr<MainViewDetailsAreaController> pane;
};

TEST_F(PaneWidgetTest, BarsSlideInFromSixtyAboveAndOutToFiftyAbove) {
    pane->showErrorNotificationBar("boom");
    animations.advance(0);
    EXPECT_EQ(y(PaneTopBar::error), -60);
    EXPECT_TRUE(view.topStrip()->isVisible());
    animations.advanceInSteps(250);
    EXPECT_EQ(y(PaneTopBar::error), 0);
    EXPECT_FALSE(view.topStrip()->isVisible());

    pane->hideErrorNotificationBar();
    EXPECT_TRUE(view.topStrip()->isVisible());
    animations.advanceInSteps(120);
    // A show during the slide-out wins: the bar comes back and stays.
    pane->showErrorNotificationBar("again");
    animations.advanceInSteps(400);
    EXPECT_EQ(y(PaneTopBar::error), 0);
    EXPECT_TRUE(view.topBarView(PaneTopBar::error)->isVisible());

    pane->hideErrorNotificationBar();
    animations.advanceInSteps(400);
    EXPECT_EQ(y(PaneTopBar::error), -50);
    EXPECT_FALSE(view.topBarView(PaneTopBar::error)->isVisible());
}

TEST_F(PaneWidgetTest, ErrorBarLayouts) {
    pane->showErrorNotificationBar("Please, try again or pick a ");
    auto* link = view.pickDifferentLocationLink();
    EXPECT_TRUE(link->isVisibleTo(&view));
    // The link completes the lower line, on its baseline, right after its text.
    EXPECT_EQ(link->y(), view.errorLowerText()->y());
    EXPECT_EQ(link->x(), view.errorLowerText()->x() +
                             view.errorLowerText()->fontMetrics().horizontalAdvance(view.errorLowerText()->text()));
    pane->showErrorNotificationBar(std::string(80, 'w'));
    EXPECT_FALSE(link->isVisibleTo(&view));
    EXPECT_FALSE(view.errorLowerText()->isVisibleTo(&view));
    EXPECT_TRUE(view.multiLineErrorLabel()->isVisibleTo(&view));
    EXPECT_EQ(view.multiLineErrorLabel()->font().pixelSize(), 11);
    EXPECT_LE(view.multiLineErrorLabel()->geometry().bottom(), view.topBarView(PaneTopBar::error)->height());
}

// A click on a bar's link reaches the link, not the text laid across the bar.
TEST_F(PaneWidgetTest, BarLinksTakeTheClickOverTheirText) {
    pane->showErrorNotificationBar("Please, try again or pick a ");
    pane->showUpdateTopNotificationBar();
    view.resize(521, 512);
    for (auto kind : {PaneTopBar::error, PaneTopBar::update}) {
        QWidget* bar = view.topBarView(kind);
        QPushButton* link = static_cast<LinkedNotificationBar*>(bar)->linkButton();
        EXPECT_EQ(bar->childAt(link->geometry().center()), link) << static_cast<int>(kind);
    }
}

TEST_F(PaneWidgetTest, ButtonTitleIsMovedByTheCellsOffsets) {
    auto* button = view.connectButton();
    EXPECT_EQ(button->titleRect(), QRectF(-26, -2, 184, 55));
    pane->connectButton().setToDisconnectState();
    EXPECT_EQ(button->titleRect(), QRectF(-24, -2, 184, 55));
}

// Ctrl+Return presses the button from anywhere in its window; the tooltip
// names the key beside what the button does now.
TEST_F(PaneWidgetTest, CtrlReturnPressesTheButtonAndItsTooltipNamesTheKey) {
    auto* button = view.connectButton();
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    QTest::keyClick(&view, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return clicks == 1; }, 2000));

    const QString key = ConnectButton::connectShortcut().toString(QKeySequence::NativeText);
    for (const bool disconnect : {false, true}) {
        if (disconnect) pane->connectButton().setToDisconnectState();
        QHelpEvent help(QEvent::ToolTip, QPoint(10, 10), button->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(button, &help);
        EXPECT_EQ(button->toolTip(), (disconnect ? "Disconnect (" : "Connect (") + key + ")");
    }
}

TEST_F(PaneWidgetTest, PopoverShowsOncePerRestInTheBandAndGoesOnAMove) {
    int shown = 0;
    ConnectButtonCallbacks::onMouseHoverDelayedCallback = [&] {
        ++shown;
        pane->showConnectButtonPopover();
    };
    ConnectButtonCallbacks::onMouseExitedCallback = [&] { pane->closeConnectButtonPopover(); };
    // The band and the rest are the model's; this proves the real button feeds it.
    auto* button = view.connectButton();
    QTest::mouseMove(button, QPoint(140, 20));
    f.queue.advance(3000);
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(view.connectButtonPopover()->isVisible());
    QTest::mouseMove(button, QPoint(141, 22));
    QTest::mouseMove(button, QPoint(143, 22));
    EXPECT_FALSE(view.connectButtonPopover()->isVisible());
    // The popover takes neither focus nor the mouse: the button keeps its pointer.
    EXPECT_TRUE(view.connectButtonPopover()->windowFlags().testFlag(Qt::ToolTip));
}

TEST_F(PaneWidgetTest, ArrowInTheHoverBandChangesLocationAndTheProtocolLinkOpensSettings) {
    auto* arrow = view.changeLocationInsideOfConnectButton();
    auto* button = view.connectButton();
    ASSERT_EQ(arrow->parentWidget(), button);
    const QRect at = arrow->geometry();
    EXPECT_EQ(at.left(), int(ConnectButtonModel::BUTTON_WIDTH) - 54);
    for (int x : {at.left(), at.right()})
        EXPECT_TRUE(ConnectButtonModel::inHoverBand({double(x), 20.0}, button->width())) << x;

    QTest::mouseClick(arrow, Qt::LeftButton);
    f.queue.runUntilIdle();
    EXPECT_EQ(f.shell.count("openLocationsWindow"), 1);
    EXPECT_TRUE(f.engine.connects.empty());
    EXPECT_EQ(pane->connectButtonState(), ConnectButtonStates::connect);

    QTest::mouseClick(view.changeProtocolLink(), Qt::LeftButton);
    EXPECT_EQ(f.shell.count("openSettingsWindowOnProtocol"), 1);
    EXPECT_EQ(f.shell.count("openLocationsWindow"), 1);
}

TEST_F(PaneWidgetTest, BottomBarClosesToTheGiftAndMovesTheCardForItsLine) {
    const int cardY = view.card()->y();
    pane->setupTopNotificationBar(nullptr, std::make_shared<BottomNotificationBarModel>(
                                               "Invite friends", "https://havenway.test/invite",
                                               "Invite friends and get a free month", nullptr));
    ASSERT_TRUE(view.bottomBar()->isVisible());
    EXPECT_LT(view.card()->geometry().bottom(), view.bottomBar()->y()) << "the card clears the line";
    EXPECT_LT(view.card()->y(), cardY);
    QTest::mouseClick(view.bottomBarCloseButton(), Qt::LeftButton);
    EXPECT_FALSE(view.bottomBar()->isVisible());
    EXPECT_TRUE(view.giftButton()->isVisible());
    EXPECT_EQ(view.card()->y(), cardY);
    QTest::mouseClick(view.giftButton(), Qt::LeftButton);
    EXPECT_TRUE(view.bottomBar()->isVisible());
    EXPECT_FALSE(view.giftButton()->isVisible());
}

// The dark map lands after its fade-in began; one whose fade-in a fade-out
// overtook is dropped, not drawn over the light map.
TEST_F(PaneWidgetTest, AConnectedMapLandingAfterItsFadeWasOvertakenIsDropped) {
    std::vector<MainViewDetailsView::MapImagesAnswer> asked;
    view.mapImages = [&](MainViewDetailsView::MapImagesAnswer answer) { asked.push_back(std::move(answer)); };
    QImage red(64, 64, QImage::Format_RGBA8888);
    red.fill(Qt::red);
    const auto centre = [&] {
        const QImage shown = view.darkMap()->grab().toImage();
        return shown.pixelColor(shown.width() / 2, shown.height() / 2);
    };
    view.crossFadeMaps(true, 0.25);
    view.crossFadeMaps(false, 0.25);
    view.crossFadeMaps(true, 0.25);
    animations.advanceInSteps(300);
    ASSERT_EQ(asked.size(), 2u);
    asked[0](red, red.size());
    EXPECT_NE(centre(), QColor(Qt::red));
    asked[1](red, red.size());
    EXPECT_EQ(centre(), QColor(Qt::red));
}

TEST(FlatColorViews, PartialRedrawFillsOnlyTheDirtyRectangle) {
    widgetTestApp();
    struct Row {
        std::function<QWidget*()> make;
        const char* fill;
    };
    const Row rows[] = {{[] { return new LoginWindow_ErrorSubview; }, "#dd5b5b"},
                        {[] { return new LoginViewInputFieldsBackground; }, "#efefef"},
                        {[] { return new FreeTrialSignUpView; }, "#15A9EA"},
                        {[] { return new ErrorNotificationsBar; }, "#EF8F8F"},
                        {[] { return new UpgradeAvailableNotificationsBar; }, "#B6E29C"},
                        {[] { return new MainViewTopNotificationArea; }, "#e7f3fe"},
                        {[] { return new ManViewErrorTopBar; }, "#FFF0F0"},
                        {[] { return new AutoReconnectOverlayView; }, "#000000"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fill);
        std::unique_ptr<QWidget> bar(row.make());
        bar->resize(100, 40);
        for (auto* child : bar->findChildren<QWidget*>()) child->hide();
        QImage image(100, 40, QImage::Format_ARGB32);
        image.fill(Qt::magenta);
        bar->render(&image, QPoint(), QRegion(10, 5, 20, 10), QWidget::RenderFlags());
        EXPECT_EQ(image.pixelColor(15, 8), kitColor(row.fill));
        EXPECT_EQ(image.pixelColor(50, 30), QColor(Qt::magenta));
    }
}

TEST(TopBarNotificationArea, SlidesDownFrom87AboveAndAShowStopsARunningHide) {
    widgetTestApp();
    ManualAnimationDriver animations;
    QWidget window;
    window.resize(600, 600);
    auto* bar = new ManViewErrorTopBar(&window);
    bar->setGeometry(0, 400, 600, 60);
    QLabel upper(bar), lower(bar);
    TopBarNotificationAreaController controller(*bar, upper, lower);
    controller.calculateFrames();
    EXPECT_EQ(controller.startFrame(), QRect(0, 313, 600, 60));
    EXPECT_EQ(controller.endFrame(), QRect(0, 400, 600, 60));
    window.show();
    bar->hide();
    controller.hideErrorNotificationBar();  // hidden: nothing runs
    animations.advanceInSteps(600);
    EXPECT_EQ(bar->geometry(), QRect(0, 400, 600, 60));

    controller.showErrorNotification("upper", "lower");
    EXPECT_EQ(upper.text(), "upper");
    animations.advanceInSteps(300);
    EXPECT_EQ(bar->geometry(), QRect(0, 400, 600, 60));
    controller.hideErrorNotificationBar();
    animations.advanceInSteps(200);
    controller.showErrorNotification("second", "line");
    animations.advanceInSteps(800);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->geometry(), QRect(0, 400, 600, 60));

    // Shown with skip: visible where it stands, without movement.
    controller.hideErrorNotificationBar();
    animations.advanceInSteps(600);
    EXPECT_FALSE(bar->isVisible());
    controller.animateBarShowing(true);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->geometry(), QRect(0, 313, 600, 60));
}

}  // namespace
}  // namespace hw::test
