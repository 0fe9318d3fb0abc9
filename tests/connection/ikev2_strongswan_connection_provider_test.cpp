#include "connection/ikev2_strongswan_connection_provider.h"

#include <gtest/gtest.h>

#include "connection/openvpn_constants.h"
#include "connection/vpn_service_config.h"
#include "ikev2_strongswan_fixture.h"

namespace hw {
namespace {

VPNServiceConfig serviceConfig(std::optional<std::string> host, std::optional<std::string> ip) {
    VPNServiceConfig c;
    c.type = VPNTypesIKEv2_StrongSwan;
    c.setEndpoint(std::move(host));
    c.endpointIPAddress = std::move(ip);
    return c;
}

struct Report {
    std::int32_t status;
    bool reconnectingWhenReported;
    std::optional<std::string> message;
};

class IKEv2ProviderTest : public testing::Test {
protected:
    IKEv2ProviderTest() : provider_(queue_.inner, tool_.connector, context_) {}
    void subscribe() {
        EXPECT_EQ(provider_.retrieveConnectionAndSubscribeToStatusUpdates("ignored", [this](std::int32_t s, const std::optional<std::string>& m, VPNTypes t) {
            EXPECT_EQ(t, VPNTypesIKEv2_StrongSwan);
            reports_.push_back({s, context_.reconnecting, m});
        }, false), 1);
    }
    std::vector<std::int32_t> statuses() const {
        std::vector<std::int32_t> s;
        for (const auto& r : reports_) s.push_back(r.status);
        return s;
    }

    test::WakingQueue queue_;
    test::TestHelperTool tool_{queue_};
    test::FakeIKEv2Context context_;
    IKEv2_StrongSwan_ConnectionProvider provider_;
    std::vector<Report> reports_;
};

TEST_F(IKEv2ProviderTest, IsTypeFiveAndMapsConnectorStates) {
    EXPECT_EQ(provider_.type(), VPNTypesIKEv2_StrongSwan);
    EXPECT_EQ(provider_.getExistingVPNConnectionProtocolType("Havenway_IKEv2"), 0);
    subscribe();
    EXPECT_TRUE(reports_.empty());  // nothing reported at subscription
    context_.intentional = true;    // keep the reconnect out of this test
    provider_.change(1, {});
    provider_.change(2, {});
    provider_.change(7, {});        // unknown: no report
    provider_.change(0, {});
    provider_.onNotReachable();
    EXPECT_EQ(statuses(), (std::vector<std::int32_t>{1, 2, 0, 9}));
    for (const auto& r : reports_) EXPECT_FALSE(r.message.has_value());
    provider_.onError(2);
    EXPECT_EQ(reports_.back().status, 0);
    EXPECT_EQ(reports_.back().message, OpenVPNConstants::errorText(2));
}

TEST_F(IKEv2ProviderTest, UnintendedDropRequestsOneReconnect) {
    subscribe();
    provider_.change(0, {});
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_TRUE(reports_[0].reconnectingWhenReported);  // set before the status goes out
    EXPECT_FALSE(context_.reconnecting);                // and cleared as the request goes out
    EXPECT_EQ(context_.reconnectRequests, 1);
}

TEST_F(IKEv2ProviderTest, NoReconnectAfterAUserStopWhenSignedOutOrUnsubscribed) {
    subscribe();
    context_.intentional = true;
    provider_.change(0, {});
    EXPECT_FALSE(reports_.back().reconnectingWhenReported);
    context_.intentional = false;
    context_.loggedIn = false;
    provider_.change(0, {});
    EXPECT_EQ(statuses(), (std::vector<std::int32_t>{0, 0}));
    EXPECT_EQ(context_.reconnectRequests, 0);

    // The status handling may sign the user out while the drop is reported.
    context_.loggedIn = true;
    provider_.setNewStatusReceivedCallback([this](std::int32_t, const std::optional<std::string>&, VPNTypes) { context_.loggedIn = false; });
    provider_.change(0, {});
    EXPECT_EQ(context_.reconnectRequests, 0);

    IKEv2_StrongSwan_ConnectionProvider bare(queue_.inner, tool_.connector, context_);
    context_.loggedIn = true;
    context_.reconnecting = false;
    bare.change(0, {});
    EXPECT_EQ(context_.reconnectRequests, 0);
    EXPECT_FALSE(context_.reconnecting);
}

TEST_F(IKEv2ProviderTest, ReconnectUnderAnEngagedKillSwitchEngagesItAgainAfterwards) {
    subscribe();
    context_.lock = context_.lockActivated = context_.reconnecting = true;
    provider_.change(2, {});
    EXPECT_EQ(statuses(), std::vector<std::int32_t>{2});
    EXPECT_EQ(context_.lockEngaged, 0);  // queued, not run inside the status handling
    queue_.inner.runUntilIdle();
    EXPECT_EQ(context_.lockEngaged, 1);

    context_.reconnecting = false;
    provider_.change(2, {});
    queue_.inner.runUntilIdle();
    EXPECT_EQ(context_.lockEngaged, 1);
}

TEST_F(IKEv2ProviderTest, AlertReportsADropThenKeepsTheKillSwitchEngaged) {
    subscribe();
    context_.lock = context_.lockActivated = true;
    provider_.raise("Server did not respond", {});
    EXPECT_EQ(statuses(), std::vector<std::int32_t>{0});
    EXPECT_EQ(context_.reconnectRequests, 1);
    queue_.inner.runUntilIdle();
    EXPECT_EQ(context_.lockEngaged, 1);
    context_.lockActivated = false;
    provider_.raise("Server did not respond", {});
    queue_.inner.runUntilIdle();
    EXPECT_EQ(context_.lockEngaged, 1);
}

TEST_F(IKEv2ProviderTest, ConnectNeedsAServerNameAndSendsTheIpOnlyWhenGiven) {
    provider_.connect(serviceConfig(std::nullopt, "192.0.2.1"), [] { FAIL(); }, {});
    EXPECT_EQ(tool_.asked, 0);

    auto connection = std::make_shared<HelperConnection>(queue_);
    test::FakeIkePeer peer(*connection);
    tool_.connection = connection;
    bool connected = false;
    provider_.connect(serviceConfig("vpn.example", ""), [&] { connected = true; }, {});
    auto m = peer.takeStart();
    EXPECT_EQ(*helperString(m, "host"), "vpn.example");
    EXPECT_EQ(*helperString(m, "id"), "alice");
    EXPECT_FALSE(m.count("host_ip"));
    ASSERT_TRUE(queue_.waitFor([&] { return connected; }));
    EXPECT_EQ(provider_.connectorHelper()->currentConnection().at("password"), "s3cret");

    provider_.connect(serviceConfig("vpn.example", "192.0.2.1"), {}, {});
    EXPECT_EQ(*helperString(peer.takeStart(), "host_ip"), "192.0.2.1");

    // Disconnect asks the service to stop on the tunnel's channel; the
    // completion is never run.
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
    EXPECT_EQ(statuses(), std::vector<std::int32_t>{0});
    EXPECT_EQ(context_.reconnectRequests, 0);
}

}  // namespace
}  // namespace hw
