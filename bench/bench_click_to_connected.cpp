// From the user's click on a location to Connected in the real application
// (the built havenway as an ordinary user, with the real root helper, driven
// through its tray item as a panel drives it), beside the tunnel software
// alone against the same testbed server: raw openvpn to "Initialization
// Sequence Completed", raw charon-cmd to its CHILD_SA established. Per
// protocol, rounds alternate which side goes first; each side starts only
// once the other's tunnel software has exited. Prints min, median and max of
// each side and of each pair's ratio app / raw.
//
// Needs root and this checkout's testbed with its VPN servers
// (scripts/testbed up); skips otherwise. HW_BENCH_ROUNDS sets the rounds (5).
// Only the IKEv2 and OpenVPN servers run on the testbed: L2TP and PPTP are
// left out.
#include "app/tray_connects_fixture.h"

#include <cstdlib>
#include <functional>

#include "bench_sides.h"
#include "raw_charon_cmd.h"
#include "raw_openvpn.h"

namespace hw::test {
namespace {

int rounds() {
    const char* n = std::getenv("HW_BENCH_ROUNDS");
    return n && std::atoi(n) > 0 ? std::atoi(n) : 5;
}

class ClickToConnected : public KillSwitchByHand {
protected:
    // Whether a process of that exact name runs in this network namespace.
    bool runsHere(const std::string& name) {
        return run({"pgrep", "-x", "--ns", std::to_string(::getpid()), "--nslist", "net", name}).ok();
    }
    bool tunnelSoftwareGone() {
        return waitFor([&] { return !runsHere("openvpn") && !runsHere("charon") && !runsHere("charon-cmd"); }, 30s);
    }
    std::string rawDir() {
        const std::string d = dir.file("raw");
        std::filesystem::create_directories(d);
        return d;
    }

    // The click on Netherlands to its Connected notification, in ms; then
    // the Disconnect, back to where the next round starts.
    double appSide(const QString& service) {
        const MenuNode* locations = locationsMenu(service);
        if (!locations) return -1;
        const MenuNode* netherlands = itemStarting(*locations, "Netherlands");
        if (!netherlands) return -1;
        const long before = notified("Connected to Netherlands");
        QElapsedTimer clock;
        clock.start();
        trayClick(service, netherlands->id);
        if (!spinUntil([&] { return notified("Connected to Netherlands") > before; }, 90000)) return -1;
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        const MenuNode* disconnect = nullptr;
        MenuNode menu;
        if (!spinUntil([&] { return (disconnect = itemStarting(menu = trayLayout(service), "Disconnect")) != nullptr; }, 10000))
            return -1;
        trayClick(service, disconnect->id);
        if (!spinUntil([&] { return itemStarting(trayLayout(service), "Connect") != nullptr; }, 30000)) return -1;
        return tunnelSoftwareGone() ? ms : -1;
    }

    // The openvpn server's client configuration as the testbed seeds it for
    // its locations, by address, the credentials from a file.
    std::string rawOpenVPNConfig() {
        const std::string d = rawDir();
        const std::string serverDir =
            std::filesystem::path(bed.env.get("HAVENWAY_TESTBED_OPENVPN_PID")).parent_path().string();
        TempDir::write(d + "/credentials", bed.env.get("HAVENWAY_TESTBED_DEMO_USER") + "\n" +
                                               bed.env.get("HAVENWAY_TESTBED_DEMO_PASSWORD") + "\n");
        ::chmod((d + "/credentials").c_str(), 0600);
        TempDir::write(d + "/raw.ovpn", "client\ndev tun\nproto udp\nremote " + bed.env.get("HAVENWAY_TESTBED_VPN_SERVER") +
                                            " 1194\nnobind\nauth-user-pass " + d +
                                            "/credentials\ncipher AES-256-GCM\nverb 3\nremote-cert-tls server\n<ca>\n" +
                                            TempDir::read(bed.env.get("HAVENWAY_TEST_CA")) + "</ca>\n<tls-crypt>\n" +
                                            TempDir::read(serverDir + "/tls-crypt.key") + "</tls-crypt>\n");
        return d + "/raw.ovpn";
    }
    bench::CharonCmdTarget rawIkeTarget() {
        return {bed.env.get("HAVENWAY_TESTBED_CLIENT_NETNS"),
                rawDir(),
                bed.env.get("HAVENWAY_TESTBED_VPN_SERVER"),
                bed.env.get("HAVENWAY_TESTBED_DEMO_USER"),
                "nl1." + bed.env.get("HAVENWAY_TESTBED_VPN_DOMAIN"),
                bed.env.get("HAVENWAY_TEST_CA"),
                bed.env.get("HAVENWAY_TESTBED_DEMO_PASSWORD")};
    }

    void measure(VPNProtocols protocol, const char* name, const char* rawLabel, const std::function<double()>& rawSide) {
        earlierRunChose(protocol, false);
        const QString service = startItem();
        ASSERT_FALSE(service.isEmpty()) << TempDir::read(log());
        ASSERT_NE(locationsMenu(service), nullptr) << TempDir::read(log());
        std::vector<double> app, raw;
        for (int i = 0; i < rounds(); ++i) {
            for (const bool appFirst : {firstSideFirst(i), !firstSideFirst(i)}) {
                if (appFirst) {
                    const double t = appSide(service);
                    ASSERT_GE(t, 0) << "the application did not connect and disconnect over " << name << "\n"
                                    << TempDir::read(log()) << bed.helperLog();
                    app.push_back(t);
                } else {
                    const double t = rawSide();
                    ASSERT_GE(t, 0) << rawLabel << " did not connect";
                    ASSERT_TRUE(tunnelSoftwareGone());
                    raw.push_back(t);
                }
            }
            std::printf("%s round %d: app %.1f ms, raw %.1f ms (%s first)\n", name, i + 1, app.back(), raw.back(),
                        firstSideFirst(i) ? "app" : "raw");
        }
        quitFromTheTray(service);
        std::printf("\n%s, %d rounds, in ms, the app first in odd rounds\n", name, rounds());
        printSpreadHeader();
        printSpread((std::string("app: click to Connected over ") + name).c_str(), app);
        printSpread(rawLabel, raw);
        printPairRatio("ratio app / raw", raw, app);
        std::printf("\n");
    }
};

TEST_F(ClickToConnected, OpenVPN) {
    const std::string config = rawOpenVPNConfig();
    measure(VPNProtocols::OpenVPN, "OpenVPN", "raw openvpn to initialized",
            [&] { return bench::rawOpenVPN(config); });
}

TEST_F(ClickToConnected, IKEv2) {
    const bench::CharonCmdTarget target = rawIkeTarget();
    measure(VPNProtocols::IKEv2_StrongSwan, "IKEv2", "raw charon-cmd to CHILD_SA established", [&] {
        bench::Times times;
        return bench::rawCharonCmd(target, nullptr, &times);
    });
}

}  // namespace
}  // namespace hw::test
