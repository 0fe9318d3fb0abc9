#include "connection/ikev2_strongswan_connector.h"

#include <gtest/gtest.h>

#include "ikev2_strongswan_fixture.h"
#include "support/capture_log.h"

namespace hw {
namespace {

using test::FakeIkePeer;

class RecordingDelegate final : public IKEv2_StrongSwan_ControlDelegate {
public:
    void change(std::int32_t state, const IKEv2ConnectionDictionary& c) override {
        seen.push_back("change:" + std::to_string(state));
        lastID = c.count("ID") ? c.at("ID") : "";
    }
    void onDisconnected() override { seen.push_back("onDisconnected"); }
    void raise(const std::string& message, const IKEv2ConnectionDictionary&) override { seen.push_back("raise:" + message); }
    void log(const std::string& message, const IKEv2ConnectionDictionary&) override { seen.push_back("log:" + message); }
    std::vector<std::string> seen;
    std::string lastID;
};

class StrongSwanConnectorTest : public testing::Test {
protected:
    StrongSwanConnectorTest() {
        tool_.connection = connection_;
    }
    ~StrongSwanConnectorTest() override { connection_->cancel(); }

    HelperMessage start(IKEv2ConnectionDictionary d = {{"server", "vpn.example"}, {"username", "alice"}, {"password", "s3cret"}}) {
        bool connected = false;
        connector_.connect(d, [&] { connected = true; });
        auto m = peer_.takeStart();
        EXPECT_TRUE(queue_.waitFor([&] { return connected; }));
        return m;
    }
    template <typename F>
    bool answered(F& future) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            queue_.inner.runUntilIdle();
            if (future.wait_for(std::chrono::milliseconds(5)) == std::future_status::ready) return true;
        }
        return false;
    }
    bool waitSeen(std::size_t n) {
        return queue_.waitFor([&] { return delegate_.seen.size() >= n; });
    }

    test::WakingQueue queue_;
    std::shared_ptr<HelperConnection> connection_ = std::make_shared<HelperConnection>(queue_);
    FakeIkePeer peer_{*connection_};
    test::TestHelperTool tool_{queue_};
    RecordingDelegate delegate_;
    IKEv2_StrongSwan_Connector connector_{queue_, tool_.connector, &delegate_};
};

TEST_F(StrongSwanConnectorTest, StartMessageCarriesTheServerAndIdentityButNeverThePassword) {
    auto log = test::CaptureLog::install();
    auto m = start();
    EXPECT_EQ(*helperString(m, "rpc"), "start_connection");
    EXPECT_EQ(*helperString(m, "host"), "vpn.example");
    EXPECT_EQ(*helperString(m, "id"), "alice");
    EXPECT_FALSE(m.count("host_ip"));
    EXPECT_FALSE(m.count("password"));
    EXPECT_TRUE(helperChannel(m, "channel"));
    auto withIp = start({{"server", "vpn.example"}, {"username", "alice"}, {"server_IP", "192.0.2.1"}, {"password", "x"}});
    EXPECT_EQ(*helperString(withIp, "host_ip"), "192.0.2.1");
    log::setSink(nullptr);
    EXPECT_FALSE(log->contains("s3cret"));
}

// Without a helper the error comes when the helper may be tried again, so the
// reconnects it sets off go at the back-off's pace: one try and one log
// line per interval, however often connect is called meanwhile.
TEST_F(StrongSwanConnectorTest, NoHelperConnectionRaisesTheConnectorErrorAtTheBackOffsPace) {
    auto log = test::CaptureLog::install();
    tool_.connection = nullptr;
    const IKEv2ConnectionDictionary d{{"server", "vpn.example"}, {"username", "alice"}};
    const std::vector<std::string> raised{"raise:creating XPC mach service failed"};
    connector_.connect(d, [] { FAIL() << "nothing was sent"; });
    queue_.inner.advance(999);
    EXPECT_TRUE(delegate_.seen.empty());
    queue_.inner.advance(1);
    EXPECT_EQ(delegate_.seen, raised);
    // Retried inside the back-off: no try, no line, the error at its end.
    tool_.nowMs = 500;
    delegate_.seen.clear();
    for (int i = 0; i < 100; ++i) connector_.connect(d, [] { FAIL() << "nothing was sent"; });
    queue_.inner.advance(499);
    EXPECT_TRUE(delegate_.seen.empty());
    queue_.inner.advance(1);
    EXPECT_EQ(delegate_.seen, raised) << "only the latest start reports";
    EXPECT_EQ(tool_.asked, 1);
    EXPECT_EQ(log->countAtLeast(LogLevel::Warning), 2u) << "the connector's line and the start's";
    // The next try comes after a doubled back-off and finds the helper back.
    tool_.nowMs = 1000;
    tool_.connection = connection_;
    start();
    EXPECT_EQ(tool_.asked, 2);
    log::setSink(nullptr);
}

TEST_F(StrongSwanConnectorTest, EventsBecomeStatesAndAlertsBecomeTexts) {
    start();
    peer_.event(0, "connecting");
    peer_.event(0, "child_up");
    ASSERT_TRUE(waitSeen(2));
    EXPECT_TRUE(connector_.isActive());
    peer_.event(0, {{"type", "event"}, {"event", "alert"}, {"alert", "made-up"}});
    peer_.event(0, {{"type", "event"}, {"event", "log"}, {"message", "a line"}});
    peer_.event(0, {{"type", "event"}, {"event", "nonsense"}});
    peer_.event(0, {{"event", "child_down"}});  // no "type": ignored
    peer_.event(0, {{"type", "event"}, {"event", "alert"}, {"alert", "local-auth"}});
    peer_.event(0, {{"type", "event"}, {"event", "alert"}, {"alert", "timeout"}});
    peer_.event(0, "down");
    ASSERT_TRUE(waitSeen(5));
    EXPECT_EQ(delegate_.seen, (std::vector<std::string>{"change:1", "change:2", "raise:Client authentication failed",
                                                        "raise:Server did not respond", "change:0"}));
    EXPECT_FALSE(connector_.isActive());
}

// Reconnects leave earlier starts' channels behind; what they report late
// (their "connecting", their "down") says nothing of the tunnel now.
TEST_F(StrongSwanConnectorTest, StatesOfAnEarlierStartAreIgnored) {
    start();
    start({{"server", "vpn.example"}, {"username", "alice"}, {"password", "s3cret"}});
    peer_.event(1, "connecting");
    peer_.event(1, "child_up");
    ASSERT_TRUE(waitSeen(2));
    auto log = test::CaptureLog::install();
    peer_.event(0, "connecting");
    peer_.event(0, {{"type", "event"}, {"event", "alert"}, {"alert", "timeout"}});
    peer_.event(0, "down");
    EXPECT_TRUE(queue_.waitFor([&] { return log->contains("'down' of an earlier start ignored"); }));
    log::setSink(nullptr);
    EXPECT_EQ(delegate_.seen, (std::vector<std::string>{"change:1", "change:2"}));
    EXPECT_TRUE(connector_.isActive());
}

TEST_F(StrongSwanConnectorTest, PasswordGoesOnlyToTheCurrentStartsChannel) {
    start();
    auto answer = peer_.request(0, {{"type", "rpc"}, {"rpc", "get_password"}});
    ASSERT_TRUE(answered(answer));
    auto got = answer.get();
    ASSERT_TRUE(got);
    EXPECT_EQ(*helperString(*got, "password"), "s3cret");

    auto unknown = peer_.request(0, {{"type", "rpc"}, {"rpc", "what"}});
    ASSERT_TRUE(answered(unknown));
    auto empty = unknown.get();
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());

    start({{"server", "vpn.example"}, {"username", "bob"}, {"password", "newer"}});
    auto stale = peer_.request(0, {{"type", "rpc"}, {"rpc", "get_password"}});
    ASSERT_TRUE(answered(stale));
    auto refused = stale.get();
    ASSERT_TRUE(refused);  // answered, but without a password
    EXPECT_FALSE(refused->count("password"));
}

TEST_F(StrongSwanConnectorTest, ForcedStopHoldsBackDownEventsUntilItsReply) {
    start();
    peer_.event(0, "connecting");
    ASSERT_TRUE(waitSeen(1));
    connector_.disconnect(true);
    EXPECT_TRUE(connector_.skipDisconnectEventSend());
    auto stop = peer_.takeRequest(0);
    ASSERT_TRUE(stop);
    EXPECT_EQ(*helperString(stop->message, "rpc"), "stop_connection_forced");
    peer_.event(0, "child_down");
    peer_.event(0, "connecting");  // a marker: everything before it has been handled
    ASSERT_TRUE(waitSeen(2));
    EXPECT_EQ(delegate_.seen, (std::vector<std::string>{"change:1", "change:1"}));

    std::string error;
    ASSERT_TRUE(sendHelperMessage(stop->replyChannel.get(), {{"reply", "YES"}}, -1, 5000, &error));
    ASSERT_TRUE(queue_.waitFor([&] { return !connector_.skipDisconnectEventSend(); }));
    peer_.event(0, "down");
    ASSERT_TRUE(waitSeen(3));
    EXPECT_EQ(delegate_.seen.back(), "change:0");

    // Nothing active any more: a stop sends nothing.
    connector_.disconnect(false);
    EXPECT_FALSE(connector_.skipDisconnectEventSend());
}

// The take-over of a tunnel the helper kept: refused, the dropped channel is
// no tunnel going down, whichever of the two arrives first; accepted, the
// helper's events become states as a start's would.
TEST_F(StrongSwanConnectorTest, ATakeOverHearsTheRunningTunnelAndARefusalIsNoDrop) {
    auto log = test::CaptureLog::install();
    std::optional<bool> adopted;
    connector_.adopt([&](bool a) { adopted = a; });
    EXPECT_EQ(*helperString(peer_.takeAttach(false), "rpc"), "attach_connection");
    // The dropped channel may be heard before the answer, after it, or not at
    // all when the answer came first: never as a tunnel going down, here or
    // (a late one) beside the next take-over's states below.
    ASSERT_TRUE(queue_.waitFor([&] { return adopted.has_value(); }));
    EXPECT_FALSE(*adopted);
    EXPECT_TRUE(delegate_.seen.empty()) << testing::PrintToString(delegate_.seen);
    EXPECT_FALSE(connector_.isActive());

    adopted.reset();
    connector_.adopt([&](bool a) { adopted = a; });
    peer_.takeAttach(true);
    peer_.event(0, "connecting");
    peer_.event(0, "child_up");
    ASSERT_TRUE(waitSeen(2));
    ASSERT_TRUE(queue_.waitFor([&] { return adopted.has_value(); }));
    EXPECT_TRUE(*adopted);
    EXPECT_EQ(delegate_.seen, (std::vector<std::string>{"change:1", "change:2"}));
    EXPECT_TRUE(connector_.isActive()) << "a tunnel taken over can be stopped";
    log::setSink(nullptr);
}

TEST_F(StrongSwanConnectorTest, OnlyTheCurrentStartsBrokenChannelReportsDown) {
    start();
    start();
    peer_.channels.at(0).reset();  // the older start's channel breaks
    peer_.event(1, "connecting");
    ASSERT_TRUE(waitSeen(1));
    EXPECT_EQ(delegate_.seen, std::vector<std::string>{"change:1"});
    peer_.channels.at(1).reset();
    ASSERT_TRUE(waitSeen(2));
    EXPECT_EQ(delegate_.seen.back(), "change:0");
    EXPECT_EQ(delegate_.lastID, connector_.currentConnection().at("ID"));
    // The broken channel stays recorded as active: a stop on it gets an error reply.
    EXPECT_TRUE(connector_.isActive());
    connector_.disconnect(true);
    ASSERT_TRUE(queue_.waitFor([&] { return !connector_.skipDisconnectEventSend(); }));
}

}  // namespace
}  // namespace hw
