#include "connection/system_vpn_service_helper.h"

#include <gtest/gtest.h>

#include "connection/pptp_vpn_connection_provider.h"
#include "platform/helper_socket.h"
#include "status_recorder.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

constexpr char kID[] = "0123456789abcdef0123456789abcdef";

// Answers as the helper's PPP commands do, for one service "Havenway".
struct FakeHelper {
    std::mutex mutex;
    bool exists = true;
    std::int64_t status = 0, pppStatus = 0;
    std::optional<std::int64_t> lastCause;
    bool startFails = false;
    bool pushes = false;  // a helper with "watchVPNService"
    HelperChannel watcher;
    std::vector<std::string> calls;

    HelperCall call() {
        return [this](const std::string& rpc, HelperDictionary p) -> std::optional<HelperMessage> {
            std::lock_guard lock(mutex);
            calls.push_back(rpc);
            auto yes = HelperMessage{{"reply", "YES"}};
            auto no = HelperMessage{{"reply", "NO"}};
            if (rpc == "getVPNService") {
                if (!exists || *helperString(p, "connectionName") != "Havenway") return no;
                yes["serviceID"] = kID;
                yes["hasIPSec"] = false;
                return yes;
            }
            if (rpc == "getVPNServiceStatus") {
                yes["status"] = status;
                yes["pppStatus"] = pppStatus;
                if (lastCause) yes["lastCause"] = *lastCause;
                return yes;
            }
            if (rpc == "startVPNService") {
                if (!startFails) return yes;
                no["error"] = "L2TP over IPsec needs ESP in the kernel";
                return no;
            }
            if (rpc == "stopVPNService") return helperBool(p, "force") == true ? yes : no;
            if (rpc == "watchVPNService") {
                if (!pushes) return no;
                watcher = helperChannel(p, "channel");
                return watcher ? yes : no;
            }
            if (rpc == "deleteExistingVPNService") {
                exists = false;
                return yes;
            }
            return std::nullopt;
        };
    }
    void set(std::int64_t s, std::int64_t ppp, std::optional<std::int64_t> cause = std::nullopt) {
        std::lock_guard lock(mutex);
        status = s;
        pppStatus = ppp;
        lastCause = cause;
    }
    // Pushes a change as the helper's link monitor does.
    bool push(std::int64_t s, std::int64_t ppp, std::optional<std::int64_t> cause = std::nullopt) {
        set(s, ppp, cause);
        std::lock_guard lock(mutex);
        std::string error;
        HelperMessage event{{"event", "status"}, {"status", s}, {"pppStatus", ppp}};
        if (cause) event["lastCause"] = *cause;
        return watcher && sendHelperMessage(watcher->get(), event, -1, 1000, &error);
    }
    std::size_t count(const std::string& rpc) {
        std::lock_guard lock(mutex);
        return std::count(calls.begin(), calls.end(), rpc);
    }
};

// Without "watchVPNService" the store asks for the status until the watch stops.
TEST(HelperSystemVPNServiceStore, AProviderFollowsTheHelpersLinkThroughAWholeSession) {
    FakeHelper helper;
    auto store = std::make_shared<HelperSystemVPNServiceStore>(helper.call(), std::chrono::milliseconds(1));
    PPTP_VPNConnectionProvider provider(store);
    EXPECT_EQ(provider.getExistingVPNConnectionProtocolType("Havenway"), 3);
    EXPECT_EQ(provider.getExistingVPNConnectionProtocolType("Other"), -1);

    test::StatusRecorder rec;
    EXPECT_EQ(provider.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", rec.callback(), true), 0);
    bool dialled = false;
    provider.startDial([&] { dialled = true; });
    EXPECT_TRUE(dialled);
    helper.set(1, 1);
    ASSERT_EQ(rec.waitFor(1).size(), 1u);
    helper.set(2, 8);
    ASSERT_EQ(rec.waitFor(2).size(), 2u);
    provider.disconnect({});
    helper.set(0, 0, 5);
    EXPECT_EQ(rec.waitFor(3), (std::vector<std::string>{"1/3", "2/3", "0:5/3"}));
    EXPECT_EQ(helper.count("stopVPNService"), 1u);

    provider.stopConnectionStatusUpdates();
    auto polls = helper.count("getVPNServiceStatus");
    helper.set(1, 1);
    // The poller is joined when the watch stops: no further question comes.
    EXPECT_EQ(helper.count("getVPNServiceStatus"), polls);
    EXPECT_EQ(rec.reports().size(), 3u);

    provider.deleteExistingVPNService("Havenway");
    EXPECT_EQ(provider.getExistingVPNConnectionProtocolType("Havenway"), -1);
}

TEST(HelperSystemVPNServiceStore, ChangesPushedByTheHelperArriveInOrderUntilTheWatchStops) {
    FakeHelper helper;
    helper.pushes = true;
    auto store = std::make_shared<HelperSystemVPNServiceStore>(helper.call(), std::chrono::hours(1));
    PPTP_VPNConnectionProvider provider(store);
    test::StatusRecorder rec;
    provider.retrieveConnectionAndSubscribeToStatusUpdates("Havenway", rec.callback(), true);
    ASSERT_TRUE(helper.push(1, 1));
    ASSERT_TRUE(helper.push(2, 8));
    ASSERT_TRUE(helper.push(3, 8, 19));
    ASSERT_TRUE(helper.push(0, 0, 16));
    // Each change with its own cause.
    EXPECT_EQ(rec.waitFor(4), (std::vector<std::string>{"1/3", "2/3", "3:19/3", "0:16/3"}));
    auto reads = helper.count("getVPNServiceStatus");
    ASSERT_TRUE(helper.push(1, 1));
    ASSERT_EQ(rec.waitFor(5).size(), 5u);
    EXPECT_EQ(helper.count("getVPNServiceStatus"), reads) << "pushed changes need no questions";

    provider.stopConnectionStatusUpdates();
    EXPECT_FALSE(helper.push(2, 8)) << "the channel is closed once the watch stops";
    EXPECT_EQ(rec.reports().size(), 5u);
}

TEST(HelperSystemVPNServiceStore, AFailedStartCarriesTheHelpersReason) {
    FakeHelper helper;
    HelperSystemVPNServiceStore store(helper.call());
    auto connection = store.connectionForService(kID);
    helper.startFails = true;
    SystemVPNError error;
    EXPECT_FALSE(connection->start(&error));
    EXPECT_EQ(error.text, "L2TP over IPsec needs ESP in the kernel");

    auto prefs = store.openPreferences();
    EXPECT_FALSE(prefs->createService(SystemVPNInterfaceType::L2TP)) << "only the helper creates services";
    auto unreachable = HelperSystemVPNServiceStore([](const std::string&, HelperDictionary) {
                           return std::optional<HelperMessage>();
                       }).connectionForService(kID);
    EXPECT_EQ(unreachable->status(), -1);
}

// The answering road over the real socket is the PPP integration test's.
TEST(HelperSocketCall, GivesUpWhenNobodyListens) {
    test::TempDir folder;
    EXPECT_FALSE(makeHelperSocketCall(folder.file("helper.sock"), std::chrono::seconds(5))("getVPNService", {}));
}

}  // namespace
}  // namespace hw
