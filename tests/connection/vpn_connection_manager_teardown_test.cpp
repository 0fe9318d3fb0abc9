#include "connection/vpn_connection_manager_fixture.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

struct DisconnectCase {
    const char* name;
    std::optional<VPNTypes> road;  // none: no current provider
    bool forced;
    std::vector<std::string> providerCalls;
    std::vector<std::string> helperLines;
};

class Disconnect : public ManagerFixture, public ::testing::WithParamInterface<DisconnectCase> {};

TEST_P(Disconnect, StopsTheProviderRestoresDNSAndIPv6AndClearsTheAttempt) {
    const auto& c = GetParam();
    context.protocol = c.road.value_or(VPNTypesIKEv2);  // the platform's IKEv2 has no provider
    make();
    if (c.road) {
        manager->connect(server());
        queue.runUntilIdle();
        ASSERT_TRUE(manager->connectionInProgress());
    }
    bool timerFired = false;
    manager->setActiveTimer(queue.startTimer(10, false, [&] { timerFired = true; }));
    manager->currentVPNConnection().startConnectionTimer();
    for (auto* p : {l2tp.get(), pptp.get(), openvpn.get(), ike.get()}) p->calls.clear();
    helper.sent.clear();

    manager->disconnect(c.forced);
    queue.advance(100);
    if (c.road) {
        EXPECT_EQ(providerOf(*c.road).calls, c.providerCalls);
    }
    EXPECT_EQ(helper.sent, c.helperLines);
    EXPECT_FALSE(manager->connectionInProgress());
    EXPECT_FALSE(timerFired);
    EXPECT_EQ(manager->activeTimer(), nullptr);
    EXPECT_FALSE(manager->currentVPNConnection().isTimerValid());
}

INSTANTIATE_TEST_SUITE_P(
    Roads, Disconnect,
    ::testing::Values(
        DisconnectCase{"StrongSwanForced", VPNTypesIKEv2_StrongSwan, true, {"forceDisconnect"},
                       {"restoreDNS:00", "reEnableIPV6"}},
        DisconnectCase{"StrongSwan", VPNTypesIKEv2_StrongSwan, false, {"disconnect"}, {"restoreDNS:00", "reEnableIPV6"}},
        // The helper ends what openvpn may not have ended itself.
        DisconnectCase{"OpenVPN", VPNTypesOpenVPN, true, {"disconnect"},
                       {"terminatePreviousOpenVPNProcesses", "restoreDNS:10", "reEnableIPV6"}},
        DisconnectCase{"L2TP", VPNTypesL2TP, false, {"disconnect"}, {"restoreDNS:00", "reEnableIPV6"}},
        DisconnectCase{"NoProvider", std::nullopt, false, {}, {"restoreDNS:00", "reEnableIPV6"}}),
    [](const auto& info) { return std::string(info.param.name); });

class KillSwitch : public ManagerFixture {};

// The gateway to restore is the one before the lock: stored without line
// breaks, kept when the helper answers with the locked route, "NO" or nothing.
// After a crash under the lock the next launch keeps the lock the user chose
// and marks it engaged (so that a disconnect or switching it off releases
// it); nothing here ever lifts it. The user's lift puts DNS and IPv6 back as a
// disconnect does, and what waits on it goes only once the helper has it.
TEST_F(KillSwitch, ALockLeftByAnEarlierRunIsKeptWhenTheKillSwitchIsChosen) {
    struct Row {
        const char* name;
        bool useLock;
        std::optional<bool> held;
        bool helperInstalled;
        bool activated;
        std::vector<std::string> sent;
    };
    const Row rows[] = {
        {"HeldAndChosen", true, true, true, true, {"networkLockState"}},
        {"NotHeld", true, false, true, false, {"networkLockState"}},
        {"HelperSilent", true, std::nullopt, true, false, {"networkLockState"}},
        {"HeldButNotChosen", false, true, true, false, {"networkLockState"}},
        {"NoHelper", true, true, false, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        make();
        context.useLock = row.useLock;
        context.lockActivated = false;
        helper.lockHeld = row.held;
        if (!row.helperInstalled) helper.installedVersion.clear();
        helper.sent.clear();
        manager->keepNetworkLockLeftFromEarlierRun();
        queue.runUntilIdle();
        EXPECT_EQ(context.lockActivated, row.activated);
        EXPECT_EQ(helper.sent, row.sent);
        helper.installedVersion = helper.bundledVersion;
    }

    helper.sent.clear();
    bool lifted = false;
    manager->liftNetworkLockLeftFromEarlierRun([&] { lifted = true; });
    EXPECT_FALSE(lifted);
    queue.runUntilIdle();
    EXPECT_TRUE(lifted);
    EXPECT_EQ(helper.sent, (std::vector<std::string>{"restoreDNS:00", "reEnableIPV6", "disableNetworkLock:<none>",
                                                     "networkLockState"}));
}

// After a crash the openvpn the helper still runs is taken over when it is
// connected: no lock command (it stands), the tunnel's default route put
// back from the gateway the helper recorded (the run that died may not have
// put it in), Connected shown, even to a pane that hooks in later. Anything
// else, a tunnel with no gateway on record included, is ended.
TEST_F(KillSwitch, ATunnelLeftConnectedIsTakenOverAtLaunch) {
    struct Row {
        const char* name;
        bool openvpnRunning;
        std::optional<std::int32_t> answer;  // of the provider asked last; none: it never says
        bool adopted;
        std::optional<std::string> gateway = "10.89.0.1";
        std::vector<std::string> sent = {"attachRunningOpenVPN"};
    };
    const Row rows[] = {
        {"OpenVPNConnected", true, VPNStatusCodes::connected, true, "10.89.0.1",
         {"attachRunningOpenVPN", "addDefaultGatewayForOpenVPN:10.89.0.1"}},
        {"OpenVPNConnectedWithNoGatewayOnRecord", true, VPNStatusCodes::connected, false, std::nullopt},
        {"OpenVPNNotConnected", true, VPNStatusCodes::disconnected, false},
        {"OpenVPNSilent", true, std::nullopt, false},
        {"IKEv2Connected", false, VPNStatusCodes::connected, true},
        {"NoneRunning", false, VPNStatusCodes::disconnected, false},
        {"IKEv2Silent", false, std::nullopt, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        make();
        context.lockActivated = true;
        helper.openVPNRunning = row.openvpnRunning;
        helper.sent.clear();
        openvpn->gateway = row.gateway;
        openvpn->calls.clear();
        ike->calls.clear();
        events.clear();
        FakeProvider& asked = row.openvpnRunning ? *openvpn : *ike;
        std::optional<bool> adopted;
        manager->adoptRunningTunnel([&](bool a) { adopted = a; });
        queue.runUntilIdle();
        if (row.answer) asked.report(*row.answer);
        queue.runUntilIdle();
        queue.advance(5100);
        ASSERT_TRUE(adopted.has_value());
        EXPECT_EQ(*adopted, row.adopted);
        EXPECT_EQ(helper.sent, row.sent);
        EXPECT_EQ(openvpn->count("adoptRunning"), row.openvpnRunning ? 1 : 0);
        EXPECT_EQ(ike->count("adoptRunning"), row.openvpnRunning ? 0 : 1) << "an IKEv2 tunnel is looked for only without an openvpn";
        EXPECT_EQ(asked.count("disconnect"), row.adopted ? 0 : 1);
        EXPECT_EQ(events, row.adopted ? std::vector<std::string>{"established"} : std::vector<std::string>{});
        if (row.adopted) {
            EXPECT_EQ(manager->currentProvider()->type(), asked.type()) << "the road that carries it";
        }
        EXPECT_EQ(context.lockActivated, true) << "the lock is never lifted here";
    }
    // The pane hooks in after sign-in, once the tunnel is up.
    make();
    helper.openVPNRunning = true;
    openvpn->gateway = "10.89.0.1";
    manager->onConnectionEstablishedNotification = nullptr;
    manager->adoptRunningTunnel({});
    queue.runUntilIdle();
    openvpn->report(VPNStatusCodes::connected);
    queue.runUntilIdle();
    events.clear();
    manager->onConnectionEstablishedNotification = [this] { events.push_back("established"); };
    manager->replayEstablishedToLateListener();
    manager->replayEstablishedToLateListener();
    queue.runUntilIdle();
    EXPECT_EQ(events, std::vector<std::string>{"established"});
    // Its clock too: the session counts from the take-over.
    std::string shown;
    manager->setConnectionTimerTickCallback([&](const std::string& t) { shown = t; });
    queue.advance(3000);
    EXPECT_EQ(shown, "00:00:03");
}

TEST_F(KillSwitch, EngagingAndReapplyingKeepTheGatewayToRestore) {
    make();
    std::vector<std::string> finished;
    int errors = 0;
    for (const char* reply : {"192.168.1.1\r\n", "", "NO"}) {
        helper.enableNetworkLockReply = reply;
        manager->enableNetworkLock([&](const std::string& g) { finished.push_back(g); });
        queue.runUntilIdle();
    }
    EXPECT_EQ(finished, (std::vector<std::string>{"192.168.1.1", "192.168.1.1", "192.168.1.1"}));
    helper.enableNetworkLockReply = "10.8.0.1";
    manager->reapplyNetworkLock([&] { ++errors; });
    queue.runUntilIdle();
    EXPECT_EQ(context.gateway, "192.168.1.1");
    EXPECT_EQ(errors, 0);
    helper.enableNetworkLockReply = "NO";
    manager->reapplyNetworkLock([&] { ++errors; });
    queue.runUntilIdle();
    EXPECT_EQ(errors, 1);
    // No default route: the lock is engaged all the same, and that is no error.
    helper.lockEngages = true;
    manager->reapplyNetworkLock([&] { ++errors; });
    queue.runUntilIdle();
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(context.gateway, "192.168.1.1");
}

TEST_F(KillSwitch, IsNotEngagedWhenTheHelperCannotBeInstalled) {
    helper.installedVersion = "";
    helper.installSucceeds = false;
    make();
    bool finished = false;
    manager->enableNetworkLock([&](const std::string&) { finished = true; });
    queue.advance(2000);
    EXPECT_EQ(helper.count("enableNetworkLock"), 0);
    EXPECT_FALSE(finished);
}

TEST_F(KillSwitch, ReleaseGoesToAnyRunningHelperWithOrWithoutAGateway) {
    helper.installedVersion = "";
    make();
    manager->disableNetworkLock();
    EXPECT_TRUE(helper.sent.empty());  // and nothing is installed for it
    helper.installedVersion = "0.5";   // outdated, but running
    manager->disableNetworkLock();
    context.gateway = "192.168.1.1";
    manager->disableNetworkLock();
    EXPECT_EQ(helper.sent,
              (std::vector<std::string>{"disableNetworkLock:<none>", "disableNetworkLock:192.168.1.1"}));
    EXPECT_EQ(context.gateway, "192.168.1.1");

    // A release after which nothing leads out is named, never a quiet Connect.
    int noWayOut = 0;
    manager->onNoWayOutAfterReleaseNotification = [&] { ++noWayOut; };
    for (const char* reply : {"YES", "NO"}) {
        helper.releaseReply = reply;
        manager->disableNetworkLock();
        queue.runUntilIdle();
    }
    EXPECT_EQ(noWayOut, 1);
}

// Hidden from the watch by the lock, a way out that reaches where none did starts the
// waiting try; the tries' own route changes, finding the same one, keep the pacing.
TEST_F(KillSwitch, UnderTheLockANewWayOutStartsTheWaitingTry) {
    make();
    context.gateway = "192.168.1.1";
    auto& life = manager->connectionLife().life();
    life.begin(ConnectionLife::Origin::user);
    life.tryStarted();
    life.request(ReconnectReason::tryEnded);
    // lock, the way out the helper's lock keeps, whether it reaches, requests so far
    const std::tuple<bool, const char*, bool, int> steps[] = {
        {false, "10.9.0.1", true, 0}, {true, "192.168.1.1", true, 0}, {true, "192.168.1.1", false, 0},
        {true, "10.9.0.1", true, 1},  {true, "10.9.0.1", true, 1}};
    for (const auto& [lock, wayOut, reaches, requests] : steps) {
        context.lockActivated = lock;
        helper.wayOutReply = wayOut;
        manager->routesChanged([reaches = reaches](const std::string&) { return reaches; });
        queue.runUntilIdle();
        EXPECT_EQ(context.reconnectRequests, requests) << wayOut << " reaches: " << reaches;
    }
    EXPECT_EQ(context.reconnectReasons, std::vector<std::string>{"the network changed"});
}

TEST_F(KillSwitch, ServerFormRoutesTheServerThenLocksAndHandsBackTheAddress) {
    make();
    std::vector<std::string> done;
    EXPECT_FALSE(manager->enableNetworkLock("203.0.113.7", std::string("192.168.1.1"), "8.8.8.8", "8.8.4.4",
                                            [&](const std::string& a) { done.push_back(a); }));
    context.useLock = true;
    EXPECT_TRUE(manager->enableNetworkLock("203.0.113.7", std::string("192.168.1.1"), "8.8.8.8", "8.8.4.4",
                                           [&](const std::string& a) { done.push_back(a); }));
    queue.runUntilIdle();
    EXPECT_EQ(helper.sent, (std::vector<std::string>{"staticRoute:203.0.113.7:192.168.1.1", "enableNetworkLock"}));
    // Under the lock a host name is the helper's to look up, through the
    // lock's resolvers (the app's own lookup would meet the lock); one it
    // cannot resolve is not routed.
    helper.sent.clear();
    EXPECT_TRUE(manager->enableNetworkLock("de1.example.net", std::nullopt, "8.8.8.8", "8.8.4.4",
                                           [&](const std::string& a) { done.push_back(a); }));
    queue.runUntilIdle();
    EXPECT_EQ(done, (std::vector<std::string>{"203.0.113.7", "NO"}));
    EXPECT_EQ(helper.sent, (std::vector<std::string>{"enableNetworkLock",
                                                     "resolveVPNServerHost:de1.example.net:8.8.8.8:8.8.4.4"}));
    helper.resolveReply = helper.staticRouteReply = "198.51.100.9";
    manager->enableNetworkLock("de1.example.net", std::nullopt, "8.8.8.8", "8.8.4.4",
                               [&](const std::string& a) { done.push_back(a); });
    queue.runUntilIdle();
    EXPECT_EQ(done.back(), "198.51.100.9");
    EXPECT_EQ(helper.sent.back(), "enableNetworkLock");
    EXPECT_EQ(std::count(helper.sent.begin(), helper.sent.end(), "staticRoute:198.51.100.9:<none>"), 1);
    helper.staticRouteReply = "203.0.113.7";
    // A lock the helper could not engage hands back no address to connect through.
    helper.lockEngages = false;
    manager->enableNetworkLock("203.0.113.7", std::string("192.168.1.1"), "8.8.8.8", "8.8.4.4",
                               [&](const std::string& a) { done.push_back(a); });
    queue.runUntilIdle();
    EXPECT_EQ(done.back(), "NO");
    helper.lockEngages.reset();
    // Before the first lock no gateway is known: none is sent, not an empty one
    // the helper would refuse.
    helper.sent.clear();
    for (const std::optional<std::string>& unknown : {std::optional<std::string>(""), std::optional<std::string>()}) {
        manager->enableNetworkLock("203.0.113.7", unknown, "8.8.8.8", "8.8.4.4", {});
        queue.runUntilIdle();
    }
    EXPECT_EQ(std::count(helper.sent.begin(), helper.sent.end(), "staticRoute:203.0.113.7:<none>"), 2);
}

class Teardown : public ManagerFixture {};

TEST_F(Teardown, ServiceRemovalGoesByTheCurrentProvider) {
    context.protocol = VPNTypesL2TP;
    make();
    manager->connect(server());
    queue.runUntilIdle();
    ASSERT_TRUE(manager->connectionInProgress());
    manager->removeExistingConnection();
    EXPECT_FALSE(manager->connectionInProgress());
    EXPECT_FALSE(manager->connectionExists());
    EXPECT_EQ(helper.sent.back(), "deleteService:Havenway");
    EXPECT_EQ(l2tp->calls.back(), "stopUpdates");

    context.changeProtocol(VPNTypesOpenVPN);
    manager->deleteExistingVPNService();
    EXPECT_EQ(openvpn->calls.back(), "disconnect");
    EXPECT_EQ(helper.count("deleteService:Havenway"), 1);
}

TEST_F(Teardown, DelayedCleanupWaitsASecondAndSparesTheKillSwitchAndStrongSwan) {
    context.protocol = VPNTypesL2TP;
    make();
    context.lockActivated = true;
    manager->scheduleVPNServiceCleanup();
    queue.advance(2000);
    EXPECT_EQ(helper.count("deleteService:Havenway"), 0);
    context.lockActivated = false;
    manager->onInternetConnectionLost();
    queue.advance(999);
    EXPECT_EQ(helper.count("deleteService:Havenway"), 0);
    queue.advance(1);
    EXPECT_EQ(helper.count("deleteService:Havenway"), 1);
    context.changeProtocol(VPNTypesIKEv2_StrongSwan);
    manager->scheduleVPNServiceCleanup();
    queue.advance(2000);
    EXPECT_EQ(ike->count("disconnect"), 0);
}

TEST_F(Teardown, ShutDownStopsTheTunnelOfEitherProtocolAndClosesTheHelper) {
    for (VPNTypes protocol : {VPNTypesOpenVPN, VPNTypesIKEv2_StrongSwan}) {
        SCOPED_TRACE(protocol);
        context.protocol = protocol;
        make();
        FakeProvider& provider = protocol == VPNTypesOpenVPN ? *openvpn : *ike;
        provider.calls.clear();
        helper.sent.clear();
        manager->shutDown();
        EXPECT_EQ(provider.calls, (std::vector<std::string>{"disconnect", "stopUpdates"}));
        // A lock the state object does not know of is lifted too, without a gateway hint.
        std::vector<std::string> sent{"restoreDNS:00", "reEnableIPV6", "disableNetworkLock:<none>", "closeHelperTool"};
        if (protocol == VPNTypesOpenVPN) {
            sent.front() = "restoreDNS:10";
            sent.insert(sent.begin(), "terminatePreviousOpenVPNProcesses");
        }
        EXPECT_EQ(helper.sent, sent);
    }
}

TEST_F(Teardown, QuitLiftsAnEngagedLockBeforeClosingTheHelper) {
    // No tunnel outlives the app, so an engaged lock would only strand the user.
    for (bool engaged : {false, true}) {
        make();
        helper.sent.clear();
        context.lockActivated = engaged;
        context.gateway = "192.168.1.1";
        manager->shutDown();
        const std::vector<std::string> withLock{"terminatePreviousOpenVPNProcesses", "restoreDNS:10", "reEnableIPV6",
                                                "disableNetworkLock:192.168.1.1", "closeHelperTool"};
        // An engagement the state object lost track of (in flight at a
        // cancel) goes too; with no hint, a network without a lock keeps its route.
        const std::vector<std::string> without{"terminatePreviousOpenVPNProcesses", "restoreDNS:10", "reEnableIPV6",
                                               "disableNetworkLock:<none>", "closeHelperTool"};
        EXPECT_EQ(helper.sent, engaged ? withLock : without) << engaged;
    }
}

TEST_F(Teardown, SleepAndWakeResetTheAttemptsAndWakeReconnectsStrongSwan) {
    context.protocol = VPNTypesIKEv2_StrongSwan;
    make();
    manager->onDeviceWillSleep();
    EXPECT_TRUE(context.sleeping);
    // The count is the connection life's: the sleep is an event of it.
    EXPECT_EQ(context.sleeps, 1);
    manager->onDeviceDidWake();
    // The pane's policy hears why (and starts its count afresh).
    EXPECT_EQ(context.reconnectReasons, std::vector<std::string>{"the system woke"});
    context.changeProtocol(VPNTypesOpenVPN);
    manager->onDeviceDidWake();
    EXPECT_EQ(context.reconnectRequests, 1);
    // Under the lock the watch cannot see the network come back: the wake says it.
    context.lockActivated = true;
    manager->onDeviceDidWake();
    EXPECT_EQ(context.reconnectRequests, 2);
}

// A tunnel taken over names its own try: its drop reaches the life as any
// tunnel's would; one reported after the life let it go is dropped.
TEST_F(Teardown, ATunnelTakenOverReportsItsDropAsItsOwn) {
    using State = ConnectionLife::State;
    for (const bool cancelledFirst : {false, true}) {
        SCOPED_TRACE(cancelledFirst ? "after a Cancel" : "while held");
        make();
        auto& host = manager->connectionLife();
        ConnectionStatusViews views;
        views.established = [] {};
        views.disconnected = [](bool, bool) {};
        ConnectionStatusHooks hooks = host.wrap(std::move(views));
        manager->onConnectionEstablishedNotification = hooks.established;
        manager->onDisconnectedStateNotification = hooks.disconnected;
        helper.openVPNRunning = true;
        openvpn->gateway = "10.89.0.1";
        manager->adoptRunningTunnel({});
        queue.runUntilIdle();
        openvpn->report(VPNStatusCodes::connected);
        queue.runUntilIdle();
        ASSERT_EQ(host.life().state(), State::connected);
        EXPECT_EQ(host.life().origin(), ConnectionLife::Origin::takeOver);
        if (cancelledFirst) host.life().cancel();
        openvpn->report(VPNStatusCodes::disconnected);
        queue.runUntilIdle();
        EXPECT_EQ(host.life().state(), cancelledFirst ? State::disconnected : State::waiting);
        (void)host.wrap({});
    }
}

// No try can reach a dead helper: its death ends an attempt in its own
// error, lock or not, instead of paced tries that say Connecting meanwhile;
// the machine has ended it before the window shows anything.
TEST_F(Teardown, ADeadHelperEndsAnAttemptInItsOwnError) {
    using State = ConnectionLife::State;
    struct Row {
        const char* name;
        bool lock;
        bool engaged;  // the helper put the lock in place before it died
        bool tunnelUp;
        std::string event;
        State after;
    };
    const std::string text = LocaleData::helper_unreachable_error();
    const std::vector<Row> rows = {
        {"without the lock an attempt without a tunnel ends", false, false, false, "refused:" + text, State::disconnected},
        {"under the lock an attempt without a tunnel ends, held", true, true, false, "refused:" + text, State::heldByLock},
        // Nothing blocks traffic, so nothing may say so.
        {"a lock asked for but never engaged holds nothing", true, false, false, "refused:" + text, State::disconnected},
        {"under the lock a tunnel that is up is a drop like any", true, true, true, "error:" + text, State::waiting},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        make();
        events.clear();
        auto& host = manager->connectionLife();
        ConnectionStatusViews views;
        auto heard = [&](const std::string& w) {
            events.push_back(w + "|" + ConnectionLife::stateName(host.life().state()));
        };
        views.refused = [&](const std::string& t) { heard("refused:" + t); };
        views.error = [&](const std::string& t, ErrorLook) { heard("error:" + t); };
        (void)host.wrap(std::move(views));
        host.life().begin(ConnectionLife::Origin::user);
        host.life().tryStarted();
        context.lockActivated = row.lock;
        if (row.engaged) {
            helper.enableNetworkLockReply = "192.168.1.1";
            manager->enableNetworkLock([](const std::string&) {});
            queue.runUntilIdle();
        }
        if (row.tunnelUp) {
            host.life().tunnelEstablished();
            manager->currentVPNConnection().restartTimer();
        }
        manager->helperDied(false);
        manager->helperDied(true);
        queue.runUntilIdle();
        EXPECT_EQ(events, std::vector<std::string>{row.event + "|" + ConnectionLife::stateName(row.after)});
        EXPECT_EQ(host.life().state(), row.after);
        (void)host.wrap({});
    }
}

class ErrorReport : public ManagerFixture {};

TEST_F(ErrorReport, OpenVPNReportCarriesTheWrittenLogWithoutThePassword) {
    make();
    openvpn->log = "line one\nAUTH: s3cret-pass sent\nline three\n";
    connectThrough();
    openvpn->report(0, "Auth failed");
    queue.runUntilIdle();
    ASSERT_EQ(uploader.reports.size(), 1u);
    EXPECT_EQ(uploader.reports[0].log, "line one\nAUTH: ****** sent\nline three\n");
    EXPECT_EQ(file("error.log"), uploader.reports[0].log);
}

TEST_F(ErrorReport, PPPLogIsReadOffTheMainThreadAndItsTailIsReported) {
    context.protocol = VPNTypesL2TP;
    make();
    connectThrough();
    runner.responder = [&](const ProcessRequest& r) {
        EXPECT_EQ(r.argv, (std::vector<std::string>{"/usr/bin/tail", "-n", "200", "/var/log/havenway-ppp.log"}));
        EXPECT_GT(r.timeout.count(), 0);
        return FakeProcessRunner::exited(0, "pppd: shared-key refused\n");
    };
    l2tp->report(0, "13");
    queue.runUntilIdle();
    ASSERT_EQ(uploader.reports.size(), 1u);
    EXPECT_EQ(uploader.reports[0].log, "pppd: ****** refused\n");
    EXPECT_EQ(file("error.log"), uploader.reports[0].log);
}

TEST_F(ErrorReport, LongLogsAreCutToTheirLastWholeLines) {
    make();
    std::string log;
    for (int i = 0; log.size() < 3 * VPNConnectionManager::kReportLogLimit; ++i) {
        log += "line " + std::to_string(i) + "\n";
    }
    const std::string bounded = manager->boundedReportLog(log);
    EXPECT_LE(bounded.size(), VPNConnectionManager::kReportLogLimit);
    EXPECT_EQ(bounded.rfind("line ", 0), 0u);
    EXPECT_EQ(log.substr(log.size() - bounded.size()), bounded);
}

}  // namespace
}  // namespace hw::test
