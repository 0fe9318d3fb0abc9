// The built application as a user starts it, and its tray as a desktop's panel
// meets it. A private X display and bus; with the testbed, the demo account,
// and as root the helper and the VPN servers.
#include "app/havenway_process_fixture.h"

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
        helper = ChildProcess({"ip", "netns", "exec", ns, helperBinary()}, bed.dir.file("helper.log"),
                              testbed::helperEnvironment(bed.dir.path()));
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
// havenway as an ordinary user (nobody) beside the real root helper, the
// setting turned on in an earlier run, the windows' tray driven as a panel.
class KillSwitchByHand : public HavenwayTrayConnects {
protected:
    void SetUp() override {
        appUser = 65534;
        HavenwayTrayConnects::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
        settings.set(SettingsUserDefaults::useNetworkLock, true);
        ASSERT_TRUE(settings.synchronize());
        handOver();
    }
    void TearDown() override {
        run({"nft", "delete", "table", "inet", "hw_test_no_dns"});
        HavenwayTrayConnects::TearDown();
    }
    ProcessResult run(std::vector<std::string> argv) {
        ProcessRequest r;
        r.argv = std::move(argv);
        r.timeout = 5s;
        return bed.runner.run(r);
    }
    bool lockEngaged() { return run({"nft", "list", "table", "inet", "havenway"}).ok(); }
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
};

TEST_F(KillSwitchByHand, TheLockRoadConnectsAndADisconnectLetsGoOfTheLock) {
    const std::string route = defaultRoute();
    ASSERT_FALSE(route.empty());
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    const MenuNode* locations = locationsMenu(service);
    ASSERT_NE(locations, nullptr) << TempDir::read(log());
    click(service, itemStarting(*locations, "Netherlands"));
    ASSERT_TRUE(spinUntil([&] { return notified("Connected to Netherlands") == 1; }, 90000))
        << TempDir::read(log()) << bed.helperLog();
    EXPECT_TRUE(lockEngaged());
    const QString ip = QString::fromStdString("IP: " + bed.env.get("HAVENWAY_TESTBED_TUNNEL_EXIT"));
    EXPECT_TRUE(spinUntil([&] { return itemStarting(trayLayout(service), ip) != nullptr; }, 20000));

    // A datagram to an address outside the tunnel arrives only through it.
    const std::string outside = GlobalConstants::primaryDNS;
    const long through = questions(outside, "10.67.0."), around = questions(outside, "10.66.0.");
    EXPECT_TRUE(nameServerAnswers(outside));
    EXPECT_TRUE(waitFor([&] { return questions(outside, "10.67.0.") == through + 1; }, 5s));
    EXPECT_EQ(questions(outside, "10.66.0."), around);

    click(service, itemStarting(trayLayout(service), "Disconnect"));
    EXPECT_TRUE(spinUntil([&] { return !lockEngaged() && defaultRoute() == route; }, 30000))
        << defaultRoute() << bed.helperLog();
    EXPECT_EQ(terminate(), 0) << TempDir::read(log());
}

// The stranding sequence: the lock is on, the server's lookup fails; the
// attempt ends, and leaving the application brings the route back.
TEST_F(KillSwitchByHand, ALookupThatFailsEndsTheAttemptAndQuitBringsTheRouteBack) {
    const std::string route = defaultRoute();
    const QString service = startItem();
    ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
    const MenuNode* locations = locationsMenu(service);
    ASSERT_NE(locations, nullptr) << TempDir::read(log());
    // No name server answers from here on.
    for (const std::string& rule : {std::string("add table inet hw_test_no_dns"),
                                    std::string("add chain inet hw_test_no_dns out { type filter hook output priority -10; }"),
                                    std::string("add rule inet hw_test_no_dns out udp dport 53 drop")}) {
        ProcessRequest r;
        r.argv = {"nft", "-f", "-"};
        r.stdinData = rule + "\n";
        r.timeout = 5s;
        ASSERT_TRUE(bed.runner.run(r).ok()) << rule;
    }
    click(service, itemStarting(*locations, "Netherlands"));
    ASSERT_TRUE(spinUntil([&] { return logged("enableNetworkLock -- the lookup of nl1.havenway.test failed") == 1; },
                          60000))
        << TempDir::read(log());
    // The attempt ends in the error bar; the kill switch holds meanwhile.
    EXPECT_TRUE(spinUntil([&] { return logged("the network lock gave no server address") == 1; }, 20000))
        << TempDir::read(log());
    EXPECT_TRUE(spinUntil([&] { return lockEngaged(); }, 10000));
    run({"nft", "delete", "table", "inet", "hw_test_no_dns"});

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
    EXPECT_TRUE(spinUntil([&] { return !lockEngaged() && defaultRoute() == route; }, 15000))
        << defaultRoute() << bed.helperLog();
}

}  // namespace
}  // namespace hw::test
