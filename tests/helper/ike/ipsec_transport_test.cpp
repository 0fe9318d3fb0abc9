#include <gtest/gtest.h>

#include "fake_charon.h"
#include "helper/ike/ipsec_transport_vici.h"
#include "helper/ppp/ppp_links.h"
#include "support/capture_log.h"

namespace hw::ike {
namespace {

using namespace std::chrono_literals;
using test::FakeCharon;

const std::string kService = "0123456789abcdef0123456789abcdef";
const std::string kName = "havenway-l2tp-" + kService;
const std::string kPsk = "pre-shared \"key\" 7";

helper::ppp::IpsecTransport::Request request(std::string remote = "192.0.2.10") {
    return {kService, std::move(remote), kPsk};
}

ViciIpsecTransport::Connector connector(FakeCharon& charon) {
    return [&charon](ViciClient::EventHandler handler, std::string*) { return charon.client(std::move(handler)); };
}

const std::vector<std::string> kCleanUp = {"terminate", "unload-conn", "unload-shared"};

std::vector<std::string> concat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(L2tpIpsecTransport, BringsUpAPskTransportModeSaForL2tpAndTakesItDown) {
    auto log = hw::test::CaptureLog::install();
    FakeCharon charon;
    ViciIpsecTransport transport(connector(charon));
    std::string error;
    ASSERT_TRUE(transport.up(request(), &error)) << error;
    EXPECT_EQ(charon.names(), concat({{"control-log"}, kCleanUp, {"load-shared", "load-conn", "initiate"}}));
    EXPECT_EQ(*charon.body("load-shared").value("data"), kPsk);
    const auto loaded = charon.body("load-conn");
    const auto* conn = loaded.section(kName);
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(*conn->list("remote_addrs"), std::vector<std::string>{"192.0.2.10"});
    // Only L2TP's own datagrams, never a tunnel for everything.
    const auto* child = conn->section("children")->section(kName);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(*child->value("mode"), "transport");
    EXPECT_EQ(*child->list("local_ts"), std::vector<std::string>{"dynamic[udp/1701]"});
    EXPECT_EQ(*child->list("remote_ts"), std::vector<std::string>{"dynamic[udp/1701]"});
    EXPECT_EQ(*charon.body("initiate").value("timeout"), "30000");  // charon's bound on the CHILD_SA

    transport.down(kService);
    EXPECT_EQ(charon.names(), concat({{"control-log"}, kCleanUp, {"load-shared", "load-conn", "initiate"}, kCleanUp}));
    EXPECT_FALSE(log->contains(kPsk));
}

TEST(L2tpIpsecTransport, AFailureNamesItsFirstCauseAndLeavesNothingLoaded) {
    auto log = hw::test::CaptureLog::install();
    struct Row {
        const char* failing;
        std::vector<std::string> answer;
        const char* error;
    };
    const Row rows[] = {
        {"initiate",
         {FakeCharon::event("control-log", "sending retransmit 5 of request message ID 0, seq 1"),
          FakeCharon::event("control-log", "giving up after 5 retransmits"),
          FakeCharon::event("control-log", "establishing IKE_SA failed, peer not responding"),
          FakeCharon::reply(ViciPacketType::CmdRequest, false, "establishing CHILD_SA failed")},
         "the L2TP server did not answer the IPsec negotiation"},
        {"load-conn",
         {FakeCharon::reply(ViciPacketType::CmdRequest, false, "parsing proposal failed")},
         "loading the IPsec connection failed: parsing proposal failed"}};
    for (const Row& row : rows) {
        FakeCharon charon([&](const ViciPacket& r, std::vector<std::string>& out) {
            if (r.name == row.failing) out = row.answer;
        });
        ViciIpsecTransport transport(connector(charon));
        std::string error;
        EXPECT_FALSE(transport.up(request(), &error));
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(charon.names().back(), "unload-shared") << row.failing;  // the key does not stay behind
        // Nothing came up: a later hang-up has nothing to end and starts no daemon.
        const int before = charon.connections;
        transport.down(kService);
        EXPECT_EQ(charon.connections, before) << row.failing;
    }
    EXPECT_FALSE(log->contains(kPsk));

    ViciIpsecTransport unavailable([](ViciClient::EventHandler, std::string* why) -> std::shared_ptr<ViciClient> {
        *why = "UDP port 500 is already in use";
        return nullptr;
    });
    std::string error;
    EXPECT_FALSE(unavailable.up(request(), &error));
    EXPECT_EQ(error, "the IKE daemon is not available: UDP port 500 is already in use");
}

TEST(L2tpIpsecTransport, RefusesBadRequestsBeforeReachingCharon) {
    FakeCharon charon;
    ViciIpsecTransport transport(connector(charon));
    std::string error;
    EXPECT_FALSE(transport.up({"../etc", "192.0.2.10", kPsk}, &error));
    EXPECT_FALSE(transport.up(request("10.0.0.1 --proposals x"), &error));
    EXPECT_EQ(error, "invalid L2TP server address");
    EXPECT_FALSE(transport.up({kService, "192.0.2.10", ""}, &error));
    EXPECT_FALSE(transport.up({kService, "192.0.2.10", "a\nb"}, &error));
    EXPECT_EQ(charon.connections, 0);
}

TEST(L2tpIpsecErrors, TheFirstKnownCauseWinsElseCharonsOwnError) {
    // Wrong key, timeout and the kernel's refusal meet a real charon in the integration test.
    EXPECT_EQ(l2tpIpsecError({"initiating Main Mode", "received NO_PROPOSAL_CHOSEN error notify",
                              "giving up after 5 retransmits"}, "x"),
              "the L2TP server accepts none of our IPsec proposals");
    EXPECT_EQ(l2tpIpsecError({"initiating Main Mode IKE_SA"}, "establishing CHILD_SA failed"),
              "the IPsec negotiation with the L2TP server failed: establishing CHILD_SA failed");
}

TEST(L2tpServerRoute, OnlyAServerBehindAGatewayGetsAHostRoute) {
    auto path = helper::ppp::serverPathFrom(
        "203.0.113.5 via 10.0.2.2 dev eth0 src 10.0.2.15 uid 0 \\    cache \n");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->gateway, "10.0.2.2");
    EXPECT_EQ(path->device, "eth0");
    EXPECT_FALSE(helper::ppp::serverPathFrom("10.0.2.7 dev eth0 src 10.0.2.15 uid 0 \\    cache"));
    EXPECT_FALSE(helper::ppp::serverPathFrom("RTNETLINK answers: Network is unreachable"));
}

}  // namespace
}  // namespace hw::ike
