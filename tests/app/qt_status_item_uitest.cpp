// The tray item as the desktop sees it: a StatusNotifierItem with a dbusmenu,
// under Xvfb with xcb on a private bus. Qt decides once per process whether a
// tray exists, so each case needs a process of its own (as ctest runs them).
#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

#include "app/app_delegate_fixture.h"
#include "app/qt_status_item.h"
#include "services/locations_list_model.h"
#include "support/netns_rig.h"
#include "support/temp_dir.h"
#include "support/tray_desktop.h"
#include "support/tray_menu_reader.h"
#include "support/widget_test_app.h"
#include "support/x_keyboard.h"

namespace hw::test {
namespace {

// The signals a panel hears from the item, by name.
class SignalRecorder : public QObject {
    Q_OBJECT
public:
    void listen(const QString& service, const QString& path, const QString& interface, const QString& name) {
        QDBusConnection::sessionBus().connect(service, path, interface, name, this, SLOT(record(QDBusMessage)));
    }
    int count(const QString& name) const { return static_cast<int>(heard.count(name)); }
    QStringList heard;
public slots:
    void record(const QDBusMessage& m) { heard << m.member(); }
};

MenuItemPtr addItem(MenuModel& menu, std::string title, std::function<void()> action = {}) {
    MenuItemModel item;
    item.title = std::move(title);
    item.action = std::move(action);
    return menu.add(std::move(item));
}

class TrayTest : public AppDelegateTest {
protected:
    void start(bool withWatcher) {
        if (QCoreApplication::instance()) GTEST_SKIP() << "the tray cases need a process of their own";
        if (const std::string why = desktop.start(withWatcher); !why.empty()) GTEST_SKIP() << why;
        widgetTestApp();
    }
    TrayDesktop desktop;
};

// The same item under an XEmbed tray as well: what the desktop sees of it is
// the icons of this process docked there and the items the watchers were given.
class TwoTrayTest : public TrayTest {
protected:
    void startBoth(bool withWatcher) {
        if (::access(kTrayer, X_OK) != 0) GTEST_SKIP() << "no " << kTrayer << " (scripts/setup installs it)";
        start(withWatcher);
        if (IsSkipped()) return;
        tray = ChildProcess({kTrayer}, dir.file("trayer.log"));
        x = std::make_unique<XKeyboard>(desktop.xvfb.display());
        ASSERT_TRUE(x->ok());
    }
    int docked() {
        int n = 0;
        for (xcb_window_t w : x->nestedWindowsOfClass(QCoreApplication::applicationName().toStdString()))
            n += x->viewable(w) ? 1 : 0;
        return n;
    }
    static QString ownService() {
        return QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid());
    }
    // One of ours, once: a second would be Qt's own item beside it.
    void expectOnlyOurs(const FakeStatusNotifierWatcher& watcher) {
        ASSERT_TRUE(spinUntil([&] { return !watcher.items().empty() && docked() == 0; }, 10000))
            << "registered " << watcher.items().join(',').toStdString() << ", docked " << docked();
        spinFor(300);
        EXPECT_EQ(watcher.items(), QStringList{ownService()});
        EXPECT_EQ(docked(), 0);
    }
    void expectDockedAlone() {
        ASSERT_TRUE(spinUntil([&] { return docked() == 1; }, 10000)) << "the icon did not dock";
        spinFor(300);
        EXPECT_EQ(docked(), 1);
    }

    static constexpr const char* kTrayer = "/usr/bin/trayer";
    TempDir dir;
    ChildProcess tray;
    std::unique_ptr<XKeyboard> x;
};

TEST_F(TwoTrayTest, AHostThatComesAfterAnXEmbedTrayTakesTheItemAndGivesItBackWhenItEnds) {
    startBoth(false);
    QtStatusItem item;
    int lost = 0;
    item.onLost = [&] { ++lost; };
    expectDockedAlone();
    EXPECT_STREQ(item.trayKind(), "XEmbed");

    // The panel's watcher first, its host a moment later.
    auto host = std::make_unique<FakeStatusNotifierWatcher>(QString::fromStdString(desktop.bus.address()), false);
    ASSERT_TRUE(host->startServing());
    spinFor(500);
    EXPECT_TRUE(host->items().empty()) << "an item for a watcher without a host";
    EXPECT_EQ(docked(), 1);
    host->registerHost();
    expectOnlyOurs(*host);
    EXPECT_STREQ(item.trayKind(), "StatusNotifierItem");
    EXPECT_TRUE(item.isShown());

    host.reset();
    expectDockedAlone();
    EXPECT_STREQ(item.trayKind(), "XEmbed");
    FakeStatusNotifierWatcher next(QString::fromStdString(desktop.bus.address()));
    ASSERT_TRUE(next.startServing());
    expectOnlyOurs(next);
    EXPECT_EQ(lost, 0) << "the item moved between trays and was never lost";
}

// With a host at the start, and an XEmbed tray that takes the item only
// while the host is gone: each time, one item and its menu.
TEST_F(TwoTrayTest, AnItemStartedWithAHostMovesToTheXEmbedTrayAndBack) {
    startBoth(true);
    QtStatusItem item;
    auto menu = std::make_shared<MenuModel>("tray");
    addItem(*menu, "Open Havenway");
    addItem(*menu, "Quit Havenway");
    item.setMenu(menu);
    expectOnlyOurs(*desktop.watcher);
    EXPECT_EQ(trayLayout(ownService()).labels(), (QStringList{"Open Havenway", "Quit Havenway"}));

    desktop.watcher.reset();
    expectDockedAlone();
    EXPECT_TRUE(item.isShown());
    FakeStatusNotifierWatcher next(QString::fromStdString(desktop.bus.address()));
    ASSERT_TRUE(next.startServing());
    expectOnlyOurs(next);
    EXPECT_EQ(trayLayout(ownService()).labels(), (QStringList{"Open Havenway", "Quit Havenway"}));
}

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

    // A menu asked for at a point on no screen opens where the pointer is.
    trayCall(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "ContextMenu",
             {2147483647, int(-2147483647 - 1)});
    QWidget* popup = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (popup = QApplication::activePopupWidget()) != nullptr; }, 5000));
    EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().contains(popup->geometry().topLeft()))
        << popup->x() << "," << popup->y();
    popup->close();
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

// The icon a panel draws is the tray's own: ARGB32, most significant byte first.
TEST_F(TrayTest, TheItemsIconIsTheStatusImageInNetworkByteOrder) {
    start(true);
    QtStatusItem item;
    item.setImage("MenuBar_icon_CONNECTED");
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 10000));
    const QDBusMessage reply = trayCall(desktop.watcher->items().front(), "/StatusNotifierItem",
                                        "org.freedesktop.DBus.Properties", "Get",
                                        {QString("org.kde.StatusNotifierItem"), QString("IconPixmap")});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const QDBusArgument arg = reply.arguments().front().value<QDBusVariant>().variant().value<QDBusArgument>();
    const QImage expected = QtStatusItem::statusIcon("MenuBar_icon_CONNECTED")
                                .pixmap(QSize(22, 22), 1.0)
                                .toImage()
                                .convertToFormat(QImage::Format_ARGB32);
    bool found = false;
    arg.beginArray();
    while (!arg.atEnd()) {
        int w = 0, h = 0;
        QByteArray bytes;
        arg.beginStructure();
        arg >> w >> h >> bytes;
        arg.endStructure();
        ASSERT_EQ(bytes.size(), w * h * 4);
        if (w != 22) continue;
        found = true;
        const auto* px = reinterpret_cast<const uchar*>(bytes.constData());
        for (int i = 0; i < w * h; ++i) {
            const QRgb want = expected.pixel(i % w, i / w);
            ASSERT_EQ((QList<int>{px[4 * i], px[4 * i + 1], px[4 * i + 2], px[4 * i + 3]}),
                      (QList<int>{qAlpha(want), qRed(want), qGreen(want), qBlue(want)}))
                << "pixel " << i;
        }
    }
    arg.endArray();
    EXPECT_TRUE(found) << "no 22 px image";
}

// The menu as the panel reads and clicks it, as the model changes; what the
// panel sends is checked, and a wrong id or event is an error, not a click.
TEST_F(TrayTest, TheExportedMenuFollowsItsModelAndRefusesWhatItDoesNotHold) {
    start(true);
    QtStatusItem item;
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 10000));
    const QString service = desktop.watcher->items().front();
    int connects = 0, offs = 0, homes = 0;
    auto places = std::make_shared<MenuModel>("places");
    addItem(*places, "Home", [&] { ++homes; });
    auto menu = std::make_shared<MenuModel>("tray");
    auto connect = addItem(*menu, "&Connect", [&] { ++connects; });
    menu->addSeparator();
    auto automatic = addItem(*menu, "Auto_connect");
    automatic->checkable = automatic->checked = true;
    addItem(*menu, "Places")->submenu = places;
    addItem(*menu, "Off", [&] { ++offs; })->enabled = false;
    item.setMenu(menu);

    MenuNode root = trayLayout(service);
    ASSERT_EQ(root.labels(), (QStringList{"_Connect", "Auto__connect", "Places", "Off"}));
    EXPECT_EQ(root.children.at(2).props.value("toggle-type").toString(), "checkmark");
    EXPECT_EQ(root.children.at(2).props.value("toggle-state").toInt(), 1);
    const MenuNode& sub = root.children.at(3);
    EXPECT_EQ(sub.props.value("children-display").toString(), "submenu");
    ASSERT_EQ(sub.labels(), QStringList{"Home"});
    const int connectId = root.children.at(0).id, homeId = sub.children.at(0).id, offId = root.children.at(4).id;

    trayClick(service, connectId);
    trayClick(service, homeId);
    trayClick(service, offId);
    ASSERT_TRUE(spinUntil([&] { return connects == 1 && homes == 1; }, 10000));
    spinFor(100);
    EXPECT_EQ(offs, 0) << "a disabled item was clicked";

    const auto call = [&](const QString& member, const QVariantList& args) {
        return trayCall(service, "/MenuBar", "com.canonical.dbusmenu", member, args).type();
    };
    const QVariant data = QVariant::fromValue(QDBusVariant(0));
    const struct {
        const char* what;
        QString member;
        QVariantList args;
    } refused[] = {
        {"a click on no item", "Event", {987654, QString("clicked"), data, uint(0)}},
        {"an unknown event", "Event", {connectId, QString("pressed"), data, uint(0)}},
        {"arguments of the wrong types", "Event", {QString("1"), QString("clicked"), data, uint(0)}},
        {"the layout below no item", "GetLayout", {-3, -1, QStringList{}}},
        {"a property of no item", "GetProperty", {987654, QString("label")}},
        {"an unknown property", "GetProperty", {connectId, QString("no-such")}},
        {"showing no item", "AboutToShow", {987654}},
    };
    for (const auto& row : refused) EXPECT_EQ(call(row.member, row.args), QDBusMessage::ErrorMessage) << row.what;
    spinFor(100);
    EXPECT_EQ(connects, 1);

    SignalRecorder panel;
    for (const char* name : {"LayoutUpdated", "ItemsPropertiesUpdated"})
        panel.listen(service, "/MenuBar", "com.canonical.dbusmenu", name);
    panel.listen(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "NewIcon");
    connect->title = "Disconnect";
    menu->changed(connect.get());
    ASSERT_TRUE(spinUntil([&] { return panel.count("ItemsPropertiesUpdated") == 1; }, 10000)) << "no word of a new label";
    EXPECT_EQ(panel.count("LayoutUpdated"), 0) << "one label changed, not the layout";
    EXPECT_EQ(trayLayout(service).children.at(0).label(), "Disconnect");
    menu->removeAllItems();
    addItem(*menu, "Sign In");
    menu->changed();
    ASSERT_TRUE(spinUntil([&] { return panel.count("LayoutUpdated") == 1; }, 10000)) << "no word of a new layout";
    EXPECT_EQ(trayLayout(service).labels(), QStringList{"Sign In"});
    item.setImage("MenuBar_icon_CONNECTED");
    EXPECT_TRUE(spinUntil([&] { return panel.count("NewIcon") == 1; }, 10000)) << "no word of a new icon";
    EXPECT_EQ(call("Event", {connectId, QString("clicked"), data, uint(0)}), QDBusMessage::ErrorMessage)
        << "an item gone keeps no id";
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

#include "qt_status_item_uitest.moc"
