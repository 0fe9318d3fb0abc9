// The demo's road end to end: the demo account signs in against the testbed's
// backend and connects to a seeded location over the testbed's real VPN
// servers, from the client namespace, through the real helper.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>

#include "support/testbed_engine.h"
#include "services/free_trial_sign_up_service.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

class DemoConnect : public TestbedEngineTest {};

// Connects over the protocol, checks the tunnel carries the traffic, and
// that a disconnect leaves the network as it found it.
void connectsAndRestores(TestbedEngine& bed, VPNTypes protocol, const std::string& serverTunnelAddress,
                         const std::string& tunnelExit) {
    const std::string before = bed.networkState();
    ASSERT_TRUE(bed.connect(protocol)) << testing::PrintToString(bed.events) << bed.helperLog();
    expectCarriedBy(bed, protocol);
    // Both tunnels carry IPv4 alone: IPv6 left on would go around them.
    EXPECT_NE(bed.networkState().find("net.ipv6.conf.default.disable_ipv6 = 1"), std::string::npos)
        << "Connected with IPv6 on\n" << bed.networkState();
    EXPECT_TRUE(waitFor([&] { return nameServerAnswers(serverTunnelAddress); }, std::chrono::seconds(10)));
    EXPECT_EQ(bed.publicAddress(), tunnelExit);
    ASSERT_TRUE(bed.disconnect());
    EXPECT_TRUE(spinUntil([&] { return bed.networkState() == before; }, 15000))
        << bed.networkState() << "\nversus\n" << before;
    EXPECT_FALSE(nameServerAnswers(serverTunnelAddress)) << "reachable without a tunnel";
    EXPECT_NE(bed.publicAddress(), tunnelExit);
}

TEST_F(DemoConnect, OverOpenVPNAndDisconnectLeavesTheNetworkAsItWas) {
    connectsAndRestores(bed, VPNTypesOpenVPN, "10.67.0.1", tunnelExit());
}

TEST_F(DemoConnect, OverIKEv2AndDisconnectLeavesTheNetworkAsItWas) {
    connectsAndRestores(bed, VPNTypesIKEv2_StrongSwan, "10.68.0.1", tunnelExit());
}

// The main window installs the tunnel's DNS on an IKEv2 session too (a
// watched host reachable again): the disconnect gives the user's resolver
// file back, as the OpenVPN one does.
TEST_F(DemoConnect, OverIKEv2TheResolverFileTheSessionInstalledIsGivenBackOnDisconnect) {
    const std::string before = bed.networkState();
    ASSERT_TRUE(bed.connect(VPNTypesIKEv2_StrongSwan)) << testing::PrintToString(bed.events) << bed.helperLog();
    expectCarriedBy(bed, VPNTypesIKEv2_StrongSwan);
    bed.manager->installDNSForVPN();
    ASSERT_TRUE(spinUntil([&] { return TempDir::read(bed.dir.file("resolv.conf")).find("havenway-helper") != std::string::npos; },
                          5000))
        << TempDir::read(bed.dir.file("resolv.conf")) << bed.helperLog();
    ASSERT_TRUE(bed.disconnect());
    EXPECT_TRUE(spinUntil([&] { return bed.networkState() == before; }, 15000))
        << bed.networkState() << "\nversus\n" << before;
}

TEST_F(DemoConnect, AutomaticModeConnectsOnTheFirstProtocolThatWorks) {
    ASSERT_TRUE(bed.connect(VPNTypesAutomatic)) << testing::PrintToString(bed.events) << bed.helperLog();
    expectCarriedBy(bed, VPNTypesIKEv2_StrongSwan);
    EXPECT_FALSE(bed.manager->automaticModeDiscoveryInProgress());
    EXPECT_TRUE(waitFor([&] { return nameServerAnswers("10.68.0.1"); }, std::chrono::seconds(10)));
    EXPECT_EQ(bed.publicAddress(), tunnelExit());
}

TEST_F(DemoConnect, KillSwitchHoldsWhileTheServerIsStoppedAndReleasesOnDisconnect) {
    const pid_t server = std::stoi(readText(bed.env.get("HAVENWAY_TESTBED_OPENVPN_PID")));
    bed.model().setUseNetworkLock(true);
    auto location = bed.location("NL");
    ASSERT_TRUE(location);
    std::optional<std::string> locked;
    ASSERT_TRUE(bed.manager->enableNetworkLock(location->serverHostName(bed.model().vpnServersDomainSuffix), gateway(),
                                               GlobalConstants::dnsResolver(), "",
                                               [&](const std::string& a) { locked = a; }));
    ASSERT_TRUE(spinUntil([&] { return locked.has_value(); })) << bed.helperLog();
    ASSERT_EQ(locked, location->vpnServerIPAddress);
    bed.model().networkLockActivated = true;
    ASSERT_TRUE(bed.connect(VPNTypesOpenVPN)) << testing::PrintToString(bed.events) << bed.helperLog();
    expectCarriedBy(bed, VPNTypesOpenVPN);

    ::kill(server, SIGSTOP);
    // Nothing gets around the stalled tunnel: not to the next hop, not to the backend.
    EXPECT_FALSE(nameServerAnswers(gateway()));
    EXPECT_NE(bed.publicAddress().value_or(""), bed.env.get("HAVENWAY_TESTBED_VPN_SERVER"));
    ::kill(server, SIGCONT);

    ASSERT_TRUE(bed.disconnect());
    bed.manager->disableNetworkLock();
    bed.model().networkLockActivated = false;
    EXPECT_TRUE(waitFor([&] { return nameServerAnswers(gateway()); }, std::chrono::seconds(10)));
}

// The lock road as the pane takes it: the server's host in the form of the
// protocol, looked up through the public resolvers, then the tunnel.
TEST_F(DemoConnect, TheLockRoadConnectsOverBothProtocolsThroughThePublicResolvers) {
    for (VPNTypes protocol : {VPNTypesOpenVPN, VPNTypesIKEv2_StrongSwan}) {
        SCOPED_TRACE(protocol);
        const std::string before = bed.networkState();
        const long asked = bed.dnsQuestions(GlobalConstants::primaryDNS, "");
        ASSERT_TRUE(bed.connectLocked(protocol)) << testing::PrintToString(bed.events) << bed.helperLog();
        expectCarriedBy(bed, protocol);
        EXPECT_GT(bed.dnsQuestions(GlobalConstants::primaryDNS, ""), asked) << "the lookup went elsewhere";
        EXPECT_EQ(bed.publicAddress(), tunnelExit());

        ASSERT_TRUE(bed.disconnect());
        bed.releaseLock();
        EXPECT_TRUE(spinUntil([&] { return bed.networkState() == before; }, 15000))
            << bed.networkState() << "\nversus\n" << before;
    }
}

// The server pushes its DNS and takes the default route: lookups reach its
// resolver through the tunnel, and so do datagrams to an address outside it.
TEST_F(DemoConnect, OverOpenVPNDnsAndEveryOtherDatagramGoThroughTheTunnel) {
    const std::string outside = GlobalConstants::primaryDNS;
    const auto tunnelsUp = [&] {
        const std::string log = bed.helperLog();
        long n = 0;
        for (auto at = log.find("tunnel up on "); at != std::string::npos; at = log.find("tunnel up on ", at + 1)) ++n;
        return n;
    };
    const long upBefore = tunnelsUp();
    ASSERT_TRUE(bed.connect(VPNTypesOpenVPN)) << testing::PrintToString(bed.events) << bed.helperLog();
    expectCarriedBy(bed, VPNTypesOpenVPN);
    // The helper learns the pushed servers from openvpn's up event, which
    // may reach it after the tunnel reports itself connected.
    ASSERT_TRUE(waitFor([&] { return tunnelsUp() > upBefore; }, std::chrono::seconds(10))) << bed.helperLog();
    bed.manager->installDNSForVPN();
    ASSERT_TRUE(waitFor([&] { return TempDir::read(bed.dir.file("resolv.conf")).find("nameserver 10.67.0.1") !=
                                     std::string::npos; },
                        std::chrono::seconds(10)))
        << TempDir::read(bed.dir.file("resolv.conf"));
    const long throughTunnel = bed.dnsQuestions("10.67.0.1", "10.67.0.");
    const long outsideViaTunnel = bed.dnsQuestions(outside, "10.67.0.");
    const long outsideDirect = bed.dnsQuestions(outside, gateway().substr(0, gateway().rfind('.') + 1));
    EXPECT_TRUE(nameServerAnswers("10.67.0.1"));
    EXPECT_TRUE(nameServerAnswers(outside));
    EXPECT_TRUE(waitFor([&] { return bed.dnsQuestions("10.67.0.1", "10.67.0.") == throughTunnel + 1; },
                        std::chrono::seconds(5)));
    EXPECT_TRUE(waitFor([&] { return bed.dnsQuestions(outside, "10.67.0.") == outsideViaTunnel + 1; },
                        std::chrono::seconds(5)));
    EXPECT_EQ(bed.dnsQuestions(outside, gateway().substr(0, gateway().rfind('.') + 1)), outsideDirect);

    ASSERT_TRUE(bed.disconnect());
    EXPECT_TRUE(waitFor([&] { return TempDir::read(bed.dir.file("resolv.conf")).find("10.67.0.1") == std::string::npos; },
                        std::chrono::seconds(10)));
    EXPECT_TRUE(waitFor([&] { return nameServerAnswers(outside); }, std::chrono::seconds(10)));
    EXPECT_TRUE(waitFor([&] { return bed.dnsQuestions(outside, gateway().substr(0, gateway().rfind('.') + 1)) > outsideDirect; },
                        std::chrono::seconds(5)));
}

// The servers ask the backend, not a list read at their start: an account
// made by sign-up a moment ago connects over both protocols.
TEST_F(DemoConnect, AnAccountSignedUpAMomentAgoConnectsOverBothProtocols) {
    auto service = bed.hub->freeTrialService();
    ASSERT_TRUE(service);
    const std::string email = "fresh-" + std::to_string(::time(nullptr)) + "-" + std::to_string(::getpid()) + "@havenway.test";
    const std::string password = "fresh-pass-42";
    service->setCredentials(email, password);
    std::optional<FreeTrialSignUpService::AuthorizeOutcome> authorized;
    service->authorizeForFreeTrial(bed.env.webUrl() + "/api/freeTrial/authorizeForFreeTrial_v2.php",
                                   service->username.value_or(""), [&](auto outcome) { authorized = outcome; });
    ASSERT_TRUE(spinUntil([&] { return authorized.has_value(); }, 20000));
    ASSERT_TRUE(authorized->success && authorized->token) << authorized->message.value_or("");
    service->authorizeToken = *authorized->token;
    service->prepareForFreeTrialSignUp();
    std::optional<FreeTrialSignUpService::SignUpOutcome> made;
    service->performFreeTrialSignUp(service->username.value_or(""), service->password.value_or(""), *authorized->token,
                                    {}, [&](auto outcome) { made = outcome; });
    ASSERT_TRUE(spinUntil([&] { return made.has_value(); }, 20000));
    ASSERT_TRUE(made->success) << made->code << " " << made->message;

    const std::string why = signInAndLoad(*bed.hub, email, password);
    ASSERT_TRUE(why.empty()) << why;
    for (VPNTypes protocol : {VPNTypesOpenVPN, VPNTypesIKEv2_StrongSwan}) {
        const std::string before = bed.networkState();
        ASSERT_TRUE(bed.connect(protocol)) << protocol << testing::PrintToString(bed.events) << bed.helperLog();
        expectCarriedBy(bed, protocol);
        EXPECT_EQ(bed.publicAddress(), tunnelExit()) << protocol;
        ASSERT_TRUE(bed.disconnect()) << protocol;
        // openvpn takes its routes away as it exits, after the end is
        // reported: an IKE start in between sends into the dying tunnel and
        // waits out charon's retransmissions.
        ASSERT_TRUE(spinUntil([&] { return bed.networkState() == before; }, 15000))
            << protocol << bed.networkState() << "\nversus\n" << before;
    }
}

// No /dev/ppp here: the helper creates no service and the attempt ends at once,
// in its error (within five seconds on any machine this runs on).
TEST_F(DemoConnect, TheProtocolsTheTestbedDoesNotServeEndInTheirErrorAtOnce) {
    for (VPNTypes protocol : {VPNTypesL2TP, VPNTypesPPTP}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(bed.connect(protocol, "NL", 5000)) << protocol;
        std::printf("[ ended ] %d: %lld ms\n", int(protocol),
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()));
        EXPECT_EQ(bed.events, std::vector<std::string>{"error:" + LocaleData::vpn_connection_generic_error()}) << protocol;
        EXPECT_FALSE(bed.manager->connectionInProgress()) << protocol;
        expectCarriedBy(bed, protocol);
    }
}

}  // namespace
}  // namespace hw::test
