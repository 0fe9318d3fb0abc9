// The login window's widget offscreen, driven by its real controller.
#include <QAbstractButton>
#include <QLineEdit>

#include "view/user_defaults_controller.h"
#include <QTest>

#include "auth_window_fixture.h"
#include "support/manual_animation_driver.h"
#include "support/widget_test_app.h"
#include "texts/locale_data.h"
#include "view/hyperlink_text_field.h"
#include "windows/login/widgets/auth_window_widget.h"
#include "windows/login/widgets/login_window_views.h"
#include "windows/sign_up/widgets/free_trial_sign_up_window_widget.h"

namespace hw::test {
namespace {

class AuthWindowWidgetTest : public WidgetAppFirst, public AuthWindowFixture {
protected:
    AuthWindowWidgetTest() {
        controller = std::make_unique<AuthWindowViewController>(
            context, widget, widget, AuthWindowDependencies{auth, links, queue, shell}, false);
    }
    ~AuthWindowWidgetTest() override { controller.reset(); }
    QLineEdit* field(AuthPart p) { return static_cast<QLineEdit*>(widget.part(p)); }

    ManualAnimationDriver animations;
    AuthWindowWidget widget;
};

TEST_F(AuthWindowWidgetTest, TypedTextAndEnterReachTheController) {
    remember("someone@example.com", "", false);
    model->signMeInWhenHavenwayStarts = false;
    open();
    ASSERT_EQ(widget.text(AuthPart::loginButton), "LOG IN");
    field(AuthPart::loginField)->clear();
    QTest::keyClicks(field(AuthPart::loginField), "  user@example.com ");
    QTest::keyClicks(field(AuthPart::passwordField), " secret ");
    EXPECT_EQ(field(AuthPart::passwordField)->echoMode(), QLineEdit::Password);
    QTest::keyClick(field(AuthPart::loginField), Qt::Key_Return);
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 0) << "ENTER in the user field only moves on";
    QTest::keyClick(field(AuthPart::passwordField), Qt::Key_Return);
    queue.runUntilIdle();
    EXPECT_EQ(signIns, 1);
    EXPECT_EQ(field(AuthPart::loginField)->text(), "user@example.com") << "both fields trimmed";
    EXPECT_EQ(field(AuthPart::passwordField)->text(), "secret");
    EXPECT_FALSE(log->contains("secret")) << "no password in the log";
    EXPECT_FALSE(field(AuthPart::passwordField)->isEnabled()) << "busy while the data loads";
}

TEST_F(AuthWindowWidgetTest, ErrorBarSlidesInOverItsDuration) {
    open();
    controller->showErrorNotificationBar("Login error", "Too many requests in this time frame.");
    animations.advanceInSteps(150);
    const double halfway = widget.shownBarLayout().errorBarTop;
    EXPECT_GT(halfway, 73.0);
    EXPECT_LT(halfway, 146.0);
    animations.advanceInSteps(200);
    EXPECT_EQ(widget.part(AuthPart::errorNotificationsBox)->geometry().top(), 146);
    EXPECT_EQ(widget.text(AuthPart::errorLowerText), "Too many requests in this time frame.");
}

class SignMeInBoxTest : public WidgetAppFirst, public AuthWindowFixture {
protected:
    UserDefaultsController defaults{settings};
    AuthWindowWidget bound{&defaults};
    std::unique_ptr<AuthWindowViewController> c = std::make_unique<AuthWindowViewController>(
        context, bound, bound, AuthWindowDependencies{auth, links, queue, shell, nullptr, &defaults, nullptr}, false);
    QAbstractButton* box() { return static_cast<QAbstractButton*>(bound.part(AuthPart::signMeOnStart)); }
    void show() {
        c->pendingLoginData = auth.recentLoginData();
        c->showWindow();
        queue.runUntilIdle();
    }
};

// The sign-up window's CONTINUE writes the setting while this window is closed.
TEST_F(SignMeInBoxTest, TheBoxShowsTheSettingWrittenWhileTheWindowWasClosed) {
    defaults.setAppliesImmediately(false);
    show();
    EXPECT_TRUE(box()->isChecked()) << "default";
    box()->click();
    EXPECT_FALSE(settings.boolForKey(SettingsUserDefaults::signMeInWhenHavenwayStarts)) << "applies while shown";
    c->close();
    defaults.setAppliesImmediately(true);
    defaults.setValue(SettingsUserDefaults::signMeInWhenHavenwayStarts, SettingValue(true));
    defaults.setAppliesImmediately(false);
    show();
    EXPECT_TRUE(box()->isChecked()) << "after continue";
}

TEST(AuthWindowGeometryTest, BarsFormAndButtonNeverOverlap) {
    // The bar out (at 73, transparent), in with one detail line, in with two.
    for (auto [barTop, centerY, padding, barHeight] :
         {std::tuple{73.0, -25.0, 40.0, 47.0}, {146.0, -68.0, 35.0, 47.0}, {146.0, -85.0, 18.0, 63.0}}) {
        SCOPED_TRACE(centerY);
        AuthBarLayout layout;
        layout.errorBarTop = barTop;
        layout.fieldsCenterY = centerY;
        layout.buttonPaddingBottom = padding;
        layout.errorBarHeight = barHeight;
        const auto g = authWindowGeometry(layout, AuthWindowWidget::kSize);
        EXPECT_LT(g.errorBar.bottom(), g.heading.top());
        EXPECT_LT(g.heading.bottom(), g.fieldsGroup.top());
        EXPECT_LT(g.optionsRow.bottom() + 8, g.loginButton.top());
        EXPECT_LT(g.loginButton.bottom() + 30, AuthWindowWidget::kSize.height() - 56);
        EXPECT_LT(g.logo.bottom(), 146) << "a bar that is in never covers the logo";
        if (barTop == 73.0) {
            EXPECT_LE(g.heading.top() - g.logo.bottom(), 40) << "no hole under the logo";
        }
    }
}

TEST_F(AuthWindowWidgetTest, ErrorDetailTakesASecondLineOnlyWhenTheBarHasNoRoom) {
    open();
    // 42 characters: over the character limit, well within the bar.
    controller->showUsernameAndPasswordFieldIsEmptyNotification();
    animations.advanceInSteps(400);
    EXPECT_EQ(widget.text(AuthPart::errorLowerText), "Email and Password fields cannot be empty.");
    EXPECT_EQ(widget.text(AuthPart::errorLowerTextSecondLine), "");
    EXPECT_EQ(widget.part(AuthPart::errorNotificationsBox)->height(), 47);

    const std::string wide = "The backend refused this request for a reason it explains at some length here.";
    controller->showGenericErorrNotification(wide);
    animations.advanceInSteps(400);
    EXPECT_NE(widget.text(AuthPart::errorLowerTextSecondLine), "");
    EXPECT_EQ(widget.text(AuthPart::errorLowerText) + widget.text(AuthPart::errorLowerTextSecondLine), wide + " ");
    EXPECT_EQ(widget.part(AuthPart::errorNotificationsBox)->height(), 63);
}

TEST_F(AuthWindowWidgetTest, CreateAccountLinkAndTopBarLineAreTheKitsControls) {
    remember("someone@example.com", "pw123456", false);
    model->signMeInWhenHavenwayStarts = false;
    open();
    auto* create = qobject_cast<CreateAccountLinkedText*>(widget.part(AuthPart::createNewAccountLink));
    ASSERT_NE(create, nullptr);
    create->setVisible(true);
    QTest::mouseClick(create, Qt::LeftButton);
    EXPECT_EQ(std::count(shell.calls.begin(), shell.calls.end(), "createNewAccountForAppStoreCommand"), 1);
    EXPECT_TRUE(create->styleSheet().contains("text-align:right"));

    controller->showInternetConnectionIsUnavailableNotification();
    queue.runUntilIdle();
    auto* line = qobject_cast<MixedNSTextFieldWithHyperlink*>(widget.part(AuthPart::yellowNotificationBarLowerText));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->stringValue(), LocaleData::internet_connection_unavailable_error_part_2_for_login_view());
}

class AlreadyVerifiedClicks final : public FreeTrialSignUpActions {
public:
    int clicks = 0;
    void onStartFreeButtonClicked() override {}
    void onLogInButtonClick() override {}
    void onShowPasswordButtonClick() override {}
    void onToSButtonClick() override {}
    void onCheckInboxButtonClick() override {}
    void onResendVerificationEmailClick() override {}
    void onAlreadyVerifiedLinkClick() override { ++clicks; }
    void onStartYourFreeTrialButtonClick() override {}
    void onEnterPressed(SignUpPart) override {}
};

TEST(SignUpWindowLinks, AlreadyVerifiedLinkIsALabelWhoseLinkReachesTheController) {
    WidgetAppFirst app;
    FreeTrialSignUpWindowWidget widget;
    AlreadyVerifiedClicks actions;
    widget.setActions(&actions);
    widget.setTitle(SignUpPart::alreadyVerifiedButton, "Click here.", {12, false, true});
    widget.setHidden(SignUpPart::alreadyVerifiedButton, false);
    widget.show();
    QWidget* link = widget.part(SignUpPart::alreadyVerifiedButton);
    ASSERT_NE(qobject_cast<NSLabelWithHyperlink*>(link), nullptr);
    EXPECT_EQ(widget.text(SignUpPart::alreadyVerifiedButton), "Click here.");
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(link->width() - 2, link->height() / 2));
    EXPECT_EQ(actions.clicks, 0) << "beside the text is no link";
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(3, link->height() / 2));
    EXPECT_EQ(actions.clicks, 1);
}

}  // namespace
}  // namespace hw::test
