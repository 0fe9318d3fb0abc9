// The shell as a user meets it: the built application on a private display,
// with a panel's watcher and a notification daemon, driven through its tray
// and the keyboard. The cases with an account need the testbed's backend.
#include <algorithm>

#include "app/havenway_process_fixture.h"

namespace hw::test {
namespace {

class ShellByHand : public HavenwayTray {
protected:
    void SetUp() override {
        HavenwayTray::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(notifications.serve(QString::fromStdString(desktop.bus.address())));
    }
    // The windows another process maps on the display, beyond those given.
    std::set<xcb_window_t> newWindows(XKeyboard& keyboard, const std::set<xcb_window_t>& before = {}) {
        std::set<xcb_window_t> out;
        for (xcb_window_t w : keyboard.shownWindows())
            if (!before.count(w)) out.insert(w);
        return out;
    }
    bool signedInMenu(const QString& service) { return itemStarting(trayLayout(service), "Sign Out") != nullptr; }
    void click(const QString& service, const QString& label) {
        const MenuNode root = trayLayout(service);
        const MenuNode* item = itemStarting(root, label);
        ASSERT_NE(item, nullptr) << label.toStdString();
        trayClick(service, item->id);
    }

    // The application's windows on screen under a window manager, which
    // frames them: its docked tray icon is none.
    std::set<xcb_window_t> framedWindows(XKeyboard& keyboard, XPointer& pointer) {
        std::set<xcb_window_t> out;
        for (xcb_window_t w : keyboard.nestedWindowsOfClass("havenway"))
            if (keyboard.viewable(w) && pointer.size(w).x > 100) out.insert(w);
        return out;
    }
    // The height of the menu a right click on the docked icon opens; 0 when
    // none opens. The menu then closes, or with chooseFirst its first item is
    // clicked.
    int trayMenuHeight(XKeyboard& keyboard, XPointer& pointer, xcb_window_t icon, bool chooseFirst = false) {
        // Two right clicks closer than a double click's interval (Qt's 400 ms
        // under xcb) make a double click, which opens no menu.
        spinFor(500);
        const std::set<xcb_window_t> before = keyboard.shownWindows();
        const XPointer::Point at = pointer.origin(icon), size = pointer.size(icon);
        if (!pointer.click({at.x + size.x / 2, at.y + size.y / 2}, 3)) return 0;
        // The tallest new popup: the icon's tooltip may show beside the menu.
        const auto tallest = [&] {
            xcb_window_t menu = 0;
            for (xcb_window_t w : keyboard.shownWindows())
                if (!before.count(w) && keyboard.overrideRedirect(w) &&
                    (!menu || pointer.size(w).y > pointer.size(menu).y))
                    menu = w;
            return menu;
        };
        if (!spinUntil([&] { return tallest() != 0; }, 10000)) return 0;
        // Drawn in full once its size settles.
        spinFor(300);
        const xcb_window_t menu = tallest();
        if (!menu) return 0;
        const int height = pointer.size(menu).y;
        if (chooseFirst) {
            const XPointer::Point corner = pointer.origin(menu);
            pointer.click({corner.x + pointer.size(menu).x / 2, corner.y + 12});
        } else {
            // As a keyboard does: an Escape sent to the menu with the focus
            // moved there leaves the icon deaf to the next right click.
            pointer.key(keyboard.keycode(0xff1b /* Escape */));
        }
        spinUntil([&] { return !keyboard.viewable(menu); }, 5000);
        return height;
    }

    FakeNotificationDaemon notifications;
    static constexpr const char* kTrayer = "/usr/bin/trayer";
    static constexpr const char* kOpenbox = "/usr/bin/openbox";

};

TEST_F(ShellByHand, AHiddenStartMapsNoWindowUntilOpenHavenwayShowsTheMainOne) {
    HW_REQUIRE_TESTBED(testbed);
    rememberDemoAccount(testbed, VPNProtocols::OpenVPN);
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    const QString service = startItem({"--hidden"});
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    ASSERT_TRUE(spinUntil([&] { return signedInMenu(service); }, 60000)) << TempDir::read(log());
    spinFor(1000);
    EXPECT_TRUE(newWindows(keyboard).empty()) << "the automatic sign-in's main window stays hidden";

    click(service, "Open Havenway");
    EXPECT_TRUE(spinUntil([&] { return newWindows(keyboard).size() == 1; }, 10000)) << "the main window, alone";
}

TEST_F(ShellByHand, AStatusNotifierHostThatStartsLaterGetsTheItemWithItsMenu) {
    desktop.watcher.reset();
    app = spawn(log());
    ASSERT_GT(app, 0);
    ASSERT_TRUE(spinUntil([&] { return logged("no tray host yet") == 1; }, 30000)) << TempDir::read(log());
    spinFor(3000);
    FakeStatusNotifierWatcher late(QString::fromStdString(desktop.bus.address()));
    ASSERT_TRUE(late.startServing());
    ASSERT_TRUE(spinUntil([&] { return late.items().size() == 1; }, 15000)) << TempDir::read(log());
    EXPECT_EQ(trayLayout(late.items().front()).labels(), (QStringList{"Open Havenway", "Sign In", "Quit Havenway"}));
    EXPECT_EQ(logged("the status item shows in the tray (StatusNotifierItem)"), 1) << TempDir::read(log());
}

// The older kind of tray, an XEmbed one, started once the application has
// looked for a tray and found none: the icon docks there, with the same
// image, and its menu opens under a right click.
TEST_F(ShellByHand, AnXEmbedTrayThatStartsLaterGetsTheItemWithItsMenu) {
    if (::access(kTrayer, X_OK) != 0) GTEST_SKIP() << "no " << kTrayer << " (scripts/setup installs it)";
    desktop.watcher.reset();
    XKeyboard keyboard(desktop.xvfb.display());
    XPointer pointer(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok() && pointer.ok());
    app = spawn(log());
    ASSERT_TRUE(spinUntil([&] { return logged("no tray host yet") == 1; }, 30000)) << TempDir::read(log());
    spinFor(3000);
    // A dark panel: the icon must read on it.
    ChildProcess tray({kTrayer, "--transparent", "true", "--alpha", "0", "--tint", "0x202020"}, dir.file("trayer.log"));
    std::set<xcb_window_t> docked;
    ASSERT_TRUE(spinUntil([&] { return !(docked = keyboard.nestedWindowsOfClass("havenway")).empty(); }, 15000))
        << TempDir::read(log()) << TempDir::read(dir.file("trayer.log"));
    // The tray docks the icon a moment before the item hears that it did.
    EXPECT_TRUE(spinUntil([&] { return logged("the status item shows in the tray (XEmbed)") == 1; }, 5000))
        << TempDir::read(log());
    const xcb_window_t icon = *docked.begin();
    // The shield's light fill and its dark outline both show.
    EXPECT_TRUE(spinUntil([&] { return !pointer.findPatches(icon, 0xFAFAFA, 3, 24).empty(); }, 5000));
    EXPECT_FALSE(pointer.findPatches(icon, 0x1E1E1E, 3, 24).empty());

    const std::set<xcb_window_t> before = keyboard.shownWindows();
    const XPointer::Point at = pointer.origin(icon), size = pointer.size(icon);
    ASSERT_TRUE(pointer.click({at.x + size.x / 2, at.y + size.y / 2}, 3));
    std::set<xcb_window_t> menu;
    EXPECT_TRUE(spinUntil(
        [&] {
            menu.clear();
            for (xcb_window_t w : keyboard.shownWindows())
                if (!before.count(w) && keyboard.overrideRedirect(w)) menu.insert(w);
            return !menu.empty();
        },
        10000))
        << "no menu under a right click on the docked icon\n"
        << TempDir::read(log());
    ASSERT_FALSE(menu.empty());
    EXPECT_GT(pointer.size(*menu.begin()).y, 60) << "the menu's three items";
}

// An XEmbed tray under a window manager: the window closes into the tray
// without asking; when the tray ends, the window comes back, and a
// new tray gets the icon again.
TEST_F(ShellByHand, AnXEmbedTrayKeepsAWayBackAndItsEndBringsTheWindow) {
    if (::access(kTrayer, X_OK) != 0 || ::access(kOpenbox, X_OK) != 0)
        GTEST_SKIP() << "no " << kTrayer << " or " << kOpenbox << " (scripts/setup installs them)";
    desktop.watcher.reset();
    ChildProcess wm({kOpenbox, "--sm-disable"}, dir.file("openbox.log"));
    XKeyboard keyboard(desktop.xvfb.display());
    XPointer pointer(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok() && pointer.ok());
    auto tray = std::make_unique<ChildProcess>(std::vector<std::string>{kTrayer}, dir.file("trayer.log"));
    app = spawn(log());
    std::set<xcb_window_t> docked, shown;
    ASSERT_TRUE(spinUntil(
        [&] {
            docked = keyboard.nestedWindowsOfClass("havenway");
            std::erase_if(docked, [&](xcb_window_t w) { return pointer.size(w).x > 100; });
            return !docked.empty() && !(shown = framedWindows(keyboard, pointer)).empty();
        },
        30000))
        << TempDir::read(log());
    ASSERT_EQ(logged("the status item shows in the tray (XEmbed)"), 1) << TempDir::read(log());
    const int before = trayMenuHeight(keyboard, pointer, *docked.begin());
    ASSERT_GT(before, 0) << "no menu under a right click on the docked icon";

    ASSERT_TRUE(keyboard.closeByTitleBar(*shown.begin()));
    ASSERT_TRUE(spinUntil([&] { return framedWindows(keyboard, pointer).empty(); }, 10000)) << TempDir::read(log());
    EXPECT_EQ(logged("asking: Closing Havenway"), 0);

    tray.reset();
    EXPECT_TRUE(spinUntil([&] { return !framedWindows(keyboard, pointer).empty(); }, 10000))
        << "no window once the tray ended\n"
        << TempDir::read(log());
    EXPECT_EQ(logged("the tray went away: the window shows"), 1) << TempDir::read(log());
    tray = std::make_unique<ChildProcess>(std::vector<std::string>{kTrayer}, dir.file("trayer2.log"));
    EXPECT_TRUE(spinUntil(
        [&] {
            for (xcb_window_t w : keyboard.nestedWindowsOfClass("havenway"))
                if (keyboard.viewable(w) && pointer.size(w).x <= 100) return true;
            return false;
        },
        15000))
        << "the icon did not dock in the new tray\n"
        << TempDir::read(log());
}

// Signed in and started minimised into an XEmbed tray, then the window
// opened from the tray's menu and closed again: whenever no window shows,
// the menu is one item (Open Havenway, at its head) longer.
TEST_F(ShellByHand, AnXEmbedTrayOffersTheWindowWheneverNoneShows) {
    HW_REQUIRE_TESTBED(testbed);
    if (::access(kTrayer, X_OK) != 0 || ::access(kOpenbox, X_OK) != 0)
        GTEST_SKIP() << "no " << kTrayer << " or " << kOpenbox << " (scripts/setup installs them)";
    rememberDemoAccount(testbed, VPNProtocols::OpenVPN);
    JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
    settings.set(SettingsUserDefaults::startMinimized, true);
    ASSERT_TRUE(settings.synchronize());
    desktop.watcher.reset();
    ChildProcess wm({kOpenbox, "--sm-disable"}, dir.file("openbox.log"));
    XKeyboard keyboard(desktop.xvfb.display());
    XPointer pointer(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok() && pointer.ok());
    ChildProcess tray({kTrayer}, dir.file("trayer.log"));
    app = spawn(log());
    std::set<xcb_window_t> docked;
    // The signed-in menu is in place once the main window is set up, off the screen.
    ASSERT_TRUE(spinUntil(
        [&] {
            docked = keyboard.nestedWindowsOfClass("havenway");
            std::erase_if(docked, [&](xcb_window_t w) { return !keyboard.viewable(w) || pointer.size(w).x > 100; });
            return !docked.empty() && logged("setupMainView executed!") > 0;
        },
        60000))
        << TempDir::read(log());
    ASSERT_TRUE(framedWindows(keyboard, pointer).empty()) << "started minimised";
    const xcb_window_t icon = *docked.begin();
    const int hidden = trayMenuHeight(keyboard, pointer, icon);
    ASSERT_GT(hidden, 60) << "no menu under a right click on the docked icon";

    // Its first item opens the main window.
    ASSERT_GT(trayMenuHeight(keyboard, pointer, icon, true), 0);
    std::set<xcb_window_t> shown;
    ASSERT_TRUE(spinUntil([&] { return (shown = framedWindows(keyboard, pointer)).size() == 1; }, 10000))
        << "the menu's first item is not Open Havenway\n"
        << TempDir::read(log());
    int onScreen = 0;
    EXPECT_TRUE(spinUntil([&] { return (onScreen = trayMenuHeight(keyboard, pointer, icon)) > 0 && onScreen < hidden; },
                          10000))
        << "the window shows, yet the menu is as long (" << onScreen << " px)";

    ASSERT_TRUE(keyboard.closeByTitleBar(*shown.begin()));
    ASSERT_TRUE(spinUntil([&] { return framedWindows(keyboard, pointer).empty(); }, 10000)) << TempDir::read(log());
    int closed = 0;
    EXPECT_TRUE(spinUntil([&] { return (closed = trayMenuHeight(keyboard, pointer, icon)) == hidden; }, 10000))
        << "closed into the tray, the menu is " << closed << " px, not " << hidden;
}

// Started into a StatusNotifier tray, the panel's watcher ends: the window
// shows; the next watcher gets the item again, with its menu.
TEST_F(ShellByHand, AStatusNotifierWatcherThatEndsBringsTheWindowAndTheNextGetsTheItem) {
    if (::access(kOpenbox, X_OK) != 0) GTEST_SKIP() << "no " << kOpenbox << " (scripts/setup installs it)";
    ChildProcess wm({kOpenbox, "--sm-disable"}, dir.file("openbox.log"));
    XKeyboard keyboard(desktop.xvfb.display());
    XPointer pointer(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok() && pointer.ok());
    ASSERT_FALSE(startItem({"--hidden"}).isEmpty()) << TempDir::read(log());
    spinFor(1000);
    ASSERT_TRUE(framedWindows(keyboard, pointer).empty()) << "started into the tray";
    desktop.watcher.reset();
    EXPECT_TRUE(spinUntil([&] { return framedWindows(keyboard, pointer).size() == 1; }, 10000)) << TempDir::read(log());
    FakeStatusNotifierWatcher next(QString::fromStdString(desktop.bus.address()));
    ASSERT_TRUE(next.startServing());
    ASSERT_TRUE(spinUntil([&] { return next.items().size() == 1; }, 15000)) << TempDir::read(log());
    EXPECT_EQ(trayLayout(next.items().front()).labels(), (QStringList{"Open Havenway", "Sign In", "Quit Havenway"}));
}

// A refused update's restart, started as the install script starts it (its
// output discarded, told that the update was refused), under a window
// manager: the main window and the alert show, and what the application says
// reaches its log folder.
TEST_F(ShellByHand, ARefusedUpdatesRestartShowsItsWindowsAndKeepsItsOutput) {
    HW_REQUIRE_TESTBED(testbed);
    if (::access(kOpenbox, X_OK) != 0) GTEST_SKIP() << "no " << kOpenbox << " (scripts/setup installs it)";
    rememberDemoAccount(testbed, VPNProtocols::OpenVPN);
    ChildProcess wm({kOpenbox, "--sm-disable"}, dir.file("openbox.log"));
    XKeyboard keyboard(desktop.xvfb.display());
    XPointer pointer(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok() && pointer.ok());
    app = spawn("/dev/null", {"--update-refused"});
    ASSERT_GT(app, 0);
    const std::string kept = dir.path() + "/state/havenway/logs/havenway.log";
    const auto widest = [&](const std::set<xcb_window_t>& windows) {
        return std::max_element(windows.begin(), windows.end(), [&](xcb_window_t a, xcb_window_t b) {
            return pointer.size(a).x < pointer.size(b).x;
        });
    };
    std::set<xcb_window_t> shown;
    ASSERT_TRUE(spinUntil(
        [&] {
            shown = framedWindows(keyboard, pointer);
            return shown.size() == 2 && TempDir::read(kept).find("setupMainView executed!") != std::string::npos &&
                   pointer.size(*widest(shown)).x > 600;
        },
        60000))
        << TempDir::read(kept);
    EXPECT_NE(TempDir::read(kept).find("the install script refused the archive"), std::string::npos);
    // Wholly on the private display's 1600x1000 screen, wherever the alert stands.
    const xcb_window_t main = *widest(shown);
    const XPointer::Point at = pointer.origin(main), size = pointer.size(main);
    EXPECT_TRUE(at.x >= 0 && at.y >= 0 && at.x + size.x <= 1600 && at.y + size.y <= 1000)
        << size.x << "x" << size.y << "+" << at.x << "+" << at.y;
}

// No tray of either kind: a start into the tray would leave nothing on
// screen, so after a few seconds the window shows, and the log says why.
TEST_F(ShellByHand, AHiddenStartWithNoTrayShowsAWindow) {
    desktop.watcher.reset();
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    app = spawn(log(), {"--hidden"});
    ASSERT_GT(app, 0);
    EXPECT_TRUE(spinUntil([&] { return !newWindows(keyboard).empty(); }, 10000)) << TempDir::read(log());
    EXPECT_EQ(logged("no tray host appeared within"), 1) << TempDir::read(log());
}

TEST_F(ShellByHand, StartMinimizedWithoutATrayShowsAWindow) {
    desktop.watcher.reset();
    JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
    settings.set(SettingsUserDefaults::startMinimized, true);
    settings.set(SettingsUserDefaults::showWelcomePage, false);
    ASSERT_TRUE(settings.synchronize());
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    app = spawn(log());
    ASSERT_GT(app, 0);
    EXPECT_TRUE(spinUntil([&] { return !newWindows(keyboard).empty(); }, 10000)) << TempDir::read(log());
    EXPECT_EQ(logged("no tray host appeared within"), 1) << TempDir::read(log());
}

// No tray: Escape in a window that would leave nothing on screen asks, as
// the title bar's close does, and Cancel leaves the window where it was.
TEST_F(ShellByHand, EscapeWithoutATrayLeavesAWindowOrAsksToQuit) {
    struct Row {
        const char* window;
        bool welcome, rememberedUser, toCreateAccount;
        const char* title;
    };
    const Row rows[] = {
        {"welcome", true, false, false, "Welcome — Havenway"},
        {"Sign In", false, true, false, "Log In — Havenway"},
        {"Sign Up", false, false, false, "Sign Up — Havenway"},
        {"Create Account", false, true, true, "Create Account — Havenway"},
    };
    desktop.watcher.reset();
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.window);
        std::filesystem::remove_all(dir.path() + "/config");
        std::filesystem::remove_all(dir.path() + "/data");
        std::filesystem::remove(log());
        JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
        settings.set(SettingsUserDefaults::showWelcomePage, row.welcome);
        ASSERT_TRUE(settings.synchronize());
        env["HAVENWAY_SECRET_STORE"] = "file";
        if (row.rememberedUser) {
            FileSecretStore secrets(dir.path() + "/data/havenway/secrets.json");
            ASSERT_TRUE(secrets.writeString(GlobalConstants::keychainServiceName, AuthService::kUsernameKey,
                                            "someone@example.com"));
        }
        app = spawn(log());
        std::set<xcb_window_t> shown;
        ASSERT_TRUE(spinUntil([&] { return (shown = newWindows(keyboard)).size() == 1; }, 30000))
            << TempDir::read(log());
        spinFor(500);
        if (row.toCreateAccount) {
            // The window's "create account" link, in its top right corner.
            ASSERT_TRUE(keyboard.click(*shown.begin(), 330, 18));
            ASSERT_TRUE(spinUntil(
                [&] {
                    shown = newWindows(keyboard);
                    return shown.size() == 1 && keyboard.title(*shown.begin()) == row.title;
                },
                10000))
                << TempDir::read(log());
            spinFor(500);
        }
        const xcb_window_t window = *shown.begin();
        EXPECT_EQ(keyboard.title(window), row.title);
        ASSERT_TRUE(keyboard.press(window, 0xff1b /* Escape */));
        std::set<xcb_window_t> question;
        ASSERT_TRUE(spinUntil([&] { return !(question = newWindows(keyboard, shown)).empty(); }, 10000))
            << "nothing asked: " << TempDir::read(log());
        EXPECT_EQ(logged("asking: Closing Havenway"), 1) << TempDir::read(log());
        EXPECT_TRUE(keyboard.shownWindows().count(window)) << "the window stays while the question is asked";
        ASSERT_TRUE(keyboard.press(*question.begin(), 0xff1b /* Escape: Cancel */));
        EXPECT_TRUE(spinUntil([&] { return newWindows(keyboard) == shown; }, 10000)) << TempDir::read(log());
        EXPECT_EQ(terminate(), 0) << TempDir::read(log());
    }
}

// Started minimised, the remembered password no longer the account's: the
// login window shows and says so, with a tray (where nothing else would
// tell) as without one.
class WrongPasswordByHand : public ShellByHand, public ::testing::WithParamInterface<bool> {};

TEST_P(WrongPasswordByHand, AStartMinimizedShowsTheErrorBar) {
    HW_REQUIRE_TESTBED(testbed);
    const bool tray = GetParam();
    if (::access(kOpenbox, X_OK) != 0) GTEST_SKIP() << "no " << kOpenbox << " (scripts/setup installs it)";
    rememberDemoAccount(testbed, VPNProtocols::OpenVPN);
    FileSecretStore secrets(dir.path() + "/data/havenway/secrets.json");
    ASSERT_TRUE(secrets.writeString(GlobalConstants::keychainServiceName, AuthService::kPasswordKey, "changed-since"));
    JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
    settings.set(SettingsUserDefaults::startMinimized, true);
    ASSERT_TRUE(settings.synchronize());
    if (!tray) desktop.watcher.reset();
    ChildProcess wm({kOpenbox, "--sm-disable"}, dir.file("openbox.log"));
    XKeyboard keyboard(desktop.xvfb.display());
    XPointer pointer(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok() && pointer.ok());
    app = spawn(log());
    ASSERT_GT(app, 0);
    std::set<xcb_window_t> shown;
    ASSERT_TRUE(spinUntil([&] { return (shown = framedWindows(keyboard, pointer)).size() == 1; }, 30000))
        << TempDir::read(log());
    EXPECT_EQ(logged("Login button CLICKED"), 1) << "the automatic sign-in, off the screen";
    if (tray) {
        EXPECT_EQ(logged("the automatic sign-in failed off the screen"), 1) << TempDir::read(log());
    }
    // The bar slides in over a fraction of a second; its red then fills a wide patch.
    const auto barShows = [&] {
        for (const auto& patch : pointer.findPatches(*shown.begin(), 0xDD5B5B, 1, 2))
            if (patch.right - patch.left > 200 && patch.bottom - patch.top > 30) return true;
        return false;
    };
    EXPECT_TRUE(spinUntil(barShows, 5000)) << TempDir::read(log());
    spinFor(1000);
    EXPECT_TRUE(barShows()) << "still there a second later";
    // Set up at the opening and again by the account once read; never once the sign-in began.
    const std::string all = TempDir::read(log());
    const auto clicked = all.find("Login button CLICKED");
    ASSERT_NE(clicked, std::string::npos);
    EXPECT_EQ(all.find("LoginView -- setupAfterOpening() executed.", clicked), std::string::npos)
        << "opened once, off the screen: " << all;
}

INSTANTIATE_TEST_SUITE_P(ShellByHand, WrongPasswordByHand, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WithATray" : "WithoutATray"; });

// Signed in, no tray: the main window's close button asks before anything
// goes; Cancel leaves the window where it was.
TEST_F(ShellByHand, ClosingTheMainWindowWithoutATrayLeavesAWayBack) {
    HW_REQUIRE_TESTBED(testbed);
    rememberDemoAccount(testbed, VPNProtocols::OpenVPN);
    desktop.watcher.reset();
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    app = spawn(log());
    std::set<xcb_window_t> login;
    ASSERT_TRUE(spinUntil([&] { return !(login = newWindows(keyboard)).empty(); }, 30000)) << TempDir::read(log());
    std::set<xcb_window_t> main;
    ASSERT_TRUE(spinUntil(
        [&] {
            main = newWindows(keyboard, login);
            return logged("setupMainView executed!") > 0 && main.size() == 1 && newWindows(keyboard).size() == 1;
        },
        60000))
        << TempDir::read(log());
    spinFor(500);
    ASSERT_TRUE(keyboard.closeByTitleBar(*main.begin()));
    std::set<xcb_window_t> question;
    ASSERT_TRUE(spinUntil([&] { return !(question = newWindows(keyboard, main)).empty(); }, 10000))
        << TempDir::read(log());
    EXPECT_EQ(logged("asking: Closing Havenway"), 1) << TempDir::read(log());
    EXPECT_TRUE(keyboard.shownWindows().count(*main.begin())) << "the main window stays while the question is asked";
    ASSERT_TRUE(keyboard.press(*question.begin(), 0xff1b /* Escape: Cancel */));
    EXPECT_TRUE(spinUntil([&] { return newWindows(keyboard) == main; }, 10000)) << TempDir::read(log());
    spinFor(500);
    EXPECT_EQ(newWindows(keyboard), main) << "the main window is still there to come back to";
}

// With a tray, the main window's close sends the application there; its
// menu then offers the window again, and that item brings it back.
TEST_F(ShellByHand, TheMainWindowClosedIntoTheTrayIsOpenedAgainFromItsMenu) {
    HW_REQUIRE_TESTBED(testbed);
    rememberDemoAccount(testbed, VPNProtocols::OpenVPN);
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    std::set<xcb_window_t> main;
    ASSERT_TRUE(spinUntil(
        [&] {
            main = newWindows(keyboard);
            return signedInMenu(service) && logged("setupMainView executed!") > 0 && main.size() == 1 &&
                   keyboard.title(*main.begin()) == "Havenway";
        },
        60000))
        << TempDir::read(log());
    const MenuNode shownMenu = trayLayout(service);
    const MenuNode* open = itemStarting(shownMenu, "Open Havenway");
    EXPECT_TRUE(open && !open->visible()) << "the window shows: no need for the item";
    spinFor(500);
    ASSERT_TRUE(keyboard.closeByTitleBar(*main.begin()));
    ASSERT_TRUE(spinUntil([&] { return newWindows(keyboard).empty(); }, 10000)) << TempDir::read(log());
    EXPECT_EQ(logged("asking: Closing Havenway"), 0);
    MenuNode menu;
    EXPECT_TRUE(spinUntil(
        [&] {
            open = itemStarting(menu = trayLayout(service), "Open Havenway");
            return open && open->visible();
        },
        10000))
        << menu.labels().join(" | ").toStdString();
    ASSERT_NE(open, nullptr);
    EXPECT_TRUE(signedInMenu(service));
    trayClick(service, open->id);
    EXPECT_TRUE(spinUntil([&] { return newWindows(keyboard).size() == 1; }, 10000)) << TempDir::read(log());
}

TEST_F(ShellByHand, SignOutShowsLogInWithTheEmailAndAnEmptyPassword) {
    HW_REQUIRE_TESTBED(testbed);
    rememberDemoAccount(testbed, VPNProtocols::OpenVPN);
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    ASSERT_TRUE(spinUntil([&] { return signedInMenu(service); }, 60000)) << TempDir::read(log());
    EXPECT_EQ(logged("password filled"), 1) << "the remembered account at the start";
    // Once quiet, the hidden login window has given its native window back:
    // signing out makes it anew.
    ASSERT_TRUE(spinUntil([&] { return logged("hidden windows released their native windows") >= 1; }, 15000))
        << TempDir::read(log());

    // The start's window opens before the account is read, so it may pass
    // through the sign-up form first; the sign-out's never does.
    const long signUpsBefore = logged("LoginView -- sign-up mode");
    const long logInsBefore = logged("LoginView -- log-in mode");
    click(service, "Sign Out");
    ASSERT_TRUE(spinUntil(
        [&] { return !signedInMenu(service) && keyboard.shownWindows().size() == 1 && logged("password empty") == 1; },
        15000))
        << TempDir::read(log());
    EXPECT_EQ(logged("LoginView -- log-in mode"), logInsBefore + 1);
    EXPECT_EQ(logged("LoginView -- sign-up mode"), signUpsBefore) << TempDir::read(log());
    EXPECT_EQ(logged("Login button CLICKED"), 1) << "no second automatic sign-in";

    // The password alone, typed where the focus is, and Return sign in again.
    spinFor(300);
    const std::set<xcb_window_t> login = keyboard.shownWindows();
    ASSERT_EQ(login.size(), 1u);
    const std::string password = testbed.get("HAVENWAY_TESTBED_DEMO_PASSWORD");
    ASSERT_EQ(password.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
    ASSERT_TRUE(keyboard.type(*login.begin(), password));
    ASSERT_TRUE(keyboard.press(*login.begin(), 0xff0d /* Return */));
    EXPECT_TRUE(spinUntil([&] { return signedInMenu(service); }, 60000)) << TempDir::read(log());
}

// Signed in by hand through the login window, then left alone: nothing on
// screen moves, so the main thread sleeps (at most one wake-up a second).
TEST_F(ShellByHand, SignedInAndIdleTheMainThreadSleeps) {
    HW_REQUIRE_TESTBED(testbed);
    rememberDemoAccount(testbed, VPNProtocols::OpenVPN);
    JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
    settings.set(SettingsUserDefaults::signMeInWhenHavenwayStarts, false);
    ASSERT_TRUE(settings.synchronize());
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    std::set<xcb_window_t> login;
    ASSERT_TRUE(spinUntil([&] { return (login = newWindows(keyboard)).size() == 1 && logged("password filled") == 1; },
                          30000))
        << TempDir::read(log());
    spinFor(500);
    ASSERT_TRUE(keyboard.press(*login.begin(), 0xff0d /* Return: LOG IN */));
    ASSERT_TRUE(spinUntil([&] { return signedInMenu(service); }, 60000)) << TempDir::read(log());
    EXPECT_EQ(logged("Login button CLICKED"), 1) << "signed in by the login window's button";
    // The main window's first drawing and the data loads settle first.
    ASSERT_TRUE(spinUntil([&] { return logged("setupMainView executed!") > 0; }, 30000)) << TempDir::read(log());
    ASSERT_TRUE(mainThreadSettles(app)) << TempDir::read(log());
    const long wakeUps = wakeUpsOver(10000);
    ASSERT_GE(wakeUps, 0);
    std::printf("main thread, signed in and idle: %ld wake-ups in 10 s\n", wakeUps);
    EXPECT_LE(wakeUps, 10) << TempDir::read(log());
}

// Without a tray the quit key cannot hide the application: it asks.
TEST_F(ShellByHand, CtrlQAsksClosingHavenwayInADialogTitledHavenway) {
    desktop.watcher.reset();
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    app = spawn(log());
    std::set<xcb_window_t> first;
    ASSERT_TRUE(spinUntil([&] { return !(first = newWindows(keyboard)).empty(); }, 30000)) << TempDir::read(log());
    spinFor(500);
    ASSERT_TRUE(keyboard.press(*first.begin(), 'q', XCB_MOD_MASK_CONTROL));
    std::set<xcb_window_t> question;
    ASSERT_TRUE(spinUntil([&] { return !(question = newWindows(keyboard, first)).empty(); }, 10000))
        << TempDir::read(log());
    EXPECT_EQ(keyboard.title(*question.begin()), "Havenway");
    EXPECT_EQ(logged("asking: Closing Havenway"), 1) << TempDir::read(log());
    ASSERT_TRUE(keyboard.press(*question.begin(), 0xff0d /* Return: Quit */));
    EXPECT_EQ(waitChild(app, 30s), 0) << TempDir::read(log());
    app = -1;
}

// In the testbed's client namespace, as in many containers and VMs, no
// physical network interface shows: the install identifier the sign-up
// sends still is never empty.
class ShellByHandInTheNamespace : public ShellByHand {
protected:
    void SetUp() override {
        if (const std::string why = bed.enter(); !why.empty()) GTEST_SKIP() << why;
        ShellByHand::SetUp();
    }
    TestbedEngine bed;
};

TEST_F(ShellByHandInTheNamespace, TheInstallIdentifierComesFromTheMachineId) {
    for (const char* name : {"HAVENWAY_BACKEND_HOST", "HAVENWAY_WEB_HOST", "HAVENWAY_TEST_CA"})
        env[name] = bed.env.get(name);
    env["HAVENWAY_SECRET_STORE"] = "file";
    std::vector<std::string> vars;
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    // Through ip netns exec, as the application runs there: it mounts the
    // namespace's own /sys, whose network folder lists only its interfaces.
    app = spawnLogged({"ip", "netns", "exec", bed.env.get("HAVENWAY_TESTBED_CLIENT_NETNS"), binary()}, vars, log());
    ASSERT_TRUE(spinUntil([&] { return logged("install identifier stored") == 1; }, 30000)) << TempDir::read(log());
    EXPECT_EQ(logged("device identifier taken from the machine-id"), 1) << TempDir::read(log());
    FileSecretStore secrets(dir.path() + "/data/havenway/secrets.json");
    const std::string id = secrets.read(GlobalConstants::keychainServiceName, "appID").text();
    EXPECT_EQ(id.size(), 40u) << id;
}

// The account made by hand: e-mail, password, Return, then GET STARTED.
TEST_F(ShellByHandInTheNamespace, ANewAccountSignsUpAndSignsIn) {
    for (const char* name : {"HAVENWAY_BACKEND_HOST", "HAVENWAY_WEB_HOST", "HAVENWAY_TEST_CA"})
        env[name] = bed.env.get(name);
    env["HAVENWAY_SECRET_STORE"] = "file";
    JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
    settings.set(SettingsUserDefaults::showWelcomePage, false);
    ASSERT_TRUE(settings.synchronize());
    std::vector<std::string> vars;
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    app = spawnLogged({"ip", "netns", "exec", bed.env.get("HAVENWAY_TESTBED_CLIENT_NETNS"), binary()}, vars, log());
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 30000)) << TempDir::read(log());
    const QString service = desktop.watcher->items().front();
    std::set<xcb_window_t> shown;
    ASSERT_TRUE(spinUntil([&] { return (shown = keyboard.shownWindows()).size() == 1 && logged("sign-up mode") == 1; },
                          30000))
        << TempDir::read(log());
    spinFor(500);
    const xcb_window_t login = *shown.begin();
    const std::string email = "by.hand." + std::to_string(::getpid()) + "." + std::to_string(::time(nullptr)) + "@example.com";
    ASSERT_TRUE(keyboard.type(login, email));
    ASSERT_TRUE(keyboard.press(login, 0xff0d /* Return: on to the password */));
    ASSERT_TRUE(keyboard.type(login, "byhand123"));
    ASSERT_TRUE(keyboard.press(login, 0xff0d /* Return: sign up */));
    ASSERT_TRUE(spinUntil([&] { return logged("account created") == 1; }, 60000)) << TempDir::read(log());
    // GET STARTED, where the log-in button is, once it shows (again after a
    // while if a busy machine let the click come first).
    spinFor(1000);
    bool signedIn = false;
    for (int attempt = 0; attempt < 3 && !signedIn; ++attempt) {
        ASSERT_TRUE(keyboard.click(login, 190, 478));
        signedIn = spinUntil([&] { return signedInMenu(service); }, 20000);
    }
    EXPECT_TRUE(signedIn) << TempDir::read(log());
}

}  // namespace
}  // namespace hw::test
