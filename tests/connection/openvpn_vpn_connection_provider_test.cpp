#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "connection/openvpn_constants.h"
#include "connection/openvpn_vpn_connection_provider.h"
#include "openvpn_fake_management.h"
#include "support/capture_log.h"
#include "support/temp_dir.h"
#include "support/manual_queue.h"

namespace hw {
namespace {

class FakeContext final : public OpenVPN_ProviderContext {
public:
    std::vector<std::string>& calls;
    explicit FakeContext(std::vector<std::string>& c) : calls(c) {}

    std::optional<OpenVPNLoginData> login = OpenVPNLoginData{"alice", "s3cret pass"};
    bool lockSetting = false, lockOn = false, autoReconnect = false, loggedIn = true, reconnectFlag = false;

    std::optional<OpenVPNLoginData> recentLoginData() const override { return login; }
    bool useNetworkLock() const override { return lockSetting; }
    bool networkLockActivated() const override { return lockOn; }
    bool autoReconnectInProgress() const override { return autoReconnect; }
    void setOpenVPN_Reconnect_in_progress(bool v) override { reconnectFlag = v; }
    bool isLoggedInUser() const override { return loggedIn; }
    void tryEnded(const std::optional<ConnectionTicket>&) override { calls.push_back("tryEnded"); }
    void showAutoReconnectOverlay() override { calls.push_back("overlay"); }
    void showAutoReconnectWithNetworkLockNotification() override { calls.push_back("banner"); }
    void enableNetworkLock() override { calls.push_back("enableNetworkLock"); }
};

class OpenVPNProviderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The provider names its configuration file once per process.
        static test::TempDir data;
        ::setenv("HAVENWAY_DATA_DIR", data.path().c_str(), 1);
    }
    void SetUp() override {
        provider.retrieveConnectionAndSubscribeToStatusUpdates(
            "ignored",
            [this](std::int32_t status, const std::optional<std::string>& message, VPNTypes type) {
                calls.push_back("status " + std::to_string(status) + (message ? " " + *message : "") + " type " +
                                std::to_string(type));
            },
            false);
    }

    // A dial onto a management interface that says nothing.
    void dial() {
        servers.emplace_back(std::make_unique<test::FakeManagementServer>());
        provider.connectorHelper()->setManagementSocket(servers.back()->handOver());
        provider.startDial({});
    }

    test::ManualQueue queue;
    std::vector<std::unique_ptr<test::FakeManagementServer>> servers;
    std::vector<std::string> calls;
    FakeContext context{calls};
    OpenVPN_VPNConnectionProvider provider{queue, context};
};

// The helper hands the interface over once openvpn listens, and openvpn then
// waits for its credentials: ready at once, before openvpn said a word, and
// the prompt that follows its greeting is still answered.
TEST_F(OpenVPNProviderTest, ReadyToDialAtOnceAndThePromptAfterTheGreetingIsAnswered) {
    servers.emplace_back(std::make_unique<test::FakeManagementServer>());
    test::FakeManagementServer& server = *servers.back();
    provider.connectorHelper()->setManagementSocket(server.handOver());
    std::optional<bool> ready;
    EXPECT_TRUE(provider.whenReadyToDial([&ready](bool answered) { ready = answered; }));
    EXPECT_EQ(ready, std::optional<bool>(true));
    provider.startDial({});
    EXPECT_EQ(server.readLine(), "state on all");
    EXPECT_EQ(server.readLine(), "log on");
    server.sendLine(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info");
    server.sendLine(">PASSWORD:Need 'Auth' username/password");
    EXPECT_EQ(server.readLine(), "username \"Auth\" \"alice\"");
    EXPECT_EQ(server.readLine(), "password \"Auth\" \"s3cret pass\"");
    provider.disconnect({});
    queue.runUntilIdle();
}

TEST_F(OpenVPNProviderTest, ErrorsReportDisconnectedWithTheirText) {
    provider.onError(2);
    provider.onError(7);
    provider.onNotReachable();
    EXPECT_EQ(calls, (std::vector<std::string>{"status 0 Can not allocate TUN or TAP drivers. type 1",
                                               "status 0 General connection error, code: 7 type 1",
                                               "status 9 type 1"}));
}

// openvpn restarting by itself has no banner of its own; once its tunnel
// was up, the restart is a drop the connection life takes over.
TEST_F(OpenVPNProviderTest, ReconnectReengagesTheLockLaterAndHandsADropOver) {
    struct Case {
        bool connectedBefore, lockOn, loggedIn;
        std::vector<std::string> calls;
    };
    for (const Case& c : {Case{false, false, true, {"status 1 type 1"}},
                          Case{false, true, true, {"status 1 type 1", "enableNetworkLock"}},
                          Case{true, false, true, {"status 1 type 1", "tryEnded"}},
                          Case{true, true, true, {"status 1 type 1", "tryEnded", "enableNetworkLock"}},
                          Case{true, true, false, {"status 1 type 1"}}}) {
        if (c.connectedBefore) provider.onConnected();
        queue.runUntilIdle();
        calls.clear();
        context.reconnectFlag = false;
        context.lockOn = c.lockOn;
        context.loggedIn = c.loggedIn;
        provider.onReConnected();
        queue.runUntilIdle();
        EXPECT_EQ(calls, c.calls);
        EXPECT_TRUE(context.reconnectFlag);
    }
}

TEST_F(OpenVPNProviderTest, DisconnectReportsTheEndAndLeavesTheRetryToTheConnectionLife) {
    context.lockOn = true;
    for (const bool reconnecting : {false, true}) {
        calls.clear();
        context.autoReconnect = reconnecting;
        provider.onDisconnected();
        EXPECT_EQ(calls, std::vector<std::string>{"status 0 type 1"});
    }
}

TEST_F(OpenVPNProviderTest, ConnectedReengagesOnlyWhenAllThreeHold) {
    for (int mask = 0; mask < 8; ++mask) {
        calls.clear();
        context.lockSetting = mask & 1;
        context.lockOn = mask & 2;
        context.autoReconnect = mask & 4;
        provider.onConnected();
        queue.runUntilIdle();
        std::vector<std::string> expected{"status 2 type 1"};
        if (mask == 7) expected.push_back("enableNetworkLock");
        EXPECT_EQ(calls, expected) << mask;
    }
}

TEST_F(OpenVPNProviderTest, LogDataKeepsTheLastThousandLinesWithoutThePassword) {
    auto capture = test::CaptureLog::install();
    provider.applyCredentials();
    for (int i = 0; i < 1500; ++i) provider.onLog("line " + std::to_string(i));
    provider.onLog("AUTH: Received control message: bad password s3cret pass for alice");
    std::string log = provider.logData();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1000);
    EXPECT_EQ(log.find("line 500\n"), std::string::npos);
    EXPECT_EQ(log.rfind("line 501\n", 0), 0u);
    EXPECT_EQ(log.find("s3cret pass"), std::string::npos);
    EXPECT_NE(log.find("bad password [...] for alice\n"), std::string::npos);
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(capture->contains("bad password")) << "the connector logs each line; this would be the second";
    log::setSink(nullptr);
}

// Whatever the served configuration says (resolv-retry infinite), a try
// ends: after the bound, or at once when openvpn cannot get to its server.
TEST_F(OpenVPNProviderTest, ATryThatDoesNotConnectEndsAsItsOwnFailure) {
    const std::string failure = "status 0 " + OpenVPNConstants::errorText(4) + " type 1";
    struct Row {
        const char* name;
        std::string line;  // none: openvpn stays silent
        double endsAfterMs;
    };
    for (const Row& row :
         {Row{"silent", "", OpenVPN_VPNConnectionProvider::kTryBoundMs},
          Row{"unresolvable", ">LOG:1700000000,N,RESOLVE: Cannot resolve host address: ca1.havenway.test:1194 "
                              "(Temporary failure in name resolution)", 0},
          Row{"no route", ">LOG:1700000000,W,write UDPv4: Network is unreachable (fd=5,code=101)", 0}}) {
        SCOPED_TRACE(row.name);
        calls.clear();
        dial();
        queue.runUntilIdle();
        if (!row.line.empty()) provider.onLog(row.line);
        queue.advance(row.endsAfterMs == 0 ? 0 : row.endsAfterMs - 1);
        if (row.endsAfterMs != 0) {
            EXPECT_TRUE(calls.empty());
            queue.advance(1);
        }
        EXPECT_EQ(calls, std::vector<std::string>{failure});
        // The stopped openvpn's own end is not a second report.
        provider.onDisconnected();
        provider.onError(4);
        queue.advance(OpenVPN_VPNConnectionProvider::kTryBoundMs);
        EXPECT_EQ(calls, std::vector<std::string>{failure});
    }
}

TEST_F(OpenVPNProviderTest, TheBoundSparesATryThatConnectedOrEndedAndNeverReachesTheNextTry) {
    dial();
    provider.onConnected();
    // A tunnel up: lines about a route are no end of the try.
    provider.onLog(">LOG:1700000000,W,write UDPv4: Network is unreachable (fd=5,code=101)");
    queue.advance(OpenVPN_VPNConnectionProvider::kTryBoundMs * 2);
    EXPECT_EQ(calls, std::vector<std::string>{"status 2 type 1"});

    // Nor, before the tunnel, an IPv6 try where IPv6 is off.
    calls.clear();
    dial();
    provider.onLog(">LOG:1700000000,W,write UDPv6: Network is unreachable (fd=5,code=101)");
    provider.onConnected();
    queue.advance(OpenVPN_VPNConnectionProvider::kTryBoundMs * 2);
    EXPECT_EQ(calls, std::vector<std::string>{"status 2 type 1"});

    calls.clear();
    dial();
    queue.advance(OpenVPN_VPNConnectionProvider::kTryBoundMs / 2);
    provider.disconnect({});
    queue.runUntilIdle();
    calls.clear();
    dial();
    queue.advance(OpenVPN_VPNConnectionProvider::kTryBoundMs / 2);
    EXPECT_TRUE(calls.empty()) << "the first try's bound ended the second";
    queue.advance(OpenVPN_VPNConnectionProvider::kTryBoundMs / 2);
    EXPECT_EQ(calls.size(), 1u);
}

// A connected openvpn that looks its server up again restarted by itself
// and looks through its dead tunnel, for good: it goes, as a drop the
// policy's paced tries take over, with no error of a try.
TEST_F(OpenVPNProviderTest, AConnectedOpenVPNThatLooksItsServerUpAgainEndsAsADrop) {
    dial();
    provider.onConnected();
    calls.clear();
    provider.onLog(">LOG:1700000000,N,RESOLVE: Cannot resolve host address: ca1.havenway.test:1194 "
                   "(Temporary failure in name resolution)");
    EXPECT_EQ(calls, std::vector<std::string>{"status 0 type 1"});
    provider.onDisconnected();
    provider.onReConnected();
    EXPECT_EQ(calls.size(), 1u) << "its own end is no second report";
}

// The dial's completion (the manager's connect-in-progress ends with it) runs
// once per try, when it connected or ended, however it ended.
TEST_F(OpenVPNProviderTest, TheDialCompletesOnceWhenTheTryConnectsOrEnds) {
    struct Row {
        const char* name;
        std::function<void()> end;
    };
    const Row rows[] = {{"connected", [&] { provider.onConnected(); }},
                        {"openvpn ended", [&] { provider.onDisconnected(); }},
                        {"an error", [&] { provider.onError(0); }},
                        {"no route", [&] { provider.onLog(">LOG:1700000000,W,write UDPv4: Network is unreachable (fd=5,code=101)"); }}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        servers.emplace_back(std::make_unique<test::FakeManagementServer>());
        provider.connectorHelper()->setManagementSocket(servers.back()->handOver());
        int completions = 0;
        provider.startDial([&] { ++completions; });
        queue.runUntilIdle();
        EXPECT_EQ(completions, 0);
        row.end();
        provider.onDisconnected();
        queue.runUntilIdle();
        EXPECT_EQ(completions, 1);
        provider.disconnect({});
        queue.runUntilIdle();
    }
}

}  // namespace
}  // namespace hw
