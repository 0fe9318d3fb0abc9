#pragma once
// The application connecting through the testbed with the real root helper,
// and the same as an ordinary user driven by hand through its windows.
#include "app/havenway_process_fixture.h"

namespace hw::test {
namespace {

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
        TempDir::write(bed.dir.file("helper.conf"), "uid=" + std::to_string(appUser.value_or(::getuid())) + "\n");
        // The socket is the user's; its folder only needs to be passed through.
        ::chmod(bed.dir.path().c_str(), 0711);
        TempDir::write(bed.dir.file("resolv.conf"), "nameserver " + bed.env.get("HAVENWAY_TESTBED_VPN_SERVER") + "\n");
        ::mkdir(bed.dir.file("run").c_str(), 0700);
        startHelper();
        ASSERT_TRUE(waitFor([&] { return helperSocketListens(bed.dir.file("helper.sock")); }, 10s))
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
    void startHelper() {
        // The testbed's CA, which its IKEv2 server's certificate comes from.
        auto environment = testbed::helperEnvironment(bed.dir.path());
        environment.push_back("HAVENWAY_TEST_CA=" + bed.env.get("HAVENWAY_TEST_CA"));
        helper = ChildProcess({"ip", "netns", "exec", bed.env.get("HAVENWAY_TESTBED_CLIENT_NETNS"), helperBinary()},
                              bed.dir.file("helper.log"), environment);
    }
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
    // From here on nothing the matches name leaves the client namespace, the
    // application's, the helper's openvpn's and charon's packets alike; the
    // table's deletion lifts it.
    void dropOutgoing(const std::string& table, const std::vector<std::string>& matches) {
        std::vector<std::string> rules{"add table inet " + table,
                                       "add chain inet " + table + " out { type filter hook output priority -10; }"};
        for (const auto& match : matches) rules.push_back("add rule inet " + table + " out " + match + " drop");
        for (const auto& rule : rules) {
            ProcessRequest r;
            r.argv = {"nft", "-f", "-"};
            r.stdinData = rule + "\n";
            r.timeout = 5s;
            ASSERT_TRUE(bed.runner.run(r).ok()) << rule;
        }
    }
    // From here on no name server answers the client namespace.
    void blockNameServers() { dropOutgoing("hw_test_no_dns", {"udp dport 53", "tcp dport 53"}); }
    void unblockNameServers() { run({"nft", "delete", "table", "inet", "hw_test_no_dns"}); }
    // The settings an earlier run left: the protocol and the kill switch.
    void earlierRunChose(VPNProtocols protocol, bool lock) {
        JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
        settings.set(SettingsUserDefaults::vpnProtocols, std::string(rawValue(protocol)));
        settings.set(SettingsUserDefaults::useNetworkLock, lock);
        ASSERT_TRUE(settings.synchronize());
        handOver();
    }
    // The pane takes one click a second: a Disconnect sooner after the click
    // that connected is dropped, so it is given again until the tray says
    // Connect; and the next click waits its second.
    bool disconnectFromTheTray(const QString& service) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const MenuNode layout = trayLayout(service);
            if (const MenuNode* item = itemStarting(layout, "Disconnect")) trayClick(service, item->id);
            if (spinUntil([&] { return itemStarting(trayLayout(service), "Connect") != nullptr; }, 3000)) {
                spinFor(1100);
                return true;
            }
        }
        return false;
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

}  // namespace
}  // namespace hw::test
