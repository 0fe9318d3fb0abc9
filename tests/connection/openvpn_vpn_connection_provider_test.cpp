#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "connection/openvpn_vpn_connection_provider.h"
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
    void setAutoReconnectInProgress(bool v) override { autoReconnect = v; }
    void setOpenVPN_Reconnect_in_progress(bool v) override { reconnectFlag = v; }
    bool isLoggedInUser() const override { return loggedIn; }
    void requestAutoReconnect() override { calls.push_back("requestAutoReconnect"); }
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

    test::ManualQueue queue;
    std::vector<std::string> calls;
    FakeContext context{calls};
    OpenVPN_VPNConnectionProvider provider{queue, context};
};

TEST_F(OpenVPNProviderTest, ErrorsReportDisconnectedWithTheirText) {
    provider.onError(2);
    provider.onError(7);
    provider.onNotReachable();
    EXPECT_EQ(calls, (std::vector<std::string>{"status 0 Can not allocate TUN or TAP drivers. type 1",
                                               "status 0 General connection error, code: 7 type 1",
                                               "status 9 type 1"}));
}

TEST_F(OpenVPNProviderTest, ReconnectUnderTheKillSwitchShowsTheOverlayAndReengagesLater) {
    struct Case {
        bool lockOn, autoReconnect, loggedIn;
        std::vector<std::string> calls;
    };
    for (const Case& c : {Case{false, false, true, {"status 1 type 1"}},
                          Case{true, true, true, {"overlay", "status 1 type 1", "enableNetworkLock"}},
                          // openvpn restarting by itself: the user is told
                          Case{true, false, true, {"banner", "overlay", "status 1 type 1", "enableNetworkLock"}},
                          Case{true, false, false, {"status 1 type 1"}}}) {
        calls.clear();
        context.reconnectFlag = false;
        context.lockOn = c.lockOn;
        context.autoReconnect = c.autoReconnect;
        context.loggedIn = c.loggedIn;
        provider.onReConnected();
        EXPECT_EQ(calls.back(), "status 1 type 1");  // the lock is engaged after the report, not inside it
        queue.runUntilIdle();
        EXPECT_EQ(calls, c.calls);
        EXPECT_TRUE(context.reconnectFlag);
    }
}

TEST_F(OpenVPNProviderTest, DisconnectHandsOverToTheAutoReconnectOnlyUnderTheKillSwitch) {
    context.lockOn = true;
    provider.onDisconnected();
    EXPECT_EQ(calls, std::vector<std::string>{"status 0 type 1"});

    calls.clear();
    context.autoReconnect = true;
    provider.onDisconnected();
    EXPECT_EQ(calls, (std::vector<std::string>{"status 0 type 1", "requestAutoReconnect"}));
    EXPECT_FALSE(context.autoReconnect);
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
}

}  // namespace
}  // namespace hw
