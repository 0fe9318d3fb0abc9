// The OpenVPN server gone for two and a half minutes under a running tunnel,
// met by the real application as an ordinary user beside the real root
// helper, lock off and on: once the server answers again the window is
// Connected within the paced tries, and Disconnect then leaves no openvpn,
// no tunnel device, no host route and the resolver as it was. Minutes long:
// it runs only when HAVENWAY_LONG_BY_HAND is set.
#include "app/tray_connects_fixture.h"

#include <cstdio>
#include <cstdlib>

namespace hw::test {
namespace {

class ServerOutageByHand : public KillSwitchByHand {
protected:
    void SetUp() override {
        if (!std::getenv("HAVENWAY_LONG_BY_HAND")) GTEST_SKIP() << "minutes long: set HAVENWAY_LONG_BY_HAND to walk it";
        KillSwitchByHand::SetUp();
    }
    void TearDown() override {
        serverAnswers();
        KillSwitchByHand::TearDown();
    }
    // The server namespace is the client's with its last letter an s.
    std::string serverNamespace() const {
        std::string ns = bed.env.get("HAVENWAY_TESTBED_CLIENT_NETNS");
        if (!ns.empty()) ns.back() = 's';
        return ns;
    }
    // The server's side drops openvpn's packets, both ways.
    void serverGone() {
        const std::string rules = "add table inet hw_test_outage\n"
                                  "add chain inet hw_test_outage in { type filter hook input priority -10; }\n"
                                  "add chain inet hw_test_outage out { type filter hook output priority -10; }\n"
                                  "add rule inet hw_test_outage in udp dport 1194 drop\n"
                                  "add rule inet hw_test_outage out udp sport 1194 drop\n";
        ProcessRequest r;
        r.argv = {"ip", "netns", "exec", serverNamespace(), "nft", "-f", "-"};
        r.stdinData = rules;
        r.timeout = 5s;
        ASSERT_TRUE(bed.runner.run(r).ok()) << serverNamespace();
    }
    void serverAnswers() {
        run({"ip", "netns", "exec", serverNamespace(), "nft", "delete", "table", "inet", "hw_test_outage"});
    }
    QString trayStatus(const QString& service) {
        const MenuNode menu = trayLayout(service);
        if (const MenuNode* line = itemStarting(menu, "Status:")) return line->label().mid(7).trimmed();
        return {};
    }
    QString launch() {
        const auto before = desktop.watcher->items().size();
        app = spawn(log());
        if (app <= 0 || !spinUntil([&] { return desktop.watcher->items().size() > before; }, 30000)) return {};
        return desktop.watcher->items().back();
    }
};

TEST_F(ServerOutageByHand, OpenVPNIsConnectedAgainAfterTheServerWasGoneForHundredFiftySeconds) {
    const std::string before = bed.networkState();
    const std::string resolver = TempDir::read(bed.dir.file("resolv.conf"));
    for (const bool lock : {false, true}) {
        SCOPED_TRACE(lock ? "locked" : "unlocked");
        earlierRunChose(VPNProtocols::OpenVPN, lock);
        const QString service = launch();
        ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
        const std::size_t logAt = TempDir::read(log()).size();
        ASSERT_TRUE(connectNetherlands(service, notified("Connected to Netherlands") + 1).contains("OpenVPN"))
            << TempDir::read(log()).substr(logAt) << bed.helperLog();
        ASSERT_TRUE(msUntilTheTunnelCarries("10.67.0.1", 10000));
        const long connects = notified("Connected to Netherlands");

        QElapsedTimer clock;
        serverGone();
        clock.start();
        long notConnectedMs = -1;
        while (clock.elapsed() < 150000) {
            if (notConnectedMs < 0 && trayStatus(service) != "Connected") notConnectedMs = clock.elapsed();
            spinFor(500);
        }
        const QString duringOutage = trayStatus(service);
        serverAnswers();
        QElapsedTimer back;
        back.start();
        const bool again = spinUntil(
            [&] { return trayStatus(service) == "Connected" && notified("Connected to Netherlands") > connects; },
            120000);
        const long againMs = back.elapsed();
        EXPECT_TRUE(again) << trayStatus(service).toStdString() << TempDir::read(log()).substr(logAt);
        EXPECT_TRUE(msUntilTheTunnelCarries("10.67.0.1", 10000));
        std::printf("[ outage ] %s: not Connected %ld ms after the server went; \"%s\" at 150 s; Connected again "
                    "%ld ms after it answered\n",
                    lock ? "locked" : "unlocked", notConnectedMs, duringOutage.toStdString().c_str(), againMs);

        click(service, itemStarting(trayLayout(service), "Disconnect"));
        EXPECT_TRUE(spinUntil([&] { return clientOpenVPN() == -1; }, 15000)) << "an openvpn outlived Disconnect";
        EXPECT_TRUE(spinUntil([&] { return !run({"ip", "link", "show", "tun0"}).ok(); }, 15000)) << "tun0 stayed";
        EXPECT_TRUE(spinUntil([&] { return !lockEngaged() && bed.networkState() == before; }, 30000))
            << bed.networkState() << "\nversus\n" << before;
        EXPECT_EQ(TempDir::read(bed.dir.file("resolv.conf")), resolver);
        const bool asBefore =
            bed.networkState() == before && TempDir::read(bed.dir.file("resolv.conf")) == resolver;
        std::printf("[ disconnect ] %s: openvpn %s, tun0 %s, routes and resolver as before: %s\n",
                    lock ? "locked" : "unlocked", clientOpenVPN() == -1 ? "gone" : "RUNNING",
                    run({"ip", "link", "show", "tun0"}).ok() ? "STAYS" : "gone", asBefore ? "yes" : "NO");
        quitFromTheTray(service);
    }
}

}  // namespace
}  // namespace hw::test
