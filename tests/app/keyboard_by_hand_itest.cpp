// The application used with the keyboard alone: the built application on a
// private display in the testbed's client namespace, beside the real helper,
// driven only by key presses. Each step is found by the window it shows (its
// title) and by what the application reports of it.
#include "app/havenway_process_fixture.h"

#include <sys/wait.h>

namespace hw::test {
namespace {

constexpr xcb_keysym_t kTab = 0xff09, kReturn = 0xff0d, kEscape = 0xff1b, kRight = 0xff53, kSpace = ' ';

class KeyboardByHand : public HavenwayTray {
protected:
    void SetUp() override {
        if (const std::string why = bed.enter(); !why.empty()) GTEST_SKIP() << why;
        HavenwayTray::SetUp();
        if (IsSkipped()) return;
        // No panel: the tray's menu is no road for the keyboard, and without it
        // the quit key asks rather than hiding the application there.
        desktop.watcher.reset();
        ASSERT_TRUE(notifications.serve(QString::fromStdString(desktop.bus.address())));
        keys = std::make_unique<XKeyboard>(desktop.xvfb.display());
        ASSERT_TRUE(keys->ok());
        const std::string ns = bed.env.get("HAVENWAY_TESTBED_CLIENT_NETNS");
        TempDir::write(bed.dir.file("helper.conf"), "uid=" + std::to_string(::getuid()) + "\n");
        ::chmod(bed.dir.path().c_str(), 0711);
        TempDir::write(bed.dir.file("resolv.conf"), "nameserver " + bed.env.get("HAVENWAY_TESTBED_VPN_SERVER") + "\n");
        ::mkdir(bed.dir.file("run").c_str(), 0700);
        auto environment = testbed::helperEnvironment(bed.dir.path());
        environment.push_back("HAVENWAY_TEST_CA=" + bed.env.get("HAVENWAY_TEST_CA"));
        helper = ChildProcess({"ip", "netns", "exec", ns, helperBinary()}, bed.dir.file("helper.log"), environment);
        ASSERT_TRUE(waitFor([&] { return helperSocketListens(bed.dir.file("helper.sock")); }, 10s))
            << bed.helperLog();
        std::filesystem::create_directories(dir.file("units"));
        TempDir::write(dir.file("units/com.havenway.HelperTool.service"), "[Service]\nExecStart=" + helperBinary() + "\n");
        env["HAVENWAY_HELPER_SOCKET"] = bed.dir.file("helper.sock");
        env["HAVENWAY_SYSTEMD_UNIT_DIRS"] = dir.file("units");
        for (const char* name : {"HAVENWAY_BACKEND_HOST", "HAVENWAY_WEB_HOST", "HAVENWAY_TEST_CA"})
            env[name] = bed.env.get(name);
        env["HAVENWAY_SECRET_STORE"] = "file";
    }
    void TearDown() override {
        HavenwayTray::TearDown();
        if (helper.pid() <= 0) return;
        helper.stop();
        auto environment = testbed::helperEnvironment(bed.dir.path());
        environment.push_back("ASAN_OPTIONS=detect_leaks=0");
        const pid_t reset = spawnLogged({"ip", "netns", "exec", bed.env.get("HAVENWAY_TESTBED_CLIENT_NETNS"),
                                         helperBinary(), "--reset"},
                                        bed.dir.file("helper.log"), environment);
        if (reset > 0) waitChild(reset, 20s);
    }
    static std::string helperBinary() { return HW_BINARY_DIR "/helper/havenway-helper"; }

    // The shown window with exactly this title; 0 while there is none.
    xcb_window_t titled(const std::string& title) {
        for (xcb_window_t w : keys->shownWindows())
            if (keys->title(w) == title) return w;
        return 0;
    }
    xcb_window_t waitTitled(const std::string& title, int ms = 30000) {
        xcb_window_t found = 0;
        spinUntil([&] { return (found = titled(title)) != 0; }, ms);
        return found;
    }
    void press(xcb_window_t window, std::initializer_list<xcb_keysym_t> sequence, uint16_t state = 0) {
        // The display delivers them in order, and the application handles them in order.
        for (xcb_keysym_t key : sequence) ASSERT_TRUE(keys->press(window, key, state));
    }
    long notifiedStarting(const QString& text) const {
        return std::count_if(notifications.notified.begin(), notifications.notified.end(),
                             [&](const auto& n) { return n.summary.startsWith(text); });
    }

    TestbedEngine bed;
    FakeNotificationDaemon notifications;
    ChildProcess helper;
    std::unique_ptr<XKeyboard> keys;
};

TEST_F(KeyboardByHand, WelcomeSignInConnectDisconnectEverySettingsPaneAndQuit) {
    std::vector<std::string> vars;
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    app = spawnLogged({"ip", "netns", "exec", bed.env.get("HAVENWAY_TESTBED_CLIENT_NETNS"), binary()}, vars, log());
    ASSERT_GT(app, 0);

    // Welcome: the arrows turn the pages; Shift+Tab from wherever the window
    // starts reaches SIGN UP, then LOG IN, which Return presses.
    const xcb_window_t welcome = waitTitled("Welcome \u2014 Havenway");
    ASSERT_NE(welcome, 0u) << TempDir::read(log());
    spinFor(500);
    press(welcome, {kRight, kRight});
    press(welcome, {kTab}, XCB_MOD_MASK_SHIFT);
    press(welcome, {kTab}, XCB_MOD_MASK_SHIFT);
    press(welcome, {kReturn});
    const xcb_window_t signIn = waitTitled("Log In \u2014 Havenway");
    ASSERT_NE(signIn, 0u) << TempDir::read(log());
    EXPECT_EQ(logged("onLogInButtonClick"), 1) << TempDir::read(log());

    // The e-mail field has the focus; Return goes on to the password, and again signs in.
    spinFor(500);
    ASSERT_TRUE(keys->type(signIn, bed.env.get("HAVENWAY_TESTBED_DEMO_USER")));
    press(signIn, {kReturn});
    ASSERT_TRUE(keys->type(signIn, bed.env.get("HAVENWAY_TESTBED_DEMO_PASSWORD")));
    press(signIn, {kReturn});
    xcb_window_t main = 0;
    ASSERT_TRUE(spinUntil([&] { return !titled("Log In \u2014 Havenway") && (main = titled("Havenway")); }, 60000))
        << TempDir::read(log());

    // Ctrl+Return is the connect button's key, whatever has the focus.
    spinFor(1000);
    press(main, {kReturn}, XCB_MOD_MASK_CONTROL);
    ASSERT_TRUE(spinUntil([&] { return notifiedStarting("Connected to ") == 1; }, 90000))
        << TempDir::read(log()) << bed.helperLog();
    // The button takes a second press only a second after the first: again
    // until it asks for the disconnect, as a person presses again.
    bool asked = false;
    for (int attempt = 0; attempt < 5 && !asked; ++attempt) {
        press(main, {kReturn}, XCB_MOD_MASK_CONTROL);
        asked = spinUntil([&] { return logged("DISCONNECT requested") == 1; }, 1500);
    }
    ASSERT_TRUE(asked) << TempDir::read(log());
    ASSERT_TRUE(spinUntil([&] { return logged("Connection status updated: Disconnected") >= 1; }, 30000))
        << TempDir::read(log());

    // The main window starts on its first button; Tab goes on to Settings,
    // Space presses it.
    press(main, {kTab, kSpace});
    const xcb_window_t settings = waitTitled("Settings \u2014 Havenway", 15000);
    ASSERT_NE(settings, 0u) << TempDir::read(log());
    spinFor(500);
    // Settings opens on its first pane's button: Tab and Space reach every pane.
    for (const char* pane : {"onProtocolItemClick", "onAutoWiFiItemClick", "onKillSwitchItemClick", "onSupportItemClick"}) {
        press(settings, {kTab, kSpace});
        EXPECT_TRUE(spinUntil([&] { return logged(pane) == 1; }, 10000)) << pane;
    }
    press(settings, {kTab, kTab, kTab}, XCB_MOD_MASK_SHIFT);
    press(settings, {kTab}, XCB_MOD_MASK_SHIFT);
    press(settings, {kReturn});
    EXPECT_TRUE(spinUntil([&] { return logged("onGeneralItemClick") == 1; }, 10000)) << "Return on a pane's button";
    press(settings, {kEscape});
    EXPECT_TRUE(spinUntil([&] { return !titled("Settings \u2014 Havenway"); }, 10000)) << "Escape closes Settings";
    EXPECT_EQ(titled("Havenway"), main) << "and only Settings";

    // Escape leaves the main window alone.
    press(main, {kEscape});
    spinFor(300);
    EXPECT_EQ(titled("Havenway"), main);

    // Ctrl+Q asks; Return answers Quit.
    const std::set<xcb_window_t> before = keys->shownWindows();
    press(main, {'q'}, XCB_MOD_MASK_CONTROL);
    int status = 0;
    bool exited = false;
    ASSERT_TRUE(spinUntil(
        [&] {
            if (exited) return true;
            for (xcb_window_t w : keys->shownWindows())
                if (!before.count(w) && !keys->overrideRedirect(w)) keys->press(w, kReturn);
            return exited = ::waitpid(app, &status, WNOHANG) == app;
        },
        30000))
        << TempDir::read(log());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << TempDir::read(log());
    app = -1;
}

}  // namespace
}  // namespace hw::test
