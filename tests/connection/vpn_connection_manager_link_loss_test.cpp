#include "connection/vpn_connection_manager_fixture.h"

namespace hw::test {
namespace {

class LinkLoss : public ManagerFixture {};

// The internet lost under an OpenVPN tunnel without the lock: the loss has
// started the details pane's reconnect, whose new try the delayed clean-up
// must leave running; with no reconnect running the dead session goes.
TEST_F(LinkLoss, TheCleanUpLeavesTheReconnectsOwnTryAlone) {
    context.protocol = VPNTypesOpenVPN;
    make();
    connectThrough();
    openvpn->calls.clear();
    context.reconnecting = true;
    manager->onInternetConnectionLost();
    queue.advance(2000);
    EXPECT_EQ(openvpn->count("disconnect"), 0);
    EXPECT_EQ(openvpn->count("stopUpdates"), 0) << "the try's reports must still arrive";

    context.reconnecting = false;
    manager->onInternetConnectionLost();
    queue.advance(2000);
    EXPECT_EQ(openvpn->count("disconnect"), 1);
}

}  // namespace
}  // namespace hw::test
