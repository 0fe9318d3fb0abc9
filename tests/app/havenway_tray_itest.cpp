// The built application as a user starts it, and its tray as a desktop's panel
// meets it. A private X display and bus; with the testbed, the demo account,
// and as root the helper and the VPN servers.
#include "app/havenway_process_fixture.h"

#include <iostream>

namespace hw::test {
namespace {

// Without a helper or backend, and without a runtime folder (the lock goes to the
// temporary folder): one copy per user, the signed-out menu, a click on the item
// is the reopen, and a clean end on SIGTERM.
using HavenwayProcess = HavenwayTray;

TEST_F(HavenwayProcess, OneCopyPerUserAndACleanEndOnSIGTERM) {
    env.erase("HAVENWAY_RUNTIME_DIR");
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    ASSERT_TRUE(spinUntil([&] { return logged(": shown") > 0; }, 30000)) << TempDir::read(log());
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/havenway-" + std::to_string(::geteuid()) + "/instance.lock"));
    MenuNode root;
    ASSERT_TRUE(spinUntil([&] { return !(root = trayLayout(service)).children.empty(); }, 10000));
    EXPECT_EQ(root.labels(), (QStringList{"Open Havenway", "Sign In", "Quit Havenway"}));

    const pid_t second = spawn(dir.file("second.log"));
    EXPECT_EQ(waitChild(second, 10s), 0) << TempDir::read(dir.file("second.log"));
    EXPECT_TRUE(spinUntil([&] { return logged("a later start asked for reopen") == 1; }, 10000)) << TempDir::read(log());
    const long reopens = logged("applicationShouldHandleReopen");
    trayCall(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {0, 0});
    EXPECT_TRUE(spinUntil([&] { return logged("applicationShouldHandleReopen") > reopens; }, 15000))
        << "a click on the item is the reopen";

    EXPECT_EQ(terminate(), 0) << TempDir::read(log());
    EXPECT_EQ(logged("applicationWillTerminate complitely finished."), 1) << TempDir::read(log());
}

// The whole road on the testbed's VPN servers, with the real helper. The
// display, the bus and the application share the client namespace, where
// their sockets may be abstract ones; the helper runs through ip netns exec
// for the namespace's resolver, which its openvpn asks for the server.
class HavenwayTrayConnects : public HavenwayTray {
protected:
    void SetUp() override {
        if (const std::string why = bed.enter(); !why.empty()) GTEST_SKIP() << why;
        HavenwayTray::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(notifications.serve(QString::fromStdString(desktop.bus.address())));
        const std::string ns = bed.env.get("HAVENWAY_TESTBED_CLIENT_NETNS");
        TempDir::write(bed.dir.file("helper.conf"), "uid=" + std::to_string(appUser.value_or(::getuid())) + "\n");
        // The socket is the user's; its folder only needs to be passed through.
        ::chmod(bed.dir.path().c_str(), 0711);
        TempDir::write(bed.dir.file("resolv.conf"), "nameserver " + bed.env.get("HAVENWAY_TESTBED_VPN_SERVER") + "\n");
        ::mkdir(bed.dir.file("run").c_str(), 0700);
        // The testbed's CA, which its IKEv2 server's certificate comes from.
        auto environment = testbed::helperEnvironment(bed.dir.path());
        environment.push_back("HAVENWAY_TEST_CA=" + bed.env.get("HAVENWAY_TEST_CA"));
        helper = ChildProcess({"ip", "netns", "exec", ns, helperBinary()}, bed.dir.file("helper.log"), environment);
        ASSERT_TRUE(waitFor([&] { return ::access(bed.dir.file("helper.sock").c_str(), F_OK) == 0; }, 10s))
            << bed.helperLog();
        // The helper as a system unit would have installed it.
        std::filesystem::create_directories(dir.file("units"));
        TempDir::write(dir.file("units/com.havenway.HelperTool.service"), "[Service]\nExecStart=" + helperBinary() + "\n");
        env["HAVENWAY_HELPER_SOCKET"] = bed.dir.file("helper.sock");
        env["HAVENWAY_SYSTEMD_UNIT_DIRS"] = dir.file("units");
        rememberDemoAccount(bed.env, VPNProtocols::OpenVPN);
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
    // The pixels of every size of the item's image, as the panel reads them.
    QByteArray icon(const QString& service) {
        const auto images = trayCall(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                                     {"org.kde.StatusNotifierItem", "IconPixmap"})
                                .arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
        QByteArray pixels;
        images.beginArray();
        while (!images.atEnd()) {
            int width = 0, height = 0;
            QByteArray data;
            images.beginStructure();
            images >> width >> height >> data;
            images.endStructure();
            pixels += data;
        }
        images.endArray();
        return pixels;
    }
    long notified(const QString& summary) const {
        return std::count_if(notifications.notified.begin(), notifications.notified.end(),
                             [&](const auto& n) { return n.summary == summary; });
    }
    void click(const QString& service, const MenuNode* item) {
        ASSERT_NE(item, nullptr);
        trayClick(service, item->id);
    }
    // The openvpn of the client namespace, which the helper started.
    pid_t clientOpenVPN() {
        ProcessRequest r;
        r.argv = {"pgrep", "-x", "--ns", std::to_string(::getpid()), "--nslist", "net", "openvpn"};
        r.timeout = 5s;
        const auto found = bed.runner.run(r);
        return found.ok() ? std::stoi(found.out) : -1;
    }

    TestbedEngine bed;
    FakeNotificationDaemon notifications;
    ChildProcess helper;
};

// Connected in automatic mode and left alone: the tray names the protocol in
// use, as the pane does, and the main thread wakes once a second, for the
// session clock on screen. Each repaint of it waits once more, inside that
// wake, for the X server to release the last frame's shared memory: two
// voluntary switches a second at most.
TEST_F(HavenwayTrayConnects, ConnectedAndIdleTheMainThreadSleeps) {
    JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
    settings.set(SettingsUserDefaults::vpnProtocols, std::string(rawValue(VPNProtocols::Automatic)));
    ASSERT_TRUE(settings.synchronize());
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    MenuNode root;
    const MenuNode* locations = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (locations = flaggedLocations(service, root)); }, 60000)) << TempDir::read(log());
    click(service, itemStarting(*locations, "Netherlands"));
    ASSERT_TRUE(spinUntil([&] { return notified("Connected to Netherlands") == 1; }, 90000))
        << TempDir::read(log()) << bed.helperLog();
    const QString ip = QString::fromStdString("IP: " + bed.env.get("HAVENWAY_TESTBED_TUNNEL_EXIT"));
    MenuNode menu;
    EXPECT_TRUE(spinUntil([&] { return itemStarting(menu = trayLayout(service), ip) != nullptr; }, 20000))
        << menu.labels().join(" | ").toStdString();
    const MenuNode* protocol = itemStarting(menu, "Protocol:");
    ASSERT_NE(protocol, nullptr) << menu.labels().join(" | ").toStdString();
    EXPECT_TRUE(protocol->label().contains("IKEv2") || protocol->label().contains("OpenVPN"))
        << protocol->label().toStdString() << ": the protocol in use, not the setting";

    // The clock's two seconds.
    ASSERT_TRUE(mainThreadSettles(app, 4)) << TempDir::read(log());
    const long before = voluntarySwitches(app);
    ASSERT_GE(before, 0);
    spinFor(10000);
    const long wakeUps = voluntarySwitches(app) - before;
    std::printf("main thread, connected and idle: %ld voluntary switches in 10 s\n", wakeUps);
    EXPECT_LE(wakeUps, 20) << TempDir::read(log());
}

TEST_F(HavenwayTrayConnects, NetherlandsFromTheTrayConnectsOverOpenVPNAndQuitLeavesNothingBehind) {
    const std::string before = bed.networkState();
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    MenuNode root;
    const MenuNode* locations = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (locations = flaggedLocations(service, root)); }, 60000)) << TempDir::read(log());
    // The remembered account signed in by itself: the full menu.
    EXPECT_EQ(locations->children[0].label(), "Automatic");
    EXPECT_TRUE(root.labels().contains("Sign Out")) << root.labels().join(" | ").toStdString();
    EXPECT_NE(itemStarting(root, "Location:  "), nullptr);
    const QByteArray disconnectedIcon = icon(service);

    click(service, itemStarting(*locations, "Netherlands"));
    std::set<QByteArray> icons;
    ASSERT_TRUE(spinUntil(
        [&] {
            icons.insert(icon(service));
            return notified("Connected to Netherlands") == 1;
        },
        60000))
        << TempDir::read(log()) << bed.helperLog();
    const pid_t client = clientOpenVPN();
    EXPECT_GT(client, 0);
    const QByteArray connectedIcon = icon(service);
    spinFor(600);
    EXPECT_EQ(icon(service), connectedIcon) << "the animation went on";
    icons.erase(disconnectedIcon);
    icons.erase(connectedIcon);
    EXPECT_GE(icons.size(), 2u) << "no animation while connecting";
    EXPECT_NE(connectedIcon, disconnectedIcon);
    const QString ip = QString::fromStdString("IP: " + bed.env.get("HAVENWAY_TESTBED_TUNNEL_EXIT"));
    MenuNode menu;
    EXPECT_TRUE(spinUntil([&] { return itemStarting(menu = trayLayout(service), ip) != nullptr; }, 20000))
        << menu.labels().join(" | ").toStdString();

    // A drop is announced, and the reconnect that follows is too.
    ::kill(client, SIGKILL);
    EXPECT_TRUE(spinUntil([&] { return notified("Disconnected from Netherlands") == 1; }, 30000)) << TempDir::read(log());
    ASSERT_TRUE(spinUntil([&] { return notified("Connected to Netherlands") == 2; }, 60000)) << TempDir::read(log());

    // A disconnect the user asks for is not: the pane lets go of the tunnel
    // before the engine reports its end.
    click(service, itemStarting(trayLayout(service), "Disconnect"));
    EXPECT_TRUE(spinUntil(
        [&] { return icon(service) == disconnectedIcon && itemStarting(trayLayout(service), "Connect") != nullptr; },
        30000));
    EXPECT_EQ(notified("Disconnected from Netherlands"), 1);

    XKeyboard keyboard(desktop.xvfb.display());
    ASSERT_TRUE(keyboard.ok());
    const auto shown = keyboard.shownWindows();
    click(service, itemStarting(trayLayout(service), "Quit"));
    xcb_window_t question = 0;
    ASSERT_TRUE(spinUntil(
        [&] {
            for (xcb_window_t w : keyboard.shownWindows())
                if (!shown.count(w)) question = w;
            return question != 0;
        },
        10000));
    ASSERT_TRUE(keyboard.press(question, 0xff0d /* Return: the default button, Quit */));
    EXPECT_EQ(waitChild(app, 30s), 0) << TempDir::read(log());
    app = -1;
    EXPECT_EQ(clientOpenVPN(), -1);
    EXPECT_TRUE(spinUntil([&] { return bed.networkState() == before; }, 15000)) << bed.networkState() << "\nversus\n"
                                                                                 << before;
}

// The kill switch in the running application, as a user meets it: the real
// havenway as an ordinary user (nobody) beside the real root helper, its
// Settings window reached through the main window's gear, the tray driven as
// a panel.
class KillSwitchByHand : public HavenwayTrayConnects {
protected:
    void SetUp() override {
        appUser = 65534;
        HavenwayTrayConnects::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        handOver();
        keys = std::make_unique<XKeyboard>(desktop.xvfb.display());
        mouse = std::make_unique<XPointer>(desktop.xvfb.display());
        ASSERT_TRUE(keys->ok());
        ASSERT_TRUE(mouse->ok());
    }
    void TearDown() override {
        run({"nft", "delete", "table", "inet", "hw_test_no_dns"});
        HavenwayTrayConnects::TearDown();
    }
    // The setting as an earlier run left it.
    void killSwitchWasOn() {
        JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
        settings.set(SettingsUserDefaults::useNetworkLock, true);
        ASSERT_TRUE(settings.synchronize());
        handOver();
    }
    ProcessResult run(std::vector<std::string> argv) {
        ProcessRequest r;
        r.argv = std::move(argv);
        r.timeout = 5s;
        return bed.runner.run(r);
    }
    bool lockEngaged() { return run({"nft", "list", "table", "inet", "havenway"}).ok(); }
    // The IPv4 servers the lock lets through, as nft lists them ("a, b").
    std::string allowedServers() {
        const std::string out = run({"nft", "list", "set", "inet", "havenway", "servers4"}).out;
        const auto from = out.find("elements = {"), to = out.find('}', from);
        if (from == std::string::npos || to == std::string::npos) return "";
        std::string list = out.substr(from + 12, to - from - 12);
        std::erase_if(list, [](char c) { return c == ' ' || c == '\n' || c == '\t'; });
        return list;
    }
    // From here on no name server answers the client namespace (the
    // application's lookups, the helper's openvpn and charon alike).
    void blockNameServers() {
        for (const std::string& rule : {std::string("add table inet hw_test_no_dns"),
                                        std::string("add chain inet hw_test_no_dns out { type filter hook output priority -10; }"),
                                        std::string("add rule inet hw_test_no_dns out udp dport 53 drop"),
                                        std::string("add rule inet hw_test_no_dns out tcp dport 53 drop")}) {
            ProcessRequest r;
            r.argv = {"nft", "-f", "-"};
            r.stdinData = rule + "\n";
            r.timeout = 5s;
            ASSERT_TRUE(bed.runner.run(r).ok()) << rule;
        }
    }
    void unblockNameServers() { run({"nft", "delete", "table", "inet", "hw_test_no_dns"}); }
    // The settings an earlier run left: the protocol and the kill switch.
    void earlierRunChose(VPNProtocols protocol, bool lock) {
        JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
        settings.set(SettingsUserDefaults::vpnProtocols, std::string(rawValue(protocol)));
        settings.set(SettingsUserDefaults::useNetworkLock, lock);
        ASSERT_TRUE(settings.synchronize());
        handOver();
    }
    // Quits from the tray and answers the question with its default, Quit.
    void quitFromTheTray(const QString& service) {
        const auto shown = keys->shownWindows();
        click(service, itemStarting(trayLayout(service), "Quit"));
        xcb_window_t question = 0;
        ASSERT_TRUE(spinUntil(
            [&] {
                for (xcb_window_t w : keys->shownWindows())
                    if (!shown.count(w)) question = w;
                return question != 0;
            },
            10000));
        ASSERT_TRUE(keys->press(question, 0xff0d /* Return */));
        EXPECT_EQ(waitChild(app, 30s), 0) << TempDir::read(log());
        app = -1;
    }
    std::string defaultRoute() { return run({"ip", "route", "show", "default"}).out; }
    // Questions the testbed's name server took at that address from sources
    // starting with the prefix.
    long questions(const std::string& at, const std::string& fromPrefix) const {
        const std::string log = TempDir::read(bed.env.get("HAVENWAY_TESTBED_DNS_LOG"));
        const std::string needle = " at " + at + " from " + fromPrefix;
        long n = 0;
        for (auto i = log.find(needle); i != std::string::npos; i = log.find(needle, i + 1)) ++n;
        return n;
    }
    const MenuNode* locationsMenu(const QString& service) {
        MenuNode root;
        const MenuNode* locations = nullptr;
        spinUntil([&] { return (locations = flaggedLocations(service, root)); }, 60000);
        static MenuNode kept;
        if (locations) kept = *locations;
        return locations ? &kept : nullptr;
    }
    // The settings file as the application left it.
    JsonSettingsStore stored() { return JsonSettingsStore(dir.path() + "/config/havenway/settings.json"); }

    // Colours the windows draw with: the main window's top-bar buttons, the
    // Settings toolbar's icons, the rim of a check or radio box, the default
    // button's rim.
    static constexpr std::uint32_t kTopBarInk = 0xd5d6d8, kToolbarIcon = 0x4b4e51, kBoxRim = 0xbcbcbc,
                                   kDefaultRim = 0x26709e;

    // Settings as a user opens it: Open Havenway, then the gear, second from
    // the right of the main window's top-bar buttons (the list button's thin
    // lines never show the ink unblended). The Settings window, or 0.
    xcb_window_t openSettings(const QString& service) {
        const MenuNode menu = trayLayout(service);
        const MenuNode* open = itemStarting(menu, "Open Havenway");
        if (!open) return 0;
        trayClick(service, open->id);
        std::vector<XPointer::Point> buttons;
        const bool shown = spinUntil(
            [&] {
                for (xcb_window_t w : keys->shownWindows())
                    if ((buttons = mouse->findColourSpots(w, kTopBarInk, {0, 0, 1 << 15, 48}, 8)).size() >= 2) return true;
                return false;
            },
            20000);
        if (!shown) return 0;
        const auto before = keys->shownWindows();
        mouse->click(buttons[buttons.size() - 2]);
        xcb_window_t settings = 0;
        spinUntil(
            [&] {
                for (xcb_window_t w : keys->shownWindows())
                    if (!before.count(w)) settings = w;
                return settings != 0;
            },
            15000);
        return settings;
    }
    // Clicks the pane's item in the toolbar (0 General, 1 Protocol, 3 Kill
    // Switch), then, once the pane shows its count of check or radio boxes,
    // the box-th from the top, then Apply. Empty once the window has closed,
    // else the step that failed.
    std::string tickAndApply(xcb_window_t settings, int pane, const std::string& paneAction, std::size_t count,
                             std::size_t box) {
        std::vector<XPointer::Point> items, boxes, apply;
        if (!spinUntil([&] { return (items = mouse->findColourSpots(settings, kToolbarIcon, {0, 0, 1 << 15, 60}, 8)).size() == 5; },
                       10000))
            return "toolbar items: " + std::to_string(items.size());
        const long chosen = logged(paneAction);
        mouse->click(items[std::size_t(pane)]);
        if (!spinUntil([&] { return logged(paneAction) > chosen; }, 10000)) return "no " + paneAction;
        const XPointer::Point size = mouse->size(settings);
        // The boxes' column is the leftmost showing their rim (text, further
        // right, has pixels of that grey too); the boxes lie down it.
        const auto column = [&]() -> std::vector<XPointer::Point> {
            const auto spots = mouse->findColourSpots(settings, kBoxRim, {0, 70, size.x / 4, size.y - 60}, 4);
            if (spots.empty()) return {};
            const int x = spots.front().x - mouse->origin(settings).x;
            return mouse->findColourSpots(settings, kBoxRim, {x - 8, 70, x + 8, size.y - 60}, 16, false, true);
        };
        // The boxes where they stay: the same in two looks in a row (a busy
        // machine may still be laying the pane out, or resizing the window).
        // Looks are counted, not timed: a machine this busy may stall long
        // enough for any time bound to pass between two looks.
        const auto settledBoxes = [&] {
            std::vector<XPointer::Point> previous;
            for (int look = 0; look < 500; ++look) {
                boxes = column();
                if (boxes.size() == count && boxes == previous) return true;
                previous = boxes;
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 40);
            }
            return false;
        };
        if (!settledBoxes()) return "boxes: " + std::to_string(boxes.size());
        const long changes = logged("on Options parameters changed!");
        // Again, from a fresh look, when the click came before the box took clicks.
        bool changed = false;
        for (int attempt = 0; attempt < 5 && !changed; ++attempt) {
            if (attempt > 0 && !settledBoxes()) return "boxes: " + std::to_string(boxes.size());
            mouse->click(boxes[box]);
            changed = spinUntil([&] { return logged("on Options parameters changed!") > changes; }, 5000);
        }
        if (!changed) return "no change at " + std::to_string(boxes[box].x) + "," + std::to_string(boxes[box].y);
        const XPointer::Band bottom{size.x / 2, size.y - 54, size.x, size.y};
        if (!spinUntil([&] { return !(apply = mouse->findColourSpots(settings, kDefaultRim, bottom, 8)).empty(); }, 10000))
            return "no Apply";
        mouse->click(apply.back());
        return spinUntil([&] { return !keys->shownWindows().count(settings); }, 10000) ? "" : "the window stayed";
    }
    // Connects to the Netherlands from the tray; the protocol the tray then names.
    QString connectNetherlands(const QString& service, long times) {
        const MenuNode* locations = locationsMenu(service);
        if (!locations) return "no locations";
        click(service, itemStarting(*locations, "Netherlands"));
        if (!spinUntil([&] { return notified("Connected to Netherlands") == times; }, 90000)) return "not connected";
        const MenuNode* protocol = nullptr;
        MenuNode menu;
        spinUntil([&] { return (protocol = itemStarting(menu = trayLayout(service), "Protocol:")) != nullptr; }, 10000);
        return protocol ? protocol->label() : "no protocol";
    }
    // A datagram to an address outside the tunnel arrives only through it,
    // from the tunnel's addresses (the prefix).
    void outsideOnlyThrough(const std::string& tunnelPrefix) {
        const std::string outside = GlobalConstants::primaryDNS;
        const long through = questions(outside, tunnelPrefix), around = questions(outside, "10.66.0.");
        EXPECT_TRUE(nameServerAnswers(outside));
        EXPECT_TRUE(waitFor([&] { return questions(outside, tunnelPrefix) == through + 1; }, 5s)) << tunnelPrefix;
        EXPECT_EQ(questions(outside, "10.66.0."), around);
    }

    void storedAddressRoad(VPNProtocols protocol);
    void unresolvableRoad(VPNProtocols protocol, int reconnects);

    std::unique_ptr<XKeyboard> keys;
    std::unique_ptr<XPointer> mouse;
};

// One launch for the whole road: the kill switch on in Settings, a connect
// over OpenVPN and then over IKEv2 (chosen in Settings) under the lock, and
// the kill switch off again.
TEST_F(KillSwitchByHand, SettingsTurnTheLockOnForBothProtocolsAndOffAgain) {
    const std::string route = defaultRoute();
    ASSERT_FALSE(route.empty());
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    ASSERT_NE(locationsMenu(service), nullptr) << TempDir::read(log());
    const QString ip = QString::fromStdString("IP: " + bed.env.get("HAVENWAY_TESTBED_TUNNEL_EXIT"));
    const auto disconnect = [&] {
        click(service, itemStarting(trayLayout(service), "Disconnect"));
        EXPECT_TRUE(spinUntil([&] { return !lockEngaged() && defaultRoute() == route; }, 30000))
            << defaultRoute() << bed.helperLog();
    };

    xcb_window_t settings = openSettings(service);
    ASSERT_NE(settings, 0u) << TempDir::read(log());
    ASSERT_EQ(tickAndApply(settings, 3, "onKillSwitchItemClick", 1, 0), "") << TempDir::read(log());
    EXPECT_TRUE(stored().boolForKey(SettingsUserDefaults::useNetworkLock));

    EXPECT_TRUE(connectNetherlands(service, 1).contains("OpenVPN")) << TempDir::read(log()) << bed.helperLog();
    EXPECT_TRUE(lockEngaged());
    EXPECT_TRUE(spinUntil([&] { return itemStarting(trayLayout(service), ip) != nullptr; }, 20000));
    outsideOnlyThrough("10.67.0.");
    disconnect();

    // IKEv2, the fourth of the protocol's radio boxes.
    ASSERT_NE(settings = openSettings(service), 0u) << TempDir::read(log());
    ASSERT_EQ(tickAndApply(settings, 1, "onProtocolItemClick", 4, 3), "") << TempDir::read(log());
    EXPECT_EQ(stored().stringForKey(SettingsUserDefaults::vpnProtocols), std::string(rawValue(VPNProtocols::IKEv2_StrongSwan)));
    EXPECT_TRUE(connectNetherlands(service, 2).contains("IKEv2")) << TempDir::read(log()) << bed.helperLog();
    EXPECT_TRUE(lockEngaged());
    EXPECT_TRUE(spinUntil([&] { return itemStarting(trayLayout(service), ip) != nullptr; }, 20000));
    outsideOnlyThrough("10.68.0.");
    disconnect();

    ASSERT_NE(settings = openSettings(service), 0u) << TempDir::read(log());
    ASSERT_EQ(tickAndApply(settings, 3, "onKillSwitchItemClick", 1, 0), "") << TempDir::read(log());
    EXPECT_FALSE(stored().boolForKey(SettingsUserDefaults::useNetworkLock));
    EXPECT_FALSE(lockEngaged());
    EXPECT_EQ(defaultRoute(), route);
    EXPECT_EQ(terminate(), 0) << TempDir::read(log());
}

// An account made a moment ago in the sign-up window connects, under the lock
// an earlier run left on: e-mail, password, Return, then GET STARTED.
TEST_F(KillSwitchByHand, ANewAccountFromTheSignUpWindowConnects) {
    killSwitchWasOn();
    std::filesystem::remove(dir.path() + "/data/havenway/secrets.json");
    const std::string route = defaultRoute();
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    std::set<xcb_window_t> shown;
    ASSERT_TRUE(spinUntil([&] { return (shown = keys->shownWindows()).size() == 1 && logged("sign-up mode") == 1; },
                          30000))
        << TempDir::read(log());
    spinFor(500);
    const xcb_window_t window = *shown.begin();
    const std::string email = "kill.switch." + std::to_string(::getpid()) + "." + std::to_string(::time(nullptr)) +
                              "@example.com";
    ASSERT_TRUE(keys->type(window, email));
    ASSERT_TRUE(keys->press(window, 0xff0d /* Return: on to the password */));
    ASSERT_TRUE(keys->type(window, "byhand123"));
    ASSERT_TRUE(keys->press(window, 0xff0d /* Return: sign up */));
    ASSERT_TRUE(spinUntil([&] { return logged("account created") == 1; }, 60000)) << TempDir::read(log());
    // GET STARTED, where the log-in button is, once it shows (again after a
    // while if a busy machine let the click come first).
    spinFor(1000);
    bool signedIn = false;
    for (int attempt = 0; attempt < 3 && !signedIn; ++attempt) {
        ASSERT_TRUE(keys->click(window, 190, 478));
        signedIn = spinUntil([&] { return itemStarting(trayLayout(service), "Sign Out") != nullptr; }, 20000);
    }
    ASSERT_TRUE(signedIn) << TempDir::read(log());

    EXPECT_TRUE(connectNetherlands(service, 1).contains("OpenVPN")) << TempDir::read(log()) << bed.helperLog();
    EXPECT_TRUE(lockEngaged());
    click(service, itemStarting(trayLayout(service), "Disconnect"));
    EXPECT_TRUE(spinUntil([&] { return !lockEngaged() && defaultRoute() == route; }, 30000))
        << defaultRoute() << bed.helperLog();
    EXPECT_EQ(terminate(), 0) << TempDir::read(log());
}

// The stranding sequence: the lock is on, the server's lookup fails; the
// attempt ends, and leaving the application brings the route back.
TEST_F(KillSwitchByHand, ALookupThatFailsEndsTheAttemptAndQuitBringsTheRouteBack) {
    killSwitchWasOn();
    const std::string route = defaultRoute();
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    const MenuNode* locations = locationsMenu(service);
    ASSERT_NE(locations, nullptr) << TempDir::read(log());
    // No name server answers from here on.
    blockNameServers();
    click(service, itemStarting(*locations, "Netherlands"));
    ASSERT_TRUE(spinUntil([&] { return logged("enableNetworkLock -- the lookup of nl1.havenway.test failed") == 1; },
                          60000))
        << TempDir::read(log());
    // The attempt ends in the error bar; the kill switch holds meanwhile.
    EXPECT_TRUE(spinUntil([&] { return logged("the network lock gave no server address") == 1; }, 20000))
        << TempDir::read(log());
    EXPECT_TRUE(spinUntil([&] { return lockEngaged(); }, 10000));
    unblockNameServers();

    quitFromTheTray(service);
    EXPECT_TRUE(spinUntil([&] { return !lockEngaged() && defaultRoute() == route; }, 15000))
        << defaultRoute() << bed.helperLog();
}

// The address stored from an earlier connect is used when the lookup fails,
// but only behind the lock: the tunnel comes up with our table there and
// that address alone let through, or the attempt ends in the error bar.
// Never connected without the table.
void KillSwitchByHand::storedAddressRoad(VPNProtocols protocol) {
    const std::string route = defaultRoute();
    const QString name = QString::fromStdString(std::string(rawValue(protocol))).trimmed();
    earlierRunChose(protocol, true);
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    ASSERT_TRUE(connectNetherlands(service, 1).contains(name)) << TempDir::read(log()) << bed.helperLog();
    const std::string stored = allowedServers();
    ASSERT_FALSE(stored.empty());
    ASSERT_EQ(stored.find(','), std::string::npos) << stored;
    // The pane takes one click a second: a tunnel up sooner than that (IKEv2
    // here) lets the Disconnect come too early, so it is given again until
    // the tray shows Connect.
    bool released = false;
    for (int attempt = 0; attempt < 5 && !released; ++attempt) {
        const MenuNode menu = trayLayout(service);
        if (const MenuNode* item = itemStarting(menu, "Disconnect")) trayClick(service, item->id);
        released = spinUntil([&] { return !lockEngaged() && itemStarting(trayLayout(service), "Connect") != nullptr; }, 6000);
    }
    ASSERT_TRUE(released) << TempDir::read(log()) << bed.helperLog();

    blockNameServers();
    const MenuNode* locations = locationsMenu(service);
    ASSERT_NE(locations, nullptr);
    click(service, itemStarting(*locations, "Netherlands"));
    bool withoutTable = false;
    const bool ended = spinUntil(
        [&] {
            const bool connected = notified("Connected to Netherlands") == 2;
            if (connected && !lockEngaged()) withoutTable = true;
            return connected || logged("connection attempts count reached!") > 0 ||
                   logged("the network lock gave no server address") > 0;
        },
        120000);
    EXPECT_TRUE(ended) << TempDir::read(log());
    EXPECT_EQ(logged("enableNetworkLock -- the lookup of"), 1) << "the lookup did not fail";
    EXPECT_FALSE(withoutTable) << "connected without the lock";
    const bool connected = notified("Connected to Netherlands") == 2;
    std::cout << "[ road ] " << name.toStdString() << (connected ? ": connected under the lock" : ": the error bar") << "\n";
    if (connected) {
        EXPECT_TRUE(lockEngaged());
        EXPECT_EQ(allowedServers(), stored) << "only the stored address passes the lock";
        EXPECT_EQ(logged("it is engaged for the stored one, " + stored), 1) << TempDir::read(log());
        MenuNode menu;
        EXPECT_TRUE(spinUntil([&] { return itemStarting(menu = trayLayout(service), "Protocol: " + name) != nullptr; },
                              10000))
            << menu.labels().join(" | ").toStdString();
    }
    unblockNameServers();
    quitFromTheTray(service);
    EXPECT_TRUE(spinUntil([&] { return !lockEngaged() && defaultRoute() == route; }, 15000))
        << defaultRoute() << bed.helperLog();
}

TEST_F(KillSwitchByHand, AStoredAddressConnectsOnlyUnderTheLock) { storedAddressRoad(VPNProtocols::OpenVPN); }
TEST_F(KillSwitchByHand, AStoredAddressConnectsOnlyUnderTheLockOverIKEv2) {
    storedAddressRoad(VPNProtocols::IKEv2_StrongSwan);
}

// With no name server to ask and no lock, each try ends (openvpn would retry
// its lookup for ever; the bound is a minute) and the reconnect loop counts
// them to its limit: 4 reconnects over OpenVPN, 10 over IKEv2, then the error
// bar and the ready look.
void KillSwitchByHand::unresolvableRoad(VPNProtocols protocol, int reconnects) {
    earlierRunChose(protocol, false);
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    const MenuNode* locations = locationsMenu(service);
    ASSERT_NE(locations, nullptr) << TempDir::read(log());
    blockNameServers();
    const auto clicked = std::chrono::steady_clock::now();
    click(service, itemStarting(*locations, "Netherlands"));
    // The first try's end: its error reaches the pane, or its drop starts a reconnect.
    ASSERT_TRUE(spinUntil([&] { return logged("onConnection_Error_NotificationHandler() error") +
                                       logged("startReconnect() attempt started.") >= 1; },
                          75000))
        << TempDir::read(log());
    EXPECT_LT(std::chrono::steady_clock::now() - clicked, 70s) << "the first try did not end within its minute";
    // Each reconnect a minute at most, then the count's end (every later
    // request meets it again: the drop's and the error's).
    EXPECT_TRUE(spinUntil([&] { return logged("connection attempts count reached!") >= 1; }, (reconnects + 1) * 70000))
        << TempDir::read(log());
    EXPECT_EQ(logged("Connection attempts count: " + std::to_string(reconnects)), 1);
    EXPECT_EQ(logged("Connection attempts count: " + std::to_string(reconnects + 1)), 0);
    EXPECT_EQ(logged("startReconnect() attempt started."), reconnects);
    EXPECT_EQ(logged("for Kill Switch ON"), 0) << "a log line names a lock that is off";
    EXPECT_FALSE(lockEngaged());
    EXPECT_TRUE(spinUntil([&] { return itemStarting(trayLayout(service), "Connect") != nullptr; }, 15000))
        << "the tray is not back to Connect";
    unblockNameServers();
    EXPECT_EQ(terminate(), 0) << TempDir::read(log());
}

TEST_F(KillSwitchByHand, AnUnresolvableServerEndsEachTry) { unresolvableRoad(VPNProtocols::OpenVPN, 4); }
TEST_F(KillSwitchByHand, AnUnresolvableServerEndsEachTryOverIKEv2) { unresolvableRoad(VPNProtocols::IKEv2_StrongSwan, 10); }

}  // namespace
}  // namespace hw::test
