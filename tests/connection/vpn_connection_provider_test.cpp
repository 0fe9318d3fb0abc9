#include <gtest/gtest.h>

#include "connection/l2tp_vpn_connection_provider.h"
#include "connection/pptp_vpn_connection_provider.h"
#include "connection/vpn_service_config.h"
#include "support/fake_system_vpn_service.h"

namespace hw {
namespace {

using test::FakeSystemVPNServiceStore;

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
