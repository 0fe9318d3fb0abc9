#include <gmock/gmock.h>

#include "main_window_fixture.h"
#include "windows/details_pane/connect_button_callbacks.h"

namespace hw::test {
namespace {

using ::testing::ElementsAre;

TEST(MainWindowProfile, ClickedRowIsPaintedSelectedAndTheNextOpeningIsClean) {
    MainWindowFixture f;
    f.open();
    f.view.profileButtonClick();
    const std::vector<std::string> clean(4, "#373a3d");
    EXPECT_EQ(f.view.rowBackgrounds, clean);
    f.controller->onProfileMenuRowClicked(2);
    EXPECT_EQ(f.view.rowBackgrounds, (std::vector<std::string>{"#373a3d", "#373a3d", "#4b4e51", "#373a3d"}));
    f.view.profileButtonClick();
    EXPECT_EQ(f.view.rowBackgrounds, clean);
}

TEST(MainWindowProfile, PopoverRowsRunTheirCommandsAndClose) {
    struct Row {
        const char* name;
        bool enterprise;
        std::vector<std::string> headers;
        double height;
        std::vector<std::string> opened;
    };
    const Row rows[] = {
        {"ordinary build", false, {"My Account", "Get Free Service", "Settings", "Sign Out"}, 165.0,
         {"https://s/account", "https://s/invite"}},
        {"enterprise build", true, {"Settings", "Sign Out"}, 85.0, {}},
    };
    for (const Row& r : rows) {
        MainWindowFixture f(r.enterprise);
        f.open();
        f.view.profileButtonClick();
        ASSERT_TRUE(f.view.popoverOpen) << r.name;
        std::vector<std::string> headers;
        for (const auto& row : f.view.popoverRows) headers.push_back(row.header);
        EXPECT_EQ(headers, r.headers) << r.name;
        EXPECT_EQ(f.view.popoverHeight, r.height) << r.name;
        for (int i = 0; i < static_cast<int>(headers.size()); ++i) {
            f.view.popoverOpen = true;
            f.controller->onProfileMenuRowClicked(i);
            EXPECT_FALSE(f.view.popoverOpen) << r.name << i;
        }
        f.controller->onProfileMenuRowClicked(static_cast<int>(headers.size()));  // past the rows: nothing
        EXPECT_THAT(f.shell.calls, ElementsAre("openSettingsWindow:0", "performLogout")) << r.name;
        EXPECT_EQ(f.urlOpener.opened, r.opened) << r.name;
        // The next opening shows no row selected.
        EXPECT_TRUE(f.controller->profileMenuController().selectedRow());
        f.view.profileButtonClick();
        EXPECT_FALSE(f.controller->profileMenuController().selectedRow());
    }
}

TEST(MainWindowProfile, PopUpMenuSwapsOneWhiteIconAndRunsItsActions) {
    MainWindowFixture f;
    f.open();
    EXPECT_THAT(f.view.menuIcons, ElementsAre("My_Account", "View_Invoices", "Invite_friends", "Sign_out"));
    f.controller->menuWillHighlightItem(2);
    EXPECT_THAT(f.view.menuIcons, ElementsAre("My_Account", "View_Invoices", "Invite_friends_white", "Sign_out"));
    f.controller->menuWillHighlightItem(0);
    EXPECT_THAT(f.view.menuIcons, ElementsAre("My_Account_white", "View_Invoices", "Invite_friends", "Sign_out"));
    f.controller->menuWillHighlightItem(std::nullopt);
    EXPECT_THAT(f.view.menuIcons, ElementsAre("My_Account", "View_Invoices", "Invite_friends", "Sign_out"));

    for (int item = 0; item < 4; ++item) f.controller->onProfilePopUpMenuItem(item);
    EXPECT_THAT(f.urlOpener.opened, ElementsAre("https://s/account", "https://s/invoices", "https://s/invite"));
    EXPECT_THAT(f.shell.calls, ElementsAre("performLogout"));

    // Without the links object nothing opens and nothing fails.
    f.links.linksDataObject.reset();
    f.controller->onProfilePopUpMenuItem(0);
    EXPECT_EQ(f.urlOpener.opened.size(), 3u);
}

TEST(MainWindowProfile, HoverShowsThePopoverOncePerRestWhileTheWindowIsOpen) {
    MainWindowFixture f;
    f.open();
    ASSERT_TRUE(ConnectButtonCallbacks::onMouseHoverDelayedCallback);
    ConnectButtonCallbacks::onMouseHoverDelayedCallback();
    ConnectButtonCallbacks::onMouseHoverDelayedCallback();
    EXPECT_EQ(f.pane->count("showConnectButtonPopover"), 1);
    EXPECT_TRUE(f.controller->connectButtonPopoverShown());
    ConnectButtonCallbacks::onMouseExitedCallback();
    EXPECT_EQ(f.pane->count("closeConnectButtonPopover"), 1);
    ConnectButtonCallbacks::onMouseHoverDelayedCallback();
    EXPECT_EQ(f.pane->count("showConnectButtonPopover"), 2);

    f.controller->close();
    EXPECT_FALSE(ConnectButtonCallbacks::onMouseHoverDelayedCallback);
    EXPECT_FALSE(ConnectButtonCallbacks::onMouseExitedCallback);
    f.controller->showWindow();
    EXPECT_TRUE(ConnectButtonCallbacks::onMouseHoverDelayedCallback);
    f.controller.reset();  // a dead controller's callbacks do nothing
    ConnectButtonCallbacks::onMouseHoverDelayedCallback();
    ConnectButtonCallbacks::onMouseHoverDelayedCallback = nullptr;
    ConnectButtonCallbacks::onMouseExitedCallback = nullptr;
}

TEST(MainWindowProfile, ButtonsOpenTheirWindowsAndCursorsRefreshWhileOpen) {
    MainWindowFixture f;
    f.open();
    f.controller->onSettingsButtonClick();
    f.controller->onLocationsButtonClick();
    EXPECT_THAT(f.shell.calls, ElementsAre("openSettingsWindow:0"));
    f.queue.runUntilIdle();
    EXPECT_THAT(f.shell.calls, ElementsAre("openSettingsWindow:0", "openLocationsWindow"));

    const int before = f.view.cursorRefreshes;
    f.controller->windowDidBecomeMain();
    f.controller->prepareMainViewAfterSettingsViewBeenClosed();
    EXPECT_EQ(f.view.cursorRefreshes, before + 2);
    EXPECT_EQ(f.pane->count("updateHandCursors"), before + 2);
    f.controller->close();
    f.controller->windowDidBecomeMain();
    EXPECT_EQ(f.view.cursorRefreshes, before + 2);
}

TEST(MainWindowProfile, WithoutAPaneTheWindowStillListsAndSelects) {
    MainWindowFixture f(false, false);
    f.open();
    EXPECT_EQ(f.controller->detailsViewController(), nullptr);
    EXPECT_EQ(f.view.table->rowCount(), 6);
    f.controller->onTableRowClicked(f.rowOf(f.jp));
    EXPECT_EQ(f.model.currentLocation(), f.jp);
    f.controller->showNoOnternetConnectionOverlay();
    f.controller->hideNoOnternetConnectionOverlay();
    f.controller->showWiFiInsecureNotification();
}

}  // namespace
}  // namespace hw::test
