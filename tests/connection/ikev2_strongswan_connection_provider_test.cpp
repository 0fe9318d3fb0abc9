#include "connection/ikev2_strongswan_connection_provider.h"

#include <gtest/gtest.h>

#include "connection/openvpn_constants.h"
#include "connection/vpn_service_config.h"
#include "ikev2_strongswan_fixture.h"
#include "support/capture_log.h"

namespace hw {
namespace {

VPNServiceConfig serviceConfig(std::optional<std::string> host, std::optional<std::string> ip) {
    VPNServiceConfig c;
    c.type = VPNTypesIKEv2_StrongSwan;
    c.setEndpoint(std::move(host));
    c.endpointIPAddress = std::move(ip);
    return c;
}

class IKEv2ProviderTest : public testing::Test {
protected:
    IKEv2ProviderTest() : provider_(queue_.inner, tool_.connector, context_) {}
    void subscribe() {
        EXPECT_EQ(provider_.retrieveConnectionAndSubscribeToStatusUpdates("ignored", [this](std::int32_t s, const std::optional<std::string>& m, VPNTypes t) {
            EXPECT_EQ(t, VPNTypesIKEv2_StrongSwan);
            reports_.push_back(std::to_string(s) + (m ? ":" + *m : ""));
        }, false), 1);
    }

    test::WakingQueue queue_;
    test::TestHelperTool tool_{queue_};
    test::FakeIKEv2Context context_;
    IKEv2_StrongSwan_ConnectionProvider provider_;
    std::vector<std::string> reports_;
};

TEST_F(IKEv2ProviderTest, MapsConnectorStatesAndErrors) {
    subscribe();
    EXPECT_TRUE(reports_.empty());  // nothing reported at subscription
    context_.intentional = true;    // keep the reconnect out of this test
    for (std::int32_t s : {1, 2, 7, 0}) provider_.change(s, {});  // 7 is unknown: no report
    provider_.onNotReachable();
    provider_.onError(2);
    EXPECT_EQ(reports_, (std::vector<std::string>{"1", "2", "0", "9", "0:" + OpenVPNConstants::errorText(2)}));
}

// A drop asks for one reconnect, unless the user stopped it, nobody is
// signed in (also by the report's own handling) or nobody listens.
TEST_F(IKEv2ProviderTest, OnlyAnUnintendedDropRequestsAReconnect) {
    enum class Row { drop, userStop, signedOut, signedOutByTheReport, unsubscribed };
    for (Row row : {Row::drop, Row::userStop, Row::signedOut, Row::signedOutByTheReport, Row::unsubscribed}) {
        SCOPED_TRACE(static_cast<int>(row));
        test::FakeIKEv2Context context;
        context.intentional = row == Row::userStop;
        context.loggedIn = row != Row::signedOut;
        IKEv2_StrongSwan_ConnectionProvider provider(queue_.inner, tool_.connector, context);
        if (row != Row::unsubscribed)
            provider.setNewStatusReceivedCallback([&](std::int32_t, const std::optional<std::string>&, VPNTypes) {
                if (row == Row::signedOutByTheReport) context.loggedIn = false;
            });
        provider.change(0, {});
        const bool drop = row == Row::drop;
        EXPECT_EQ(context.reconnectRequests, drop ? 1 : 0);
    }
}

// The log names the road the reconnect takes: with the lock, or without it.
TEST_F(IKEv2ProviderTest, TheReconnectsLogLineNamesTheLockOnlyWhenItIsOn) {
    for (const bool lock : {false, true}) {
        SCOPED_TRACE(lock);
        auto log = test::CaptureLog::install();
        test::FakeIKEv2Context context;
        context.lockActivated = lock;
        IKEv2_StrongSwan_ConnectionProvider provider(queue_.inner, tool_.connector, context);
        provider.setNewStatusReceivedCallback([](std::int32_t, const std::optional<std::string>&, VPNTypes) {});
        provider.change(0, {});
        EXPECT_EQ(log->contains("the tunnel ended under the Kill Switch"), lock);
        EXPECT_EQ(log->contains("the tunnel ended without the Kill Switch"), !lock);
    }
}

TEST_F(IKEv2ProviderTest, AReconnectOrAnAlertUnderTheKillSwitchEngagesItAgainAfterwards) {
    subscribe();
    context_.lock = context_.lockActivated = context_.reconnecting = true;
    provider_.change(2, {});
    EXPECT_EQ(context_.lockEngaged, 0);  // queued, not run inside the status handling
    queue_.inner.runUntilIdle();
    EXPECT_EQ(context_.lockEngaged, 1);
    context_.reconnecting = false;
    provider_.change(2, {});
    queue_.inner.runUntilIdle();
    EXPECT_EQ(context_.lockEngaged, 1);

    provider_.raise("Server did not respond", {});
    EXPECT_EQ(reports_, (std::vector<std::string>{"2", "2", "0"}));
    EXPECT_EQ(context_.reconnectRequests, 1);
    queue_.inner.runUntilIdle();
    EXPECT_EQ(context_.lockEngaged, 2);
    context_.lockActivated = false;
    provider_.raise("Server did not respond", {});
    queue_.inner.runUntilIdle();
    EXPECT_EQ(context_.lockEngaged, 2);
}

// A session ends once: the account's refusal travels as its text and asks
// for no reconnect, and what the connector says after an end (the down that
// follows an alert, a broken channel, a late "up") is not reported. The next
// connect's session reports again, and its end names the try it began for.
TEST_F(IKEv2ProviderTest, ASessionEndsOnceAndARefusalAsksForNoReconnect) {
    subscribe();
    context_.tryInForce = ConnectionTicket{1, 1};
    provider_.connect(serviceConfig(std::nullopt, std::nullopt), [] { FAIL(); }, {});
    provider_.change(1, {});
    provider_.raise(IKEv2_StrongSwan_Connector::kClientAuthenticationFailed, {});
    provider_.change(0, {});
    provider_.change(2, {});
    provider_.onDisconnected();
    EXPECT_EQ(reports_, (std::vector<std::string>{"1", "0:Client authentication failed"}));
    EXPECT_EQ(context_.reconnectRequests, 0);

    reports_.clear();
    context_.tryInForce = ConnectionTicket{1, 2};
    provider_.connect(serviceConfig(std::nullopt, std::nullopt), [] { FAIL(); }, {});
    context_.tryInForce = ConnectionTicket{1, 3};  // the report comes later than the next try's start
    provider_.change(2, {});
    provider_.raise("Server did not respond", {});
    provider_.change(0, {});
    EXPECT_EQ(reports_, (std::vector<std::string>{"2", "0"}));
    EXPECT_EQ(context_.reconnectTickets, (std::vector<std::optional<ConnectionTicket>>{ConnectionTicket{1, 2}}));

    provider_.connect(serviceConfig(std::nullopt, std::nullopt), [] { FAIL(); }, {});
    provider_.raise(IKEv2_StrongSwan_Connector::kServerAuthenticationFailed, {});  // an untrusted server's too
    EXPECT_EQ(reports_.back(), "0:Server authentication failed");
    EXPECT_EQ(context_.reconnectTickets.size(), 1u);
}

TEST_F(IKEv2ProviderTest, ConnectNeedsAServerNameAndSendsTheIpOnlyWhenGiven) {
    provider_.connect(serviceConfig(std::nullopt, "192.0.2.1"), [] { FAIL(); }, {});
    EXPECT_EQ(tool_.asked, 0);

    auto connection = std::make_shared<HelperConnection>(queue_);
    test::FakeIkePeer peer(*connection);
    tool_.connection = connection;
    bool connected = false;
    provider_.connect(serviceConfig("vpn.example", ""), [&] { connected = true; }, {});
    EXPECT_FALSE(peer.takeStart().count("host_ip"));
    ASSERT_TRUE(queue_.waitFor([&] { return connected; }));
    EXPECT_EQ(provider_.connectorHelper()->currentConnection().at("password"), "s3cret");

    provider_.connect(serviceConfig("vpn.example", "192.0.2.1"), {}, {});
    EXPECT_EQ(*helperString(peer.takeStart(), "host_ip"), "192.0.2.1");

    // A stop goes to the tunnel's channel; its completion is never run.
    peer.event(1, "connecting");
    ASSERT_TRUE(queue_.waitFor([&] { return provider_.connectorHelper()->isActive(); }));
    provider_.disconnect([] { FAIL(); });
    auto stop = peer.takeRequest(1);
    ASSERT_TRUE(stop);
    EXPECT_EQ(*helperString(stop->message, "rpc"), "stop_connection");
    provider_.forceDisconnect();
    auto forced = peer.takeRequest(1);
    ASSERT_TRUE(forced);
    EXPECT_EQ(*helperString(forced->message, "rpc"), "stop_connection_forced");
    connection->cancel();
}

TEST_F(IKEv2ProviderTest, ConnectWithoutASignedInUserReportsDisconnected) {
    subscribe();
    context_.login.reset();
    provider_.connect(serviceConfig("vpn.example", std::nullopt), [] { FAIL(); }, {});
    EXPECT_EQ(tool_.asked, 0);
    EXPECT_EQ(reports_, std::vector<std::string>{"0"});
    EXPECT_EQ(context_.reconnectRequests, 0);
}

}  // namespace
}  // namespace hw
