#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include "support/fake_settings_store.h"
#include "support/manual_animation_driver.h"
#include "support/recording_tabbar_delegate.h"
#include "support/recording_url_opener.h"
#include "support/widget_test_app.h"
#include "view/activity_indicator_with_image.h"
#include "view/bf_page_control.h"
#include "view/color_fill_views.h"
#include "view/do_tabbar_view.h"
#include "view/hyperlink_text_field.h"
#include "view/kit_controls.h"
#include "view/kit_fades.h"
#include "view/user_defaults_bindings.h"

namespace hw::test {
namespace {

class KitWidgets : public ::testing::Test, public WidgetAppFirst {};

// The centre of the first character of the link, found by scanning the field.
QPoint pointOnLink(const HyperlinkTextField& field) {
    for (int x = 0; x < field.width(); ++x)
        if (!field.linkAt(QPoint(x, field.height() / 2)).empty()) return {x + 2, field.height() / 2};
    return {-1, -1};
}

TEST_F(KitWidgets, LinkClickOpensUnlessDeactivated) {
    RecordingURLOpener opener;
    MixedNSTextFieldWithHyperlink field;
    field.setURLOpener(&opener);
    field.resize(400, 30);
    field.applyTextWithLink("Read our ", URLModel("https://havenway.test/terms", "terms"), " first.");
    field.show();
    const QPoint onLink = pointOnLink(field);
    ASSERT_GE(onLink.x(), 0);

    QTest::mouseClick(&field, Qt::LeftButton, {}, QPoint(2, 15));
    EXPECT_TRUE(opener.opened.empty());
    QTest::mouseClick(&field, Qt::LeftButton, {}, onLink);
    EXPECT_EQ(opener.opened, std::vector<std::string>{"https://havenway.test/terms"});

    field.deactivated = true;
    QTest::mouseClick(&field, Qt::LeftButton, {}, onLink);
    EXPECT_EQ(opener.opened.size(), 1u);
}

TEST_F(KitWidgets, RefusedSchemesNeverReachTheDesktop) {
    RecordingURLOpener opener;
    NSLabelWithHyperlink field;
    field.setURLOpener(&opener);
    field.resize(300, 30);
    setHyperlinkUnderlined(field, URLModel("file:///etc/shadow", "Click here."), Color{1, 1, 1, 1});
    field.show();
    QTest::mouseClick(&field, Qt::LeftButton, {}, pointOnLink(field));
    EXPECT_TRUE(opener.opened.empty());
}

TEST_F(KitWidgets, ServerTextShowsAsTyped) {
    MixedNSTextFieldWithHyperlink field;
    field.applyPlainText("<b>50% off</b> <a href='x'>now</a>");
    EXPECT_EQ(field.stringValue(), "<b>50% off</b> <a href='x'>now</a>");
    field.resize(500, 30);
    EXPECT_TRUE(field.linkAt(QPoint(250, 15)).empty());
}

TEST_F(KitWidgets, PlaceholderShowsOnlyWhileEmpty) {
    TextViewWithPlaceHolder view;
    view.resize(300, 120);
    view.show();
    EXPECT_TRUE(view.showsPlaceHolder());
    const QImage empty = view.viewport()->grab().toImage();
    QTest::keyClicks(&view, "x");
    EXPECT_FALSE(view.showsPlaceHolder());
    EXPECT_EQ(view.string(), "x");
    view.clear();
    EXPECT_TRUE(view.showsPlaceHolder());
    // The hint is drawn: the empty view is not blank.
    bool inked = false;
    for (int y = 0; y < empty.height() && !inked; ++y)
        for (int x = 0; x < empty.width() && !inked; ++x) inked = empty.pixelColor(x, y) != empty.pixelColor(0, 0);
    EXPECT_TRUE(inked);
}

struct DotRecorder : BFPageControlDelegate {
    std::vector<std::pair<long, long>> calls;  // index, current page at the call
    void pageControlDidSelectPageAtIndex(BFPageControl& control, long index) override {
        calls.emplace_back(index, control.currentPage());
    }
};

TEST_F(KitWidgets, DotClicksReachTheDelegateAfterTheyChangePage) {
    BFPageControl control;
    DotRecorder recorder;
    control.delegate = &recorder;
    control.setNumberOfPages(4);
    control.resize(200, 20);
    control.show();
    QTest::mouseClick(&control, Qt::LeftButton, {}, control.dotRects()[2].center().toPoint());
    QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(recorder.calls, (std::vector<std::pair<long, long>>{{2, 2}}));
    EXPECT_EQ(control.currentPage(), 2);
}

TEST_F(KitWidgets, TabClicksReachTheDelegate) {
    DOTabbarView view;
    RecordingTabbarDelegate recorder;
    view.tabbar().setDelegate(&recorder);
    view.resize(view.sizeHint());
    view.show();
    QTest::mouseClick(&view, Qt::LeftButton, {}, view.itemRect("support").center());
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(view.width() - 2, 2));
    EXPECT_EQ(recorder.selected, std::vector<std::string>{"support"});
}

TEST_F(KitWidgets, FadeInReachesItsAlphaThroughVirtualTime) {
    ManualAnimationDriver driver;
    QWidget parent;
    AutoUpdateModalOverlay overlay(&parent);
    overlay.hide();
    parent.show();
    int done = 0;
    fadeInWithDuration(overlay, 0.3, [&] { ++done; });
    EXPECT_TRUE(overlay.isVisible());
    driver.advance(150);
    EXPECT_NEAR(viewOpacity(overlay), 0.2, 0.01);
    EXPECT_EQ(done, 0);
    driver.advance(160);
    EXPECT_NEAR(viewOpacity(overlay), 0.4, 1e-9);
    EXPECT_EQ(done, 1);
}

TEST_F(KitWidgets, FadeOutHidesTheViewBeforeItsCompletion) {
    ManualAnimationDriver driver;
    QWidget parent;
    LoadingProgressOverlay overlay(&parent);
    parent.show();
    bool hiddenAtCompletion = false;
    // Not above zero: one second.
    fadeOutWithDuration(overlay, 0, [&] { hiddenAtCompletion = overlay.isHidden(); });
    driver.advance(990);
    EXPECT_TRUE(overlay.isVisible());
    driver.advance(20);
    EXPECT_TRUE(hiddenAtCompletion);
    EXPECT_EQ(viewOpacity(overlay), 0.0);
}

TEST_F(KitWidgets, AFadeInThatReplacesAFadeOutKeepsTheViewShown) {
    ManualAnimationDriver driver;
    QWidget parent;
    OverlayForLocationsTable overlay(&parent);
    parent.show();
    std::vector<std::string> done;
    fadeOutWithDuration(overlay, 1.0, [&] { done.push_back("out"); });
    driver.advance(500);
    fadeInWithDuration(overlay, 1.0, [&] { done.push_back("in"); });
    driver.advance(1100);
    EXPECT_EQ(done, (std::vector<std::string>{"out", "in"}));
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_EQ(viewOpacity(overlay), 1.0);
}

TEST_F(KitWidgets, WheelIsIgnoredWhileScrollingIsDisabled) {
    CustomizedNSScrollView scroll;
    auto* tall = new QWidget;
    tall->setMinimumSize(100, 2000);
    scroll.setWidget(tall);
    scroll.resize(120, 200);
    scroll.show();
    auto wheel = [&] {
        QWheelEvent event(QPointF(50, 50), scroll.mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(scroll.viewport(), &event);
    };
    scroll.disabledScrolling = true;
    wheel();
    EXPECT_EQ(scroll.verticalScrollBar()->value(), 0);
    scroll.disabledScrolling = false;
    wheel();
    EXPECT_GT(scroll.verticalScrollBar()->value(), 0);
}

TEST_F(KitWidgets, SpinnerRestartsWithOneAnimation) {
    ManualAnimationDriver driver;
    FlagActivityIndicator spinner;
    spinner.resize(32, 32);
    spinner.show();
    spinner.startRotationAnimation();
    EXPECT_EQ(spinner.imageName(), "Flag_spinner");
    driver.advance(350);
    EXPECT_NEAR(spinner.rotationDegrees(), 180.0, 1.0);
    spinner.startRotationAnimation();
    EXPECT_EQ(spinner.findChildren<QVariantAnimation*>().size(), 1);
    driver.advance(175);
    EXPECT_NEAR(spinner.rotationDegrees(), 90.0, 1.0);
    spinner.stopRotationAnimation();
    EXPECT_TRUE(spinner.findChildren<QVariantAnimation*>().empty());
}

// Off the screen the spinner's turn pauses: no animation timer runs for a
// window nobody sees; shown again, it turns on.
TEST_F(KitWidgets, ASpinnerOffTheScreenRunsNoAnimation) {
    ManualAnimationDriver driver;
    QWidget window;
    auto* spinner = new ActivityIndicatorWithImage(&window);
    spinner->setImageName("Activity_spinner");
    spinner->resize(32, 32);
    spinner->startRotationAnimation();
    auto* animation = spinner->findChild<QVariantAnimation*>();
    ASSERT_NE(animation, nullptr);
    EXPECT_EQ(animation->state(), QAbstractAnimation::Paused) << "started in a window never shown";
    window.show();
    EXPECT_EQ(animation->state(), QAbstractAnimation::Running);
    driver.advance(175);
    window.hide();
    EXPECT_EQ(animation->state(), QAbstractAnimation::Paused) << "its window hidden";
    driver.advance(5000);
    EXPECT_NEAR(spinner->rotationDegrees(), 90.0, 1.0);
    window.show();
    EXPECT_EQ(animation->state(), QAbstractAnimation::Running) << "shown again";
    spinner->stopRotationAnimation();
}

TEST_F(KitWidgets, FieldsValidateByTheirType) {
    QLineEdit email;
    email.setText("someone@havenway");
    EXPECT_TRUE(validate(email));
    setTextFieldValidationType(email, 1);
    EXPECT_FALSE(validate(email));
}

TEST_F(KitWidgets, BoundControlsFollowEditsAndRevert) {
    FakeSettingsStore store;
    store.registerDefaults({{"autoLogin", true}, {"protocol", 1}});
    UserDefaultsController controller(store);
    controller.setAppliesImmediately(false);
    QWidget window;
    auto* box = new QCheckBox(&window);
    QButtonGroup group;
    auto* first = new QRadioButton(&window);
    auto* second = new QRadioButton(&window);
    group.addButton(first, 1);
    group.addButton(second, 5);
    bindCheckBox(*box, controller, "autoLogin");
    bindRadioGroup(group, controller, "protocol");
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(first->isChecked());

    box->click();
    second->click();
    EXPECT_FALSE(controller.boolValue("autoLogin"));
    EXPECT_EQ(controller.integerValue("protocol"), 5);

    controller.revert();
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(first->isChecked());

    // A binding ends with its control.
    delete box;
    controller.setValue("autoLogin", false);
}

}  // namespace
}  // namespace hw::test
