// The welcome and sign-up windows offscreen, driven by their real controllers.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "services/free_trial_sign_up_service.h"
#include "support/manual_animation_driver.h"
#include "support/widget_test_app.h"
#include "view/bf_page_control.h"
#include "view/page_container.h"
#include "view/svg_raster.h"
#include "windows/login/auth_window_fixture.h"
#include "windows/login/widgets/auth_window_widget.h"
#include "windows/sign_up/free_trial_sign_up_window_controller.h"
#include "windows/sign_up/widgets/free_trial_sign_up_window_widget.h"
#include "windows/welcome/welcome_window_view_controller.h"
#include "windows/welcome/widgets/welcome_window_widget.h"

namespace hw::test {
namespace {

class WelcomeWidgetTest : public WidgetAppFirst, public ModelFixture {
protected:
    WelcomeWidgetTest() {
        controller = std::make_unique<WelcomeWindowViewController>(
            context, widget, widget, WelcomeDependencies{shell, [] {
                return std::optional<std::string>(R"({"pages":[{"identifier":"1"},{"identifier":"2"},{"identifier":"3"}]})");
            }});
        widget.pageAt = [this](std::size_t index) {
            return controller->viewControllerForIdentifier(controller->identifierForObject(index)).customView;
        };
        controller->showWindow();
    }
    ~WelcomeWidgetTest() override { controller.reset(); }
    QWidget* page(std::size_t index) { return widget.pages().pageAt(index); }
    void drag(int fromX, int toX) {
        QWidget& strip = widget.pages();
        const int y = strip.height() / 2;
        QTest::mousePress(&strip, Qt::LeftButton, {}, QPoint(fromX, y));
        QTest::mouseMove(&strip, QPoint(fromX + (toX > fromX ? 10 : -10), y));
        QTest::mouseMove(&strip, QPoint(toX, y));
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, QPoint(toX, y));
        animations.advanceInSteps(PageContainer::kSlideMs + 50);
    }

    ManualAnimationDriver animations;
    RecordingURLOpener opener;
    BaseControllerContext context{*model, nullptr, opener};
    AuthShellCommands shell;
    WelcomeWindowWidget widget;
    std::unique_ptr<WelcomeWindowViewController> controller;
};

// The build draws every page's picture for the box the page asks and for 1x
// and 2x screens: each must be the very picture the SVG draws there.
TEST(WelcomePictures, EveryPageIsPredrawnAsItsSvgDraws) {
    WelcomeWindowWidget::registerResources();
    QFile list(QStringLiteral(":/onboarding/pages.json"));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    const QJsonArray pages = QJsonDocument::fromJson(list.readAll()).object().value("pages").toArray();
    ASSERT_FALSE(pages.isEmpty());
    const QSize box(120, 120);
    for (const auto& page : pages) {
        const QString path = page.toObject().value("image").toString();
        for (const qreal scale : {1.0, 2.0}) {
            const QImage drawn = prerenderedSvg(path, box, scale);
            ASSERT_FALSE(drawn.isNull()) << path.toStdString() << " @" << scale;
            EXPECT_EQ(drawn, rasterizeSvg(path, box, scale)) << path.toStdString() << " @" << scale;
        }
        // Other ratios and boxes are drawn when asked.
        EXPECT_TRUE(prerenderedSvg(path, box, 1.5).isNull());
        EXPECT_TRUE(prerenderedSvg(path, QSize(60, 60), 1.0).isNull());
    }
}

TEST(WelcomePictures, ADamagedPredrawnPictureIsRefused) {
    QImage image(3, 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::red);
    const QByteArray whole = encodePrerendered(image);
    struct Row {
        const char* what;
        QByteArray data;
    };
    QByteArray wrongMagic = whole;
    wrongMagic[0] = 'X';
    QByteArray huge = whole;
    huge[7] = char(0x7f);  // width far beyond any picture
    const Row rows[] = {
        {"cut short", whole.left(whole.size() - 1)},
        {"too long", whole + QByteArray(1, '\0')},
        {"no header", whole.left(6)},
        {"another format", wrongMagic},
        {"absurd size", huge},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_TRUE(decodePrerendered(row.data).isNull());
    }
    EXPECT_EQ(decodePrerendered(whole), image);
}

TEST_F(WelcomeWidgetTest, NextSlidesAndSettlesOnTheNextPage) {
    QTest::mouseClick(&widget.nextButton(), Qt::LeftButton);
    animations.advanceInSteps(PageContainer::kSlideMs / 2);
    EXPECT_TRUE(widget.pages().isTransitioning());
    EXPECT_LT(page(1)->x(), widget.width()) << "the next page comes in";
    animations.advanceInSteps(PageContainer::kSlideMs);
    EXPECT_FALSE(widget.pages().isTransitioning());
    EXPECT_EQ(page(1)->geometry(), QRect(QPoint(0, 0), widget.pages().size()));
    EXPECT_FALSE(page(1)->isHidden());
    EXPECT_TRUE(page(0)->isHidden());
    EXPECT_EQ(widget.dots().currentPage(), 1);
    EXPECT_EQ(controller->pageItemsArrayController().selectionIndex(), 1u);
}

TEST_F(WelcomeWidgetTest, ADragBackPastAThirdReturnsAndShowsTheFirstPageAgain) {
    QTest::mouseClick(&widget.nextButton(), Qt::LeftButton);
    animations.advanceInSteps(PageContainer::kSlideMs + 50);
    drag(50, 50 + widget.pages().width() / 2);
    EXPECT_EQ(widget.selectedIndex(), 0u);
    EXPECT_FALSE(page(0)->isHidden()) << "hidden when the swipe began, shown where it lands";
    EXPECT_EQ(widget.dots().currentPage(), 0);
}

TEST_F(WelcomeWidgetTest, AShortDragSnapsBackAndADotClickJumpsWithoutSliding) {
    drag(300, 260);
    EXPECT_EQ(widget.selectedIndex(), 0u);

    BFPageControl& dots = widget.dots();
    QTest::mouseClick(&dots, Qt::LeftButton, {}, dots.dotRects()[2].center().toPoint());
    EXPECT_FALSE(widget.pages().isTransitioning());
    EXPECT_EQ(widget.selectedIndex(), 2u);
    QTest::mouseClick(&widget.nextButton(), Qt::LeftButton);
    EXPECT_EQ(shell.count("skipWelcomePage"), 1) << "Next on the last page hands over";
}

TEST_F(WelcomeWidgetTest, DotsStandAboveTheBottomInQtCoordinates) {
    EXPECT_EQ(welcomeDotsRect(PageDotsFrame{174.0, 110.0, 52.0, 7.0}, 500.0), QRectF(174.0, 383.0, 52.0, 7.0));
    // Three pages: 37 wide at x 181.5, which a widget can only round.
    EXPECT_EQ(widget.dots().geometry(), QRect(182, 383, 37, 7));
}

// The shell's two hand-overs between the windows, as the application delegate does them.
class RoundTripShell final : public AuthShellCommands {
public:
    std::function<void()> toSignUp, toLogin, closeSignUp;
    void openFreeTrialSignUpWindow() override { toSignUp(); }
    void hideFreeTrialSignUpWindow() override { closeSignUp(); }
    void openAuthWindow() override { toLogin(); }
};

class SignUpWidgetTest : public WidgetAppFirst, public AuthWindowFixture {
protected:
    SignUpWidgetTest() {
        secrets.writeString("svc", "appID", "UUID-1");
        signUp = std::make_unique<FreeTrialSignUpWindowController>(
            context, signUpWidget, signUpWidget,
            FreeTrialSignUpDependencies{service, auth, links, queue, roundTrip, nullptr, nullptr});
    }
    ~SignUpWidgetTest() override {
        signUp.reset();
        controller.reset();
    }
    QLineEdit* field(SignUpPart p) { return static_cast<QLineEdit*>(signUpWidget.part(p)); }
    void enterInEmail() {
        field(SignUpPart::emailAddressField)->setFocus();
        QTest::keyClick(field(SignUpPart::emailAddressField), Qt::Key_Return);
    }

    ManualAnimationDriver animations;
    UUIDHelper uuid{secrets, system, "svc"};
    FreeTrialSignUpService service{*client, http, uuid, queue};
    RoundTripShell roundTrip;
    AuthWindowWidget loginWidget;
    FreeTrialSignUpWindowWidget signUpWidget;
    std::unique_ptr<FreeTrialSignUpWindowController> signUp;
};

TEST_F(SignUpWidgetTest, EnterInTheEmailFieldMovesToTheVisiblePasswordField) {
    signUp->showWindow();
    QApplication::setActiveWindow(&signUpWidget);
    enterInEmail();
    EXPECT_TRUE(field(SignUpPart::passwordField)->hasFocus());

    QTest::keyClicks(field(SignUpPart::passwordField), "abcdef");
    QTest::mouseClick(signUpWidget.part(SignUpPart::revealPasswordButton), Qt::LeftButton);
    EXPECT_EQ(field(SignUpPart::passwordRevealedField)->text(), "abcdef");
    enterInEmail();
    EXPECT_TRUE(field(SignUpPart::passwordRevealedField)->hasFocus());
}

TEST_F(SignUpWidgetTest, LoginToSignUpAndBackThreeTimesKeepsBothWindowsWhereTheyWere) {
    controller = std::make_unique<AuthWindowViewController>(
        context, loginWidget, loginWidget, AuthWindowDependencies{auth, links, queue, roundTrip}, false);
    roundTrip.toSignUp = [this] {
        model->loginWindowFrame = loginWidget.frame();
        controller->orderOut();
        queue.post([this] { signUp->showWindow(); });
    };
    roundTrip.closeSignUp = [this] { queue.post([this] { signUp->close(); }); };
    roundTrip.toLogin = [this] { controller->showWindow(); };

    controller->showWindow();
    loginWidget.setFrame(WindowFrame{120, 90, 380, 640});
    queue.runUntilIdle();
    const QRect login = loginWidget.geometry();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        roundTrip.openFreeTrialSignUpWindow();
        queue.runUntilIdle();
        ASSERT_TRUE(signUpWidget.isVisible());
        EXPECT_EQ(signUpWidget.geometry(), login);
        QTest::mouseClick(signUpWidget.part(SignUpPart::existingUserButton), Qt::LeftButton);
        queue.runUntilIdle();
        EXPECT_FALSE(signUpWidget.isVisible());
        EXPECT_EQ(loginWidget.geometry(), login);
    }
}

}  // namespace
}  // namespace hw::test
