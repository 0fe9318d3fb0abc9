#include "connection/vpn_connection_manager_fixture.h"

namespace hw::test {
namespace {

class LinkLoss : public ManagerFixture {};

// The internet lost without the lock: a second later the session of that
// moment goes, unless the connection's life has moved on meanwhile (its
// reconnect's new try replaces the session itself). A try removed so is said
// to have ended, with its own ticket: its reports are stopped with it, and a
// first try (no reconnect announced yet) would otherwise stay "connecting".
TEST_F(LinkLoss, TheCleanUpDecidesByTheTryInForceAtTheLoss) {
    const ConnectionTicket first{1, 1}, next{1, 2};
    struct Row {
        const char* name;
        std::optional<ConnectionTicket> atLoss, atTimer;
        bool removed;
        std::vector<std::string> requests;
    };
    for (const Row& row : {
             Row{"a first try that runs on", first, first, true, {"the try ended"}},
             Row{"the reconnect's new try runs", first, next, false, {}},
             Row{"the life ended the session and waits", first, std::nullopt, false, {}},
             Row{"no try at either time", std::nullopt, std::nullopt, true, {}},
             Row{"a try started since", std::nullopt, next, false, {}},
         }) {
        SCOPED_TRACE(row.name);
        context.protocol = VPNTypesOpenVPN;
        make();
        context.tryInForce = row.atLoss;
        connectThrough();
        openvpn->calls.clear();
        context.reconnectReasons.clear();
        manager->onInternetConnectionLost();
        queue.advance(999);
        EXPECT_EQ(openvpn->count("disconnect"), 0);
        context.tryInForce = row.atTimer;
        queue.advance(1);
        EXPECT_EQ(openvpn->count("disconnect"), row.removed ? 1 : 0);
        EXPECT_EQ(openvpn->count("stopUpdates"), row.removed ? 1 : 0) << "a try that runs keeps its reports";
        EXPECT_EQ(context.reconnectReasons, row.requests);
        // A second loss of the same moment finds its try ended: nothing more.
        context.tryInForce.reset();
        context.reconnectReasons.clear();
        manager->onInternetConnectionLost();
        queue.advance(1000);
        EXPECT_TRUE(context.reconnectReasons.empty());
    }
}

}  // namespace
}  // namespace hw::test
