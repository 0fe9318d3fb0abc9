#include <gtest/gtest.h>

#include "connection/l2tp_vpn_connection_provider.h"
#include "connection/pptp_vpn_connection_provider.h"
#include "connection/vpn_service_config.h"
#include "status_recorder.h"
#include "support/fake_system_vpn_service.h"

namespace hw {
namespace {

using test::FakeSystemVPNServiceStore;
using Report = test::StatusRecorder::Report;

TEST(VPNConnectionProvider, AbstractDefaultsDoNothing) {
    AbstractVPNConnectionProvider p;
    EXPECT_EQ(p.type(), std::nullopt);
    bool called = false;
    auto status = [&](std::int32_t, const std::optional<std::string>&, VPNTypes) { called = true; };
    EXPECT_EQ(p.getExistingVPNConnectionProtocolType("Havenway"), 0);
    EXPECT_EQ(p.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", status, false), 0);
    p.connect(VPNServiceConfig{}, [&] { called = true; }, status);
    p.prepare(nullptr, [&] { called = true; }, status);
    p.startDial([&] { called = true; });
    p.disconnect([&] { called = true; });
    p.stopConnectionStatusUpdates();
    p.deleteExistingVPNService("Havenway");
    EXPECT_FALSE(called);
}

TEST(VPNConnectionProvider, TypesAndIdentity) {
    auto store = std::make_shared<FakeSystemVPNServiceStore>();
    L2TP_VPNConnectionProvider l2tp(store);
    PPTP_VPNConnectionProvider pptp(store);
    EXPECT_EQ(l2tp.type(), VPNTypesL2TP);
    EXPECT_EQ(pptp.type(), VPNTypesPPTP);
    EXPECT_NE(l2tp.connectorHelper(), nullptr);
    EXPECT_EQ(l2tp.connectorHelper()->getConnectorType(), 2);
    EXPECT_EQ(pptp.connectorHelper()->getConnectorType(), 3);
    EXPECT_TRUE(l2tp == l2tp);
    L2TP_VPNConnectionProvider other(store);
    EXPECT_FALSE(l2tp == other);
}

TEST(VPNConnectionProvider, ForwardsToTheConnectorAndKeepsAbsentMessagesAbsent) {
    auto store = std::make_shared<FakeSystemVPNServiceStore>();
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::PPTP);
    auto conn = store->connection(s.id);
    PPTP_VPNConnectionProvider provider(store);
    EXPECT_EQ(provider.getExistingVPNConnectionProtocolType("Havenway"), 3);
    EXPECT_EQ(provider.getExistingVPNConnectionProtocolType("Nothing"), -1);

    test::StatusRecorder rec;
    conn->currentStatus = 0;
    EXPECT_EQ(provider.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", rec.callback(), false), 0);
    bool dialled = false;
    provider.startDial([&] { dialled = true; });
    EXPECT_TRUE(dialled);
    conn->emit(1);
    conn->extended.lastCause = 16;
    conn->emit(0);
    auto reports = rec.waitFor(3);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], (Report{0, std::nullopt, VPNTypesPPTP, {}}));
    EXPECT_EQ(reports[1], (Report{1, std::nullopt, VPNTypesPPTP, {}}));
    EXPECT_EQ(reports[2], (Report{0, std::string("16"), VPNTypesPPTP, {}}));

    provider.disconnect([] { FAIL() << "the completion of disconnect is never run"; });
    EXPECT_EQ(conn->stops.size(), 1u);
    provider.stopConnectionStatusUpdates();
    EXPECT_FALSE(conn->hasCallback());
    provider.deleteExistingVPNService("Havenway");
    EXPECT_EQ(provider.getExistingVPNConnectionProtocolType("Havenway"), -1);
}

TEST(VPNConnectionProvider, ConnectGoesByTheConfigName) {
    auto store = std::make_shared<FakeSystemVPNServiceStore>();
    auto& s = store->addService("Havenway", SystemVPNInterfaceType::L2TP);
    L2TP_VPNConnectionProvider provider(store);
    VPNServiceConfig config;
    config.name = "Havenway";
    bool connected = false;
    provider.connect(config, [&] { connected = true; }, {});
    EXPECT_TRUE(connected);
    EXPECT_EQ(store->connection(s.id)->starts, 1);
}

}  // namespace
}  // namespace hw
