// The tray item as the desktop sees it: a StatusNotifierItem with a dbusmenu,
// under Xvfb with xcb on a private bus. Qt decides once per process whether a
// tray exists, so each case needs a process of its own (as ctest runs them).
#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusVariant>
#include <QSystemTrayIcon>

#include "app/app_delegate_fixture.h"
#include "app/qt_status_item.h"
#include "services/locations_list_model.h"
#include "support/tray_desktop.h"
#include "support/tray_menu_reader.h"
#include "support/widget_test_app.h"

namespace hw::test {
namespace {

class TrayTest : public AppDelegateTest {
protected:
    void start(bool withWatcher) {
        if (QCoreApplication::instance()) GTEST_SKIP() << "the tray cases need a process of their own";
        if (const std::string why = desktop.start(withWatcher); !why.empty()) GTEST_SKIP() << why;
        widgetTestApp();
    }
    TrayDesktop desktop;
};

TEST_F(TrayTest, ItemRegistersAndExportsTheMenuAsTheModelHasIt) {
    start(true);
    QtStatusItem item;
    ASSERT_TRUE(item.isShown());
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 10000)) << "the item registers";
    const QString service = desktop.watcher->items().front();

    make();
    MenuBarMenuController& controller = delegate->menuBarMenuController();
    std::vector<LocationsListItemPtr> rows{std::make_shared<LocationsListItemModel>("nl", "Netherlands"),
                                           std::make_shared<LocationsListItemModel>("de", "Germany")};
    controller.locationsListModel = std::make_shared<LocationsListModel>(rows);
    controller.prepareMenu();
    item.setMenu(controller.menus().menuBarMenu);
    controller.connectionDetailsCallbacks.fireIPaddressUpdated("203.0.113.7");
    controller.connectionDetailsCallbacks.fireConnectButtonStateChanged("CONNECTING      ");
    controller.connectionDetailsCallbacks.fireChosenLocationChanged(*rows[1]);
    model().setVpnSettingsChangingDisabled(true);
    spinFor(200);

    MenuNode root = trayLayout(service);
    const MenuNode* connect = nullptr;
    const MenuNode* location = nullptr;
    for (const auto& n : root.children) {
        if (n.label() == "Disconnect") connect = &n;
        if (n.props.value("children-display").toString() == "submenu") location = &n;
    }
    EXPECT_EQ(root.labels(), (QStringList{"Open Havenway", "Location:  Germany", "Protocol: Automatic", "IP: 203.0.113.7",
                                   "Status: Disconnected", "Disconnect", "Status-bar only", "Sign Out", "Quit Havenway"}));
    EXPECT_FALSE(root.children.front().visible()) << "the app item shows only in status-bar-only mode";
    QStringList shown;  // what a panel draws, separators as "-"
    for (const auto& n : root.children)
        if (n.visible()) shown << (n.props.value("type").toString() == "separator" ? QString("-") : n.label());
    EXPECT_EQ(shown, (QStringList{"Location:  Germany", "Protocol: Automatic", "IP: 203.0.113.7", "Status: Disconnected",
                                  "Disconnect", "-", "Status-bar only", "Sign Out", "-", "Quit Havenway"}))
        << "no separator leads the menu while its first item is hidden";
    ASSERT_NE(location, nullptr);
    ASSERT_EQ(location->children.size(), 3u);
    for (const auto& l : location->children) {
        EXPECT_EQ(l.props.value("toggle-type").toString(), "checkmark") << l.label().toStdString();
        EXPECT_FALSE(l.enabled()) << "the settings lock";
        EXPECT_EQ(l.props.value("toggle-state").toInt(), l.label() == "Germany" ? 1 : 0) << l.label().toStdString();
    }

    ASSERT_NE(connect, nullptr);
    trayClick(service, connect->id);
    EXPECT_TRUE(spinUntil([&] { return journaled("intents.connectOrEnd"); }, 10000));
}

// A launch that shows its window first asks the desktop only afterwards: the
// item is absent till then, and shows with what it was given meanwhile.
TEST_F(TrayTest, AnItemSettledLaterAsksOnlyThenAndKeepsItsImageAndMenu) {
    start(true);
    QtStatusItem item(nullptr, QtStatusItem::Settle::Later);
    item.setImage("MenuBar_icon_CONNECTED");
    make();
    item.setMenu(delegate->menuBarMenuController().menus().default_menuBarMenu);
    spinFor(100);
    EXPECT_FALSE(item.isShown());
    EXPECT_TRUE(desktop.watcher->items().empty()) << "nothing registers before it settles";

    item.settle();
    item.settle();
    EXPECT_TRUE(item.isShown());
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 10000)) << "one item, once";
    EXPECT_EQ(item.imageName(), "MenuBar_icon_CONNECTED");
    EXPECT_EQ(trayLayout(desktop.watcher->items().front()).labels(),
              (QStringList{"Open Havenway", "Sign In", "Quit Havenway"}));
}

TEST_F(TrayTest, WithoutAWatcherThereIsNoTray) {
    start(false);
    EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_FALSE(QtStatusItem().isShown());
}

TEST_F(TrayTest, APanelThatStartsLaterStillGetsTheItemWithItsImageAndMenu) {
    start(false);
    QtStatusItem item;
    EXPECT_FALSE(item.isShown());
    item.setImage("MenuBar_icon_CONNECTED");
    make();
    item.setMenu(delegate->menuBarMenuController().menus().default_menuBarMenu);
    spinFor(100);

    FakeStatusNotifierWatcher late(QString::fromStdString(desktop.bus.address()));
    ASSERT_TRUE(late.startServing());
    ASSERT_TRUE(spinUntil([&] { return late.items().size() == 1; }, 10000)) << "the item registers when the panel does";
    EXPECT_TRUE(item.isShown());
    EXPECT_EQ(item.imageName(), "MenuBar_icon_CONNECTED");
    EXPECT_EQ(trayLayout(late.items().front()).labels(), (QStringList{"Open Havenway", "Sign In", "Quit Havenway"}));
}

// The panel's watcher ends: the item says it is lost, once, and registers
// with the next watcher, its image and menu as they were.
TEST_F(TrayTest, AWatcherThatEndsLosesTheItemAndTheNextGetsItBack) {
    start(true);
    QtStatusItem item;
    int lost = 0;
    item.onLost = [&] { ++lost; };
    item.setImage("MenuBar_icon_CONNECTED");
    make();
    item.setMenu(delegate->menuBarMenuController().menus().default_menuBarMenu);
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 10000));

    desktop.watcher.reset();
    ASSERT_TRUE(spinUntil([&] { return lost == 1; }, 10000)) << "no word of the lost tray";
    EXPECT_FALSE(item.isShown());
    FakeStatusNotifierWatcher next(QString::fromStdString(desktop.bus.address()));
    ASSERT_TRUE(next.startServing());
    ASSERT_TRUE(spinUntil([&] { return next.items().size() == 1; }, 10000)) << "the item registers again";
    EXPECT_TRUE(item.isShown());
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(item.imageName(), "MenuBar_icon_CONNECTED");
    EXPECT_EQ(trayLayout(next.items().front()).labels(), (QStringList{"Open Havenway", "Sign In", "Quit Havenway"}));
}

}  // namespace
}  // namespace hw::test
