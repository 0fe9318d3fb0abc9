#include <sys/stat.h>

#include <filesystem>

#include "connection/vpn_connection_manager_fixture.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

class ConnectRoad : public ManagerFixture {};

struct RoadCase {
    VPNTypes protocol;
    const char* create;
    int dialAfterMs;  // after the subscription
};

class ConnectRoadByProtocol : public ManagerFixture, public ::testing::WithParamInterface<RoadCase> {};

// openvpn itself says when it can be dialled; the other roads settle.
TEST_P(ConnectRoadByProtocol, CreatesWaitsASecondSubscribesThenDials) {
    context.protocol = GetParam().protocol;
    make();
    FakeProvider& p = providerOf(GetParam().protocol);
    p.calls.clear();
    manager->connect(server());
    queue.runUntilIdle();
    EXPECT_EQ(helper.sent.back(), GetParam().create);
    EXPECT_TRUE(manager->connectionInProgress());
    queue.advance(999);
    EXPECT_EQ(p.count("subscribe:skip"), 0);
    queue.advance(1);
    EXPECT_EQ(p.count("subscribe:skip"), 1);
    EXPECT_EQ(p.subscribedName, "Havenway");
    EXPECT_EQ(helper.sent.back(), "disableIPV6");
    if (GetParam().dialAfterMs > 0) {
        queue.advance(GetParam().dialAfterMs - 1);
        EXPECT_EQ(p.count("startDial"), 0);
    }
    queue.advance(1);
    ASSERT_EQ(p.count("startDial"), 1);
    p.dialCompletion();
    EXPECT_FALSE(manager->connectionInProgress());
}

INSTANTIATE_TEST_SUITE_P(Helper, ConnectRoadByProtocol,
                         ::testing::Values(RoadCase{VPNTypesOpenVPN, "create:1", 0}, RoadCase{VPNTypesL2TP, "create:2", 50},
                                           RoadCase{VPNTypesPPTP, "create:3", 50}),
                         [](const auto& info) { return std::string(info.param.create).substr(7); });

TEST_F(ConnectRoad, StrongSwanConnectsThroughItsProviderWithTheFullHostAndNoDial) {
    context.protocol = VPNTypesIKEv2_StrongSwan;
    make();
    manager->connect(server());
    queue.runUntilIdle();
    ASSERT_TRUE(ike->lastServiceConfig);
    EXPECT_EQ(ike->lastServiceConfig->endpoint, "de1.vpn.example.net");
    EXPECT_EQ(ike->lastServiceConfig->description.endpointIPAddress, "203.0.113.7");
    EXPECT_TRUE(helper.created.empty());
    ike->onConnected();
    queue.advance(2000);
    // Listening before the start, and again once the provider says it started.
    EXPECT_EQ(ike->calls, (std::vector<std::string>{"subscribe:report", "stopUpdates", "subscribe:skip", "connect",
                                                    "subscribe:skip"}));
}

TEST_F(ConnectRoad, StrongSwanStartThatFailsAtOnceStillReachesTheUI) {
    context.protocol = VPNTypesIKEv2_StrongSwan;
    make();
    ike->reportOnConnect = 0;
    manager->connect(server());
    queue.runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"disconnected:00"}));
    EXPECT_FALSE(manager->connectionInProgress());
}

TEST_F(ConnectRoad, ServiceDescriptionCarriesTheServerAndTheOpenVPNFileIsWrittenPrivately) {
    make();
    manager->connect(server());
    queue.runUntilIdle();
    ASSERT_EQ(helper.created.size(), 1u);
    EXPECT_EQ(helper.created[0].endpointIPAddress, "203.0.113.7");
    EXPECT_EQ(helper.created[0].sharedSecret, "shared-key");
    EXPECT_EQ(file("config_current.ovpn"), server().ovpnConfig);
    EXPECT_EQ(mode("config_current.ovpn"), 0600u);
}

TEST_F(ConnectRoad, TheOpenVPNFileIsWrittenOnlyForOpenVPNAndOnlyWhenItChanged) {
    const std::string path = pathOf("config_current.ovpn");
    for (VPNTypes other : {VPNTypesL2TP, VPNTypesIKEv2_StrongSwan}) {
        context.protocol = other;
        make();
        connectThrough();
        EXPECT_FALSE(std::filesystem::exists(path)) << other;
    }
    context.protocol = VPNTypesOpenVPN;
    make();
    auto inode = [&] {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    connectThrough();
    openvpn->dialCompletion();
    const auto first = inode();
    ASSERT_NE(first, 0u);
    connectThrough();
    openvpn->dialCompletion();
    EXPECT_EQ(inode(), first) << "an unchanged configuration was written again";
    auto changed = server();
    changed.ovpnConfig = "client\nremote de2.example.net 1194\n";
    manager->connect(changed);
    queue.advance(1100);
    EXPECT_EQ(file("config_current.ovpn"), changed.ovpnConfig);
}

struct CancelCase {
    const char* name;
    double cancelAfterMs;  // negative: before connect
    const char* logLine;
    VPNTypes protocol = VPNTypesOpenVPN;  // openvpn is dialled with no wait of its own
};

class CancelAtCheckpoint : public ManagerFixture, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelAtCheckpoint, StopsTheRoadThereAndNeverDials) {
    const auto& c = GetParam();
    context.protocol = c.protocol;
    make();
    helper.createDelayMs = 10;
    if (c.cancelAfterMs < 0) context.canceled = true;
    manager->connect(server());
    if (c.cancelAfterMs >= 0) {
        queue.advance(c.cancelAfterMs);
        context.canceled = true;
    }
    queue.advance(3000);
    EXPECT_EQ(providerOf(c.protocol).count("startDial"), 0);
    if (c.cancelAfterMs < 0) {
        EXPECT_TRUE(helper.sent.empty());  // not even the helper check
        EXPECT_EQ(openvpn->count("stopUpdates"), 0);
    } else {
        EXPECT_TRUE(log->contains(c.logLine)) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Checkpoints, CancelAtCheckpoint,
                         ::testing::Values(CancelCase{"before", -1, ""},
                                           CancelCase{"created", 5, "self.connectionInitiateCanceled 1"},
                                           CancelCase{"wait", 500, "self.connectionInitiateCanceled 2"},
                                           CancelCase{"dial", 1020, "self.connectionInitiateCanceled 3", VPNTypesL2TP}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectRoad, SecondConnectWhileCreatingMakesNoSecondService) {
    make();
    manager->connect(server());
    manager->connect(server());
    queue.advance(2000);
    EXPECT_EQ(helper.created.size(), 1u);
    EXPECT_EQ(openvpn->count("startDial"), 1);
}

TEST_F(ConnectRoad, ARefusedCreationEndsTheAttemptAsItsErrorWithoutDialling) {
    // A plain disconnect would leave the pane waiting for a road that never
    // comes; the refusal is this attempt's error.
    for (VPNTypes protocol : {VPNTypesL2TP, VPNTypesOpenVPN}) {
        events.clear();
        context.protocol = protocol;
        make();
        helper.createSucceeds = false;
        manager->connect(server());
        queue.advance(3000);
        EXPECT_EQ(providerOf(protocol).count("startDial"), 0) << protocol;
        EXPECT_FALSE(manager->connectionInProgress()) << protocol;
        EXPECT_EQ(events, (std::vector<std::string>{"refused:" + LocaleData::vpn_connection_generic_error()})) << protocol;
    }
}

TEST_F(ConnectRoad, FailedCreationInTheAutomaticOrderMovesOn) {
    context.protocol = VPNTypesAutomatic;
    make();
    connectThrough();
    helper.createResults = {false};
    ike->report(0);  // the search moves on to OpenVPN, whose service cannot be made
    queue.advance(3000);
    EXPECT_EQ(manager->currentProvider(), l2tp);
    EXPECT_EQ(helper.count("create:2"), 1);
    EXPECT_EQ(l2tp->count("startDial"), 1);
    EXPECT_EQ(openvpn->count("startDial"), 0);
}

TEST_F(ConnectRoad, PlatformIKEv2HasNoProviderAndEndsInItsErrorAtOnce) {
    context.protocol = VPNTypesIKEv2;
    make();
    EXPECT_EQ(manager->currentProvider(), nullptr);
    EXPECT_TRUE(log->contains("IKEv2 protocol is only supported in AppStore version"));
    manager->connect(server());
    queue.advance(3000);
    EXPECT_TRUE(helper.sent.empty());
    // Nothing can carry it here: a refusal, which no retry helps.
    EXPECT_EQ(events, (std::vector<std::string>{"refused:" + LocaleData::vpn_connection_generic_error()}));
}

class HelperInstall : public ManagerFixture {};

TEST_F(HelperInstall, MissingHelperIsInstalledAndTheRoadGoesOnASecondLater) {
    helper.installedVersion = "";
    make();
    manager->connect(server());
    queue.runUntilIdle();
    EXPECT_EQ(helper.sent, (std::vector<std::string>{"install", "disableIPV6"}));
    queue.advance(999);
    EXPECT_TRUE(helper.created.empty());
    queue.advance(1);
    EXPECT_EQ(helper.created.size(), 1u);
    EXPECT_EQ(context.storedHelperVersion, "1.0");
    EXPECT_FALSE(manager->helperToolInstallFailed());
}

TEST_F(HelperInstall, OutdatedHelperIsAcceptedOnlyByTheStoredVersionCheck) {
    helper.installedVersion = "0.9";
    context.storedHelperVersion = "1.0";
    make();
    for (bool check : {true, false}) {
        context.storedVersionCheck = check;
        manager->disconnect();
        manager->connect(server());
        queue.runUntilIdle();
    }
    EXPECT_EQ(helper.count("install"), 1);
}

struct InstallFailure {
    bool refused;
    int response;
};

class HelperInstallFailure : public ManagerFixture, public ::testing::WithParamInterface<InstallFailure> {};

// The attempt ends as the installation fails, not when the sheet is answered;
// an installation asked for no try ends nothing.
TEST_P(HelperInstallFailure, ShowsItsTextAndEndsTheAttemptBeforeItsAnswer) {
    helper.installedVersion = "";
    helper.installSucceeds = false;
    helper.installRefused = GetParam().refused;
    make();
    manager->connect(server());
    queue.runUntilIdle();
    EXPECT_TRUE(manager->helperToolInstallFailed());
    ASSERT_EQ(context.alerts.size(), 1u);
    const auto& text = GetParam().refused
                           ? LocaleData::helper_tool_install_error_user_canceled_permissions_popup_text()
                           : LocaleData::helper_tool_install_error_restart_popup_text();
    EXPECT_EQ(context.alerts[0], LocaleData::helper_tool_install_error_popup_header() + "|" + text);
    EXPECT_EQ(events, (std::vector<std::string>{"disconnected:10"}));
    context.alertCompletion(GetParam().response);
    queue.advance(3000);
    EXPECT_EQ(events, (std::vector<std::string>{"disconnected:10"}));
    EXPECT_TRUE(helper.created.empty());

    events.clear();
    context.tryInForce.reset();
    manager->enableNetworkLock();
    queue.runUntilIdle();
    EXPECT_EQ(context.alerts.size(), 2u);
    EXPECT_TRUE(events.empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, HelperInstallFailure,
                         ::testing::Values(InstallFailure{true, 0}, InstallFailure{false, 0},
                                           InstallFailure{false, 1000}),
                         [](const auto& info) {
                             return std::string(info.param.refused ? "Refused" : "Failed") + "Response" +
                                    std::to_string(info.param.response);
                         });

class StartUp : public ManagerFixture {};

TEST_F(StartUp, AutomaticFollowsAnExistingServiceOrElseStartsTheSearch) {
    context.protocol = VPNTypesAutomatic;
    make();
    EXPECT_EQ(manager->currentProvider(), ike);
    EXPECT_TRUE(manager->automaticModeDiscoveryInProgress());
    EXPECT_EQ(ike->count("subscribe:report"), 0);

    l2tp->existingType = 2;
    make();
    EXPECT_EQ(manager->currentProvider(), l2tp);
    EXPECT_FALSE(manager->automaticModeDiscoveryInProgress());
    EXPECT_EQ(l2tp->count("subscribe:report"), 1);
    // The first disconnected report only ends the synchronisation.
    l2tp->report(0);
    EXPECT_FALSE(manager->syncWithSystemConnectionStarted());
    queue.runUntilIdle();
    EXPECT_TRUE(events.empty());
}

TEST_F(StartUp, ProtocolChangeLeavingOpenVPNEndsItsProcessesAndSwitchesProvider) {
    make();
    EXPECT_EQ(openvpn->count("subscribe:report"), 1);
    ASSERT_EQ(context.observers.size(), 1u);
    context.changeProtocol(VPNTypesL2TP);
    EXPECT_EQ(helper.count("terminatePreviousOpenVPNProcesses"), 1);
    EXPECT_EQ(manager->currentProvider(), l2tp);
    context.changeProtocol(VPNTypesPPTP);
    EXPECT_EQ(helper.count("terminatePreviousOpenVPNProcesses"), 1);
    context.protocol = VPNTypesAutomatic;
    make();
    ASSERT_TRUE(manager->automaticModeDiscoveryInProgress());
    context.changeProtocol(VPNTypesL2TP);
    EXPECT_FALSE(manager->automaticModeDiscoveryInProgress()) << "a protocol picked ends Automatic's search";
}

// IKEv2 started while openvpn still holds its routes would wait out its
// server; a helper that never answers holds it back for a bounded time.
TEST_F(StartUp, StrongSwanStartsOnlyOnceTheOpenVPNItReplacesHasEnded) {
    for (std::optional<double> exits : {std::optional<double>(1200), std::optional<double>()}) {
        helper.terminateDelayMs = exits;
        make();
        ike->calls.clear();
        context.changeProtocol(VPNTypesIKEv2_StrongSwan);
        manager->connect(server());
        queue.advance(1000);
        EXPECT_EQ(ike->count("connect"), 0);
        queue.advance(exits ? 300 : 4000);
        EXPECT_EQ(ike->count("connect"), 1);
        context.protocol = VPNTypesOpenVPN;
    }
}

}  // namespace
}  // namespace hw::test
