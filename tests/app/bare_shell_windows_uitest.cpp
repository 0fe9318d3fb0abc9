// The shell's windows and questions on real widgets, offscreen.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTest>

#include "app/bare_shell_windows.h"
#include "app/kit_shell_alerts.h"
#include "support/widget_test_app.h"

namespace hw::test {
namespace {

class BareShellWindowsTest : public ::testing::Test, public WidgetAppFirst {};

TEST_F(BareShellWindowsTest, EveryWindowHasTheKeyboardQuitAndReportsItsClose) {
    int quits = 0;
    ShellWindows windows = makeBareShellWindows([&] { ++quits; });
    auto settings = windows.makeSettings();
    for (ShellWindowPort* port : std::initializer_list<ShellWindowPort*>{windows.main.get(), settings.get()}) {
        auto& bare = dynamic_cast<BareShellWindow&>(*port);
        int closes = 0;
        port->onWindowClosedNotification = [&] { ++closes; };
        port->showWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&bare.window()));
        QTest::keyClick(&bare.window(), Qt::Key_Q, Qt::ControlModifier);
        port->close();
        EXPECT_EQ(closes, 1);
        EXPECT_FALSE(port->isVisible());
    }
    EXPECT_EQ(quits, 2);
}

TEST_F(BareShellWindowsTest, AQuestionIsASheetOnAShownWindowElseApplicationModal) {
    ShellWindows windows = makeBareShellWindows(nullptr);
    KitShellAlerts alerts;
    auto& main = dynamic_cast<BareShellWindow&>(*windows.main);
    const ShellAlert question{"Closing", "Really?", "Quit", "Cancel"};

    alerts.present(windows.main.get(), question, [](int) {});
    QMessageBox* box = alerts.applicationAlerts().current();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    box->reject();

    windows.main->showWindow();
    int answer = 0;
    alerts.present(windows.main.get(), question, [&](int code) { answer = code; });
    QMessageBox* sheet = static_cast<QtAlertView*>(windows.main->sheetAlerts())->current();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), &main.window());
    sheet->reject();
    EXPECT_EQ(answer, ShellAlertPresenter::kSecondButton);
}

}  // namespace
}  // namespace hw::test
