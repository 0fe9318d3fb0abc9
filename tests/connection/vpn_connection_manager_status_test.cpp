#include <algorithm>
#include <thread>

#include "connection/openvpn_constants.h"
#include "connection/l2tp_vpn_connection_provider.h"
#include "connection/vpn_connection_manager_fixture.h"
#include "connection/vpn_connection_manager_provider_adapters.h"
#include "support/fake_system_vpn_service.h"
#include "support/poll_until.h"
#include "texts/locale_data.h"

namespace hw::test {
namespace {

// One report outside the automatic search, and what the details pane hears.
struct ReportCase {
    const char* name;
    VPNTypes road;
    std::int32_t status;
    std::optional<std::string> message;
    std::vector<std::string> events;
    std::string reportMessage;  // empty: no error report
    bool reconnecting = false;
};

std::string generic() { return "error:" + LocaleData::vpn_connection_generic_error(); }

std::vector<ReportCase> reportCases() {
    const std::string none;
    return {
        {"ConnectingOpenVPN", VPNTypesOpenVPN, 1, {}, {"connecting"}, none},
        {"ConnectingL2TP", VPNTypesL2TP, 1, {}, {"connecting"}, none},
        {"ConnectedStrongSwan", VPNTypesIKEv2_StrongSwan, 2, {}, {"established"}, none},
        {"ConnectedPPTP", VPNTypesPPTP, 2, {}, {"established"}, none},
        {"DownStrongSwan", VPNTypesIKEv2_StrongSwan, 0, {}, {"disconnected:00"}, none},
        {"DisconnectingStrongSwan", VPNTypesIKEv2_StrongSwan, 3, {}, {"disconnected:00"}, none},
        {"DownOpenVPN", VPNTypesOpenVPN, 0, {}, {"disconnected:00"}, none},
        // The pane's policy takes one end of a try once: the word comes during a reconnect too.
        {"DownOpenVPNWhileReconnecting", VPNTypesOpenVPN, 0, {}, {"disconnected:00"}, none, true},
        {"DownL2TPSilent", VPNTypesL2TP, 0, {}, {}, none},
        {"DownPPTPSilent", VPNTypesPPTP, 0, {}, {}, none},
        {"L2TPCause19", VPNTypesL2TP, 0, "19", {generic()}, LocaleData::vpn_ppp_error_new_4()},
        {"L2TPCause13", VPNTypesL2TP, 0, "13", {generic()}, LocaleData::vpn_ppp_error_new_2()},
        {"PPTPCause17", VPNTypesPPTP, 0, "17", {generic()}, LocaleData::vpn_ppp_error_new_3()},
        {"L2TPCause7", VPNTypesL2TP, 0, "7", {generic()}, LocaleData::vpn_ppp_error_new_1()},
        {"L2TPCause5", VPNTypesL2TP, 0, "5", {}, none},
        {"L2TPCause0", VPNTypesL2TP, 0, "0", {"disconnected:00"}, none},
        {"OpenVPNError", VPNTypesOpenVPN, 0, "Auth failed", {"error:Auth failed"}, "Auth failed"},
        // Answers another try cannot change end the attempt in their own error.
        {"OpenVPNWrongPassword", VPNTypesOpenVPN, 0, OpenVPNConstants::errorText(0),
         {"refused:" + OpenVPNConstants::errorText(0)}, OpenVPNConstants::errorText(0)},
        {"OpenVPNNoTunDevice", VPNTypesOpenVPN, 0, OpenVPNConstants::errorText(2),
         {"refused:" + OpenVPNConstants::errorText(2)}, OpenVPNConstants::errorText(2)},
        // The same server certificate meets every try of the protocol chosen.
        {"StrongSwanServerNotTrusted", VPNTypesIKEv2_StrongSwan, 0, "Server authentication failed",
         {"refused:Server authentication failed"}, none},
        {"OpenVPNNotReachable", VPNTypesOpenVPN, 9,
         {}, {"error:" + LocaleData::openvpn_not_reachable_error_notification()}, none},
        {"L2TPNotReachable", VPNTypesL2TP, 9, {}, {}, none},
        {"Unknown", VPNTypesOpenVPN, 7, {}, {}, none},
        {"Invalid", VPNTypesOpenVPN, -1, {}, {}, none},
    };
}

class StatusReport : public ManagerFixture, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(StatusReport, ReachesTheDetailsPaneAsTheRoadSays) {
    const auto& c = GetParam();
    context.protocol = c.road;
    context.reconnecting = c.reconnecting;
    make();
    connectThrough();
    runner.responder = [](const ProcessRequest&) { return FakeProcessRunner::exited(0, "ppp line\n"); };
    providerOf(c.road).report(c.status, c.message);
    queue.runUntilIdle();
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(manager->connectionExists(), c.status != -1);
    if (c.reportMessage.empty()) {
        EXPECT_TRUE(uploader.reports.empty());
    } else {
        ASSERT_EQ(uploader.reports.size(), 1u);
        EXPECT_EQ(uploader.reports[0].message, c.reportMessage);
    }
    if (c.status == 0 || c.status == 3) {
        EXPECT_FALSE(manager->connectionInProgress());
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, StatusReport, ::testing::ValuesIn(reportCases()),
                         [](const auto& info) { return std::string(info.param.name); });

class StatusHandling : public ManagerFixture {};

TEST_F(StatusHandling, ConnectedStartsTheClockAndHandsItTheTickCallback) {
    make();
    std::vector<std::string> ticks;
    manager->connectionTimerTickCallback = [&](const std::string& t) { ticks.push_back(t); };
    connectThrough();
    openvpn->report(2);
    queue.runUntilIdle();
    EXPECT_TRUE(manager->currentVPNConnection().isTimerValid());
    // Without the kill switch there is no default route to let through.
    EXPECT_TRUE(std::none_of(helper.sent.begin(), helper.sent.end(),
                             [](const std::string& l) { return l.rfind("addDefaultGateway", 0) == 0; }));
    queue.advance(1000);
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.back(), "00:00:01");
}

TEST_F(StatusHandling, EveryConnectedReportRestartsTheClockWhateverRoadTheReconnectTook) {
    make();
    std::vector<std::string> ticks;
    manager->connectionTimerTickCallback = [&](const std::string& t) { ticks.push_back(t); };
    connectThrough();
    openvpn->report(2);
    queue.runUntilIdle();
    queue.advance(5000);
    // openvpn restarting its tunnel reports connecting, not a drop: the clock runs on meanwhile.
    openvpn->report(1);
    queue.runUntilIdle();
    queue.advance(2000);
    EXPECT_EQ(ticks.back(), "00:00:07");
    openvpn->report(2);
    queue.runUntilIdle();
    queue.advance(1000);
    EXPECT_EQ(ticks.back(), "00:00:01") << "the session counts from the tunnel now up";
}

TEST_F(StatusHandling, OpenVPNConnectedUnderTheKillSwitchLetsTheGatewayThroughFirst) {
    make();
    context.lockActivated = true;
    openvpn->gateway = "10.8.0.1";
    connectThrough();
    manager->onConnectionEstablishedNotification = [this] {
        events.push_back("established:" + std::to_string(helper.count("addDefaultGatewayForOpenVPN:10.8.0.1")));
    };
    openvpn->report(2);
    queue.runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"established:1"}));
}

// The helper creates the service, then refuses to start it (no ESP in the
// kernel): the attempt ends in the error bar and its report, not in a
// CONNECTING that never ends.
TEST_F(StatusHandling, AnL2TPStartTheHelperRefusesEndsInTheErrorBarWithinFiveSeconds) {
    auto store = std::make_shared<FakeSystemVPNServiceStore>();
    auto& service = store->addService("Havenway", SystemVPNInterfaceType::L2TP);
    auto connection = store->connection(service.id);
    connection->failStart = true;
    connection->causeOnFailedStart = 4;
    realL2TP = std::make_shared<ProviderAdapter>(std::make_shared<L2TP_VPNConnectionProvider>(store));
    context.protocol = VPNTypesL2TP;
    make();
    runner.responder = [](const ProcessRequest&) { return FakeProcessRunner::exited(0, "ppp line\n"); };
    manager->connect(server());
    // Virtual time for the road's waits; the connector reports from a thread of its own.
    int elapsedMs = 0;
    ASSERT_TRUE(pollUntil(
        [&] {
            if (elapsedMs < 5000) {
                queue.advance(10);
                elapsedMs += 10;
            }
            queue.runUntilIdle();
            return !events.empty();
        },
        std::chrono::seconds(10), std::chrono::milliseconds(1)));
    EXPECT_LE(elapsedMs, 5000);
    EXPECT_EQ(connection->starts, 1);
    // A refusal (no ESP here): the attempt ends in its error, which says what to check.
    EXPECT_EQ(events, std::vector<std::string>{"refused:" + LocaleData::vpn_ppp_error_new_4()});
    ASSERT_EQ(uploader.reports.size(), 1u);
    EXPECT_EQ(uploader.reports[0].message, LocaleData::vpn_ppp_error_new_2());
    EXPECT_FALSE(manager->connectionInProgress());
}

// A helper that cannot put the tunnel's default route in (killed, restarting)
// is asked again a few times; a tunnel that never gets its route is that
// attempt's error, never Connected.
struct DefaultRouteCase {
    const char* name;
    std::deque<std::string> replies;
    bool userDisconnectsAfterFirst;
    std::vector<std::string> events;
    int sends;
    bool tunnelEnded;
};

class DefaultRouteUnderTheLock : public ManagerFixture, public ::testing::WithParamInterface<DefaultRouteCase> {};

TEST_P(DefaultRouteUnderTheLock, EndsConnectedOnlyWithTheRouteInPlace) {
    const auto& c = GetParam();
    make();
    context.lockActivated = true;
    openvpn->gateway = "10.8.0.1";
    helper.defaultGatewayReplies = c.replies;
    connectThrough();
    openvpn->calls.clear();
    openvpn->report(2);
    queue.runUntilIdle();
    if (c.userDisconnectsAfterFirst) manager->disconnect();
    queue.advance(10000);
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(helper.count("addDefaultGatewayForOpenVPN:10.8.0.1"), c.sends);
    EXPECT_EQ(std::count(openvpn->calls.begin(), openvpn->calls.end(), "disconnect") > 0, c.tunnelEnded);
    EXPECT_EQ(manager->currentVPNConnection().isTimerValid(), c.events == std::vector<std::string>{"established"});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DefaultRouteUnderTheLock,
    ::testing::Values(DefaultRouteCase{"InPlace", {"YES"}, false, {"established"}, 1, false},
                      DefaultRouteCase{"HelperBackOnTheThirdTry", {"NO", "NO", "YES"}, false, {"established"}, 3, false},
                      DefaultRouteCase{"HelperNeverBack", {"NO", "NO", "NO", "NO", "YES"}, false, {generic()}, 4, true},
                      DefaultRouteCase{"UserDisconnectsWhileWaiting", {"NO", "YES"}, true, {}, 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

// What a try asked for (the helper's creation reply, openvpn's answer, the
// turn before the dial, the provider's reports) acts only while the
// connection's life runs that try; openvpn is dialled once it answers,
// however late, and a late "established" of an ended try ends its tunnel.
TEST_F(StatusHandling, WhatATryAskedForActsOnlyWhileThatTryRuns) {
    struct Row {
        const char* name;
        std::vector<std::string> script;
        std::vector<std::string> events;
        int dials;
        int disconnects;
        bool dropped;
    };
    const std::vector<Row> rows = {
        {"openvpn is waited for, however late", {"connect", "created", "a minute"}, {}, 0, 0, false},
        {"and dialled on the turn after its answer, with no wait", {"connect", "created", "a minute", "answer", "no time"},
         {}, 1, 0, false},
        {"which may then establish", {"connect", "created", "answer", "no time", "established"}, {"established"}, 1,
         0, false},
        {"a creation reply of an ended try waits for no answer", {"connect", "end", "created", "a minute"}, {}, 0, 0,
         true},
        {"an answer of an ended try dials nothing", {"connect", "created", "end", "answer", "50 ms"}, {}, 0, 0, true},
        {"a try that ended before the dial's turn dials nothing", {"connect", "created", "answer", "end", "50 ms"}, {},
         0, 0, true},
        {"a late established of an ended try ends its tunnel unseen",
         {"connect", "created", "answer", "50 ms", "end", "established"}, {}, 1, 1, true},
        {"an error of an ended try shows nothing", {"connect", "created", "answer", "50 ms", "end", "error"}, {}, 1,
         0, true},
        {"a report of the try before the one in force is dropped",
         {"connect", "created", "answer", "50 ms", "next try", "error"}, {}, 1, 0, true},
        // Fail closed: what no try asked for acts for none.
        {"a connect made with no try in force creates nothing it would dial", {"end", "connect", "created", "a minute"},
         {}, 0, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        openvpn->calls.clear();
        openvpn->waitsForAnswer = true;
        helper.createDelayMs = 100;
        context.tryInForce = ConnectionTicket{1, 1};
        context.dropped.clear();
        make();
        events.clear();
        for (const std::string& step : row.script) {
            if (step == "connect") {
                manager->connect(server());
                queue.runUntilIdle();
            } else if (step == "created") {
                queue.advance(100);
            } else if (step == "a minute") {
                queue.advance(60000);
            } else if (step == "answer") {
                ASSERT_TRUE(openvpn->answer);
                openvpn->answer(true);
            } else if (step == "no time") {
                queue.runUntilIdle();
            } else if (step == "50 ms") {
                queue.advance(50);
            } else if (step == "end") {
                context.tryInForce.reset();
            } else if (step == "next try") {
                context.tryInForce = ConnectionTicket{1, 2};
            } else if (step == "established") {
                openvpn->report(VPNStatusCodes::connected);
                queue.advance(5000);
            } else if (step == "error") {
                openvpn->report(VPNStatusCodes::disconnected, "Auth failed");
                queue.advance(5000);
            }
        }
        EXPECT_EQ(events, row.events);
        EXPECT_EQ(openvpn->count("startDial"), row.dials);
        EXPECT_EQ(openvpn->count("disconnect"), row.disconnects);
        EXPECT_EQ(!context.dropped.empty(), row.dropped);
    }
}

TEST_F(StatusHandling, ReportsFromAnotherThreadArriveOnTheMainQueueInOrder) {
    make();
    connectThrough();
    std::thread reporter([this] {
        openvpn->report(1);
        openvpn->report(2);
    });
    reporter.join();
    EXPECT_TRUE(manager->connectionExists() == false);  // nothing touched off the main thread
    queue.runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"connecting", "established"}));
}

TEST_F(StatusHandling, MissingRequiredCallbacksAreLoggedNotCalled) {
    make();
    manager->onDisconnectedStateNotification = nullptr;
    manager->onConnectionErrorNotification = nullptr;
    connectThrough();
    openvpn->report(9);
    openvpn->report(0);
    queue.runUntilIdle();
    EXPECT_EQ(log->countAtLeast(LogLevel::Error), 2u);
}

class AutomaticOrder : public ManagerFixture {
protected:
    // Walks the whole order to its end: strongSwan and OpenVPN fail, and
    // the helper refuses L2TP's service.
    void failWholeOrder() {
        helper.createResults = {true, false};
        ike->report(0);
        queue.advance(1100);
        openvpn->dialCompletion();
        openvpn->report(0, "Auth failed");
        queue.advance(3000);
    }
    void SetUp() override {
        context.protocol = VPNTypesAutomatic;
        make();
        connectThrough();
    }
};

TEST_F(AutomaticOrder, WalksStrongSwanOpenVPNThenL2TPWithTheSameServer) {
    ASSERT_EQ(manager->currentProvider(), ike);
    ike->report(3);  // disconnecting: the search waits for the end
    queue.runUntilIdle();
    EXPECT_EQ(manager->currentProvider(), ike);
    ike->report(0);
    queue.advance(1100);
    EXPECT_EQ(manager->currentProvider(), openvpn);
    EXPECT_EQ(ike->count("stopUpdates"), 2);  // the connect's own, and the step's
    ASSERT_EQ(helper.created.size(), 1u);
    EXPECT_EQ(helper.created[0].type, 1);
    EXPECT_EQ(helper.created[0].endpointPrefix, "de1.");
    EXPECT_EQ(openvpn->count("startDial"), 1);

    openvpn->dialCompletion();
    openvpn->report(0, "Auth failed");
    queue.advance(1100);
    EXPECT_EQ(manager->currentProvider(), l2tp);
    EXPECT_EQ(helper.count("deleteService:Havenway"), 1);
    ASSERT_EQ(helper.created.size(), 2u);
    EXPECT_EQ(helper.created[1].type, 2);
    EXPECT_TRUE(events.empty());

    l2tp->report(0, "13");
    queue.runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{generic()}));
    ASSERT_EQ(uploader.reports.size(), 1u);
    EXPECT_EQ(uploader.reports[0].message, LocaleData::vpn_ppp_error_new_2());
    EXPECT_TRUE(manager->automaticModeDiscoveryInProgress());
    EXPECT_FALSE(manager->connectionInProgress());
}

TEST_F(AutomaticOrder, LateReportOfAnEarlierProviderIsIgnored) {
    ike->report(0);
    queue.advance(1100);
    ASSERT_EQ(manager->currentProvider(), openvpn);
    // The strongSwan callback was dropped; a report through a stale path changes nothing.
    manager->handleStatusChange(0, std::nullopt, VPNTypesIKEv2_StrongSwan);
    queue.advance(1100);
    EXPECT_EQ(manager->currentProvider(), openvpn);
    EXPECT_TRUE(events.empty());
}

// IKE that got no answer hands over to the next protocol, whatever the
// retries: a reconnect never waits with nothing running.
TEST_F(AutomaticOrder, StrongSwanWithoutAnAnswerHandsOverEvenWhileReconnecting) {
    context.reconnecting = true;
    context.attempts = 2;
    ike->report(0);
    queue.advance(1100);
    EXPECT_EQ(manager->currentProvider(), openvpn);
}

TEST_F(AutomaticOrder, FirstConnectedProtocolIsRememberedAndEndsTheSearch) {
    ike->report(0);
    queue.advance(1100);
    openvpn->report(2);
    queue.runUntilIdle();
    EXPECT_EQ(manager->preferedVPNProtocolForAutomaticMode(), VPNTypesOpenVPN);
    EXPECT_FALSE(manager->automaticModeDiscoveryInProgress());
    EXPECT_EQ(events, (std::vector<std::string>{"established"}));
    openvpn->report(0);
    queue.advance(1100);
    EXPECT_EQ(manager->currentProvider(), openvpn);
    EXPECT_EQ(events.back(), "disconnected:00");
}

// The round is a try like any other: its end is an error the connection's
// life paces, never a refusal that ends the attempt.
TEST_F(AutomaticOrder, ALastRoadTheHelperCreatesNothingForEndsTheRoundAsAnError) {
    failWholeOrder();
    EXPECT_EQ(manager->currentProvider(), l2tp);
    EXPECT_EQ(l2tp->count("startDial"), 0);
    EXPECT_EQ(events, (std::vector<std::string>{generic()}));
    EXPECT_FALSE(manager->connectionInProgress());
}

// What one road answers, reported by the road it names: the account's
// refusal ends the attempt wherever it comes (no road changes it); the
// machine's answers move the order on, and at its end are an ordinary error.
TEST_F(AutomaticOrder, OnlyTheAccountsRefusalEndsTheAttempt) {
    struct Row {
        const char* name;
        int stepsBefore;  // roads failed before the one that answers
        std::optional<std::string> message;
        std::vector<std::string> events;
        int roadsCreated;  // by the helper, in all
        std::size_t orderAfter;
    };
    const std::string wrongPassword = OpenVPNConstants::errorText(0);
    for (const Row& row : {
             Row{"IKEv2 refuses the account", 0, "Client authentication failed", {"refused:" + wrongPassword}, 0, 3},
             Row{"OpenVPN refuses the account", 1, wrongPassword, {"refused:" + wrongPassword}, 1, 3},
             Row{"IKEv2's server is not trusted", 0, "Server authentication failed", {}, 1, 3},
             Row{"OpenVPN has no TUN device", 1, OpenVPNConstants::errorText(2), {}, 2, 3},
             Row{"L2TP without kernel support", 2, std::string("4"), {generic()}, 2, 2},
             Row{"L2TP with bad options", 2, std::string("2"), {generic()}, 2, 3},
         }) {
        SCOPED_TRACE(row.name);
        make();
        connectThrough();
        helper.created.clear();
        runner.responder = [](const ProcessRequest&) { return FakeProcessRunner::exited(0, "ppp line\n"); };
        std::vector<std::shared_ptr<FakeProvider>> order{ike, openvpn, l2tp};
        for (int i = 0; i < row.stepsBefore; ++i) {
            order[i]->report(0);
            queue.advance(1100);
        }
        order[row.stepsBefore]->report(0, row.message);
        queue.advance(1100);
        EXPECT_EQ(events, row.events);
        EXPECT_EQ(static_cast<int>(helper.created.size()), row.roadsCreated);
        EXPECT_EQ(manager->preferedConnectionProviders().size(), row.orderAfter);
        events.clear();
    }
}

// A road this machine cannot build is left out of the order from the start,
// with one line; the round is then the roads that can run.
TEST_F(AutomaticOrder, ARoadThatCannotBeBuiltIsLeftOutWithOneLine) {
    cannotBuild = [](VPNTypes type) -> std::optional<std::string> {
        if (type == VPNTypesL2TP) return std::string("no /dev/ppp");
        return std::nullopt;
    };
    make();
    EXPECT_EQ(manager->preferedConnectionProviders(), (std::vector<VPNConnectionManager::Provider>{ike, openvpn}));
    const auto lines = log->lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& l) { return l.message == "Automatic leaves L2TP out: no /dev/ppp"; }),
              1);
    connectThrough();
    ike->report(0);
    queue.advance(1100);
    openvpn->report(0, OpenVPNConstants::errorText(4));
    queue.advance(1100);
    EXPECT_EQ(events, std::vector<std::string>{"error:" + OpenVPNConstants::errorText(4)});
    EXPECT_EQ(l2tp->count("startDial"), 0);
    // The next round starts from the first road again, once openvpn has ended.
    const int endings = helper.count("terminatePreviousOpenVPNProcesses");
    manager->beginUserConnect();
    EXPECT_EQ(manager->currentProvider(), ike);
    EXPECT_EQ(helper.count("terminatePreviousOpenVPNProcesses"), endings + 1);
}

// What a report asks of the owner goes only while its try is in force when
// it is handed on: a Cancel or a later try in between drops it.
TEST_F(AutomaticOrder, AReportWhoseTryEndsBeforeItIsHandedOnIsDropped) {
    struct Row {
        const char* name;
        VPNTypes road;
        std::int32_t status;
        std::optional<std::string> message;
    };
    for (const Row& row : {Row{"a down", VPNTypesOpenVPN, 0, std::nullopt},
                           Row{"an error", VPNTypesOpenVPN, 0, std::string("Auth failed")},
                           Row{"a refusal", VPNTypesOpenVPN, 0, OpenVPNConstants::errorText(0)},
                           Row{"a connecting", VPNTypesOpenVPN, 1, std::nullopt},
                           Row{"a PPP cause", VPNTypesL2TP, 0, std::string("13")}}) {
        SCOPED_TRACE(row.name);
        context.protocol = row.road;
        context.tryInForce = ConnectionTicket{1, 1};
        make();
        connectThrough();
        runner.responder = [](const ProcessRequest&) { return FakeProcessRunner::exited(0, "ppp line\n"); };
        providerOf(row.road).report(row.status, row.message);
        context.tryInForce = ConnectionTicket{1, 2};
        queue.runUntilIdle();
        EXPECT_TRUE(events.empty());
        EXPECT_FALSE(context.dropped.empty());
        context.dropped.clear();
        context.tryInForce = ConnectionTicket{1, 1};
    }
}

// A round starts from the road that last connected, and the rest of the
// order follows it in the same round.
TEST_F(AutomaticOrder, EachUserConnectStartsFromTheLastWinnerAndFallsBackThroughTheRest) {
    failWholeOrder();
    ASSERT_EQ(manager->currentProvider(), l2tp);
    const int l2tpStops = l2tp->count("stopUpdates");
    manager->beginUserConnect();
    EXPECT_EQ(manager->currentProvider(), ike);
    EXPECT_TRUE(manager->automaticModeDiscoveryInProgress());
    EXPECT_EQ(l2tp->count("stopUpdates"), l2tpStops + 1);  // the failed road falls silent
    EXPECT_FALSE(manager->preferedVPNProtocolForAutomaticMode());

    // OpenVPN connects this time: it is the road the next connect takes.
    connectThrough();
    ike->report(0);
    queue.advance(1100);
    openvpn->report(2);
    queue.runUntilIdle();  // its IPv6 and DNS steps answered
    openvpn->report(0);
    queue.advance(1100);
    manager->beginUserConnect();
    EXPECT_EQ(manager->currentProvider(), openvpn);
    EXPECT_TRUE(manager->automaticModeDiscoveryInProgress());

    // Its port dropped since: the round goes on to the others, in their order.
    connectThrough();
    openvpn->report(0, "Auth failed");
    queue.advance(1100);
    EXPECT_EQ(manager->currentProvider(), ike);
    ike->report(0);
    queue.advance(1100);
    EXPECT_EQ(manager->currentProvider(), l2tp);
    EXPECT_EQ(manager->preferedVPNProtocolForAutomaticMode(), VPNTypesOpenVPN) << "a failed round won nothing";
}

TEST_F(AutomaticOrder, TheNextAccountInheritsNoRoadServerOrFlag) {
    failWholeOrder();
    manager->forgetAccountAttempt();
    EXPECT_EQ(manager->currentProvider(), ike);
    EXPECT_FALSE(manager->currentVPNConfig());
    EXPECT_FALSE(manager->connectionInProgress());
    EXPECT_FALSE(manager->preferedVPNProtocolForAutomaticMode());
}

class FixedProtocol : public ManagerFixture {};

TEST_F(FixedProtocol, AUserConnectKeepsTheChosenRoad) {
    context.protocol = VPNTypesOpenVPN;
    make();
    manager->beginUserConnect();
    EXPECT_EQ(manager->currentProvider(), openvpn);
    EXPECT_FALSE(manager->automaticModeDiscoveryInProgress());
}

}  // namespace
}  // namespace hw::test
