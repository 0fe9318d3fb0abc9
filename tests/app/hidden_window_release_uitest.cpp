// Hidden windows giving their native windows back, offscreen.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "app/hidden_window_release.h"
#include "support/widget_test_app.h"
#include "view/kit_window.h"

namespace hw::test {
namespace {

class HiddenWindowReleaseTest : public ::testing::Test, public WidgetAppFirst {
protected:
    static void showAndHide(QWidget& window, HiddenWindowRelease& release) {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.hide();
        release.hidden(&window);
    }
};

TEST_F(HiddenWindowReleaseTest, AHiddenWindowIsReleasedAndShowsAgainAsItWas) {
    HiddenWindowRelease release;
    KitWindow window;
    auto* field = new QLineEdit(&window);
    field->setText("demo@havenway.test");
    window.resize(400, 300);
    showAndHide(window, release);
    ASSERT_NE(window.windowHandle(), nullptr);

    release.release();
    EXPECT_EQ(window.windowHandle(), nullptr);
    EXPECT_TRUE(window.isHidden());

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_NE(window.windowHandle(), nullptr);
    EXPECT_EQ(window.size(), QSize(400, 300));
    EXPECT_EQ(field->text(), "demo@havenway.test");
    QTest::keyClick(field, Qt::Key_X);
    EXPECT_EQ(field->text(), "demo@havenway.testx");
}

TEST_F(HiddenWindowReleaseTest, ShownAgainKeptOrNotAKitWindowKeepsItsNativeWindow) {
    KitWindow kept, shownAgain, released;
    QWidget plain;
    HiddenWindowRelease release([&kept](QWidget* w) { return w == &kept; });
    for (QWidget* w : std::initializer_list<QWidget*>{&kept, &shownAgain, &released, &plain}) showAndHide(*w, release);
    shownAgain.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shownAgain));

    release.release();
    EXPECT_NE(kept.windowHandle(), nullptr);
    EXPECT_NE(shownAgain.windowHandle(), nullptr);
    EXPECT_NE(plain.windowHandle(), nullptr);
    EXPECT_EQ(released.windowHandle(), nullptr);

    // Each hide is counted once: a second release finds nothing to do.
    released.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&released));
    release.release();
    EXPECT_NE(released.windowHandle(), nullptr);
}

}  // namespace
}  // namespace hw::test
