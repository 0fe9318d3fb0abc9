// The user's close of the last window: only windows the user can come back
// to count as staying on screen.
#include <gtest/gtest.h>

#include <QWidget>

#include "app/last_window_close_guard.h"
#include "support/widget_test_app.h"

namespace hw::test {
namespace {

TEST(LastWindowCloseGuard, OnlyWindowsTheUserSeesKeepTheCloseFromAsking) {
    widgetTestApp();
    struct Row {
        const char* name;
        Qt::WindowFlags flags;
        bool asks;
    };
    const Row rows[] = {
        {"a second window", Qt::Window, false},
        {"a dialog", Qt::Dialog, false},
        // How Qt docks an icon in an XEmbed tray.
        {"the tray's docked icon", Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint, true},
        {"a tool tip", Qt::ToolTip, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QWidget main;
        main.show();
        QWidget other(nullptr, row.flags);
        other.show();
        int asked = 0;
        LastWindowCloseGuard guard(
            [&] {
                ++asked;
                return false;
            },
            [](QWidget*) -> QWidget* { return nullptr; });
        EXPECT_EQ(guard.allows(main), !row.asks);
        EXPECT_EQ(asked, row.asks ? 1 : 0);
    }
}

}  // namespace
}  // namespace hw::test
