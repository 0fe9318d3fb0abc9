#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/user_notification_helper.h"
#include "hub/service_layer.h"
#include "support/fake_hub_factory.h"
#include "support/fake_user_notification_center.h"

namespace hw::test {
namespace {

class UserNotificationHelperTest : public ::testing::Test {
protected:
    ApplicationModel& model() { return hub->appModel(); }
    ManualQueue& queue() { return factory->queue; }

    std::shared_ptr<FakeHubFactory> factory = std::make_shared<FakeHubFactory>();
    std::unique_ptr<ServiceLayer> hub = std::make_unique<ServiceLayer>(factory);
    FakeUserNotificationCenter center;
    UserNotificationHelper helper{center, factory->queue, factory->queue, hub->appModel()};
};

TEST_F(UserNotificationHelperTest, InsecureWiFiBannersAreThrottledOnTheSteadyClock) {
    struct Row {
        const char* name;
        double gapMs;
        double wallJumpSeconds;
        std::size_t expected;
    } rows[] = {
        {"9.9 s apart", 9900, 0, 1},
        {"10.0 s apart", 10000, 0, 2},
        {"clock set back an hour", 10000, -3600, 2},
        {"clock set forward an hour", 1000, 3600, 1},
    };
    for (const auto& row : rows) {
        for (auto show : {&UserNotificationHelper::showInsecureWiFiNotificationThrottled,
                          &UserNotificationHelper::showInsecureWiFiNotLoggedInNotification}) {
            FakeUserNotificationCenter c;
            UserNotificationHelper h{c, queue(), queue(), model()};
            (h.*show)();
            queue().advance(row.gapMs);
            queue().setWallBase(queue().wallSeconds() + row.wallJumpSeconds);
            (h.*show)();
            EXPECT_EQ(c.history.size(), row.expected) << row.name;
        }
    }
}

TEST_F(UserNotificationHelperTest, BannersLeaveAfterTheirOwnDelaysAndOthersStay) {
    struct Row {
        const char* name;
        std::function<void()> show;
        double leavesAfterMs;  // 0: stays
        std::string button;
    } rows[] = {
        {"connected", [&] { helper.showConnectedNotification("Netherlands"); }, 4000, ""},
        {"disconnected", [&] { helper.showDisconnectedNotification("Netherlands"); }, 4000, ""},
        {"insecure", [&] { helper.showInsecureWiFiNotification(); }, 10000, "Connect"},
        {"not signed in", [&] { helper.showInsecureWiFiNotLoggedInNotification(); }, 10000, "Protect me"},
        {"error", [&] { helper.showConnectionErrorNotification(); }, 0, "Retry"},
        {"reconnect", [&] { helper.showAutoReconnectWithoutNetworkLockNotification(); }, 0, ""},
        {"kill switch", [&] { helper.showAutoReconnectWithNetworkLockNotification(); }, 0, ""},
    };
    for (const auto& row : rows) {
        helper.forgetAutoReconnectNotification();
        row.show();
        ASSERT_EQ(center.delivered.size(), 1u) << row.name;
        EXPECT_EQ(center.delivered[0].actionButtonTitle, row.button) << row.name;
        EXPECT_EQ(center.delivered[0].otherButtonTitle, "OK") << row.name;
        if (row.leavesAfterMs > 0) {
            queue().advance(row.leavesAfterMs - 1);
            EXPECT_EQ(center.delivered.size(), 1u) << row.name;
            queue().advance(1);
            EXPECT_TRUE(center.delivered.empty()) << row.name;
        } else {
            queue().advance(60000);
            EXPECT_EQ(center.delivered.size(), 1u) << row.name;
        }
        queue().advance(20000);
    }
}

TEST_F(UserNotificationHelperTest, ATimedRemovalClosesOnlyItsOwnBanner) {
    helper.showConnectedNotification("Netherlands");
    queue().advance(2000);
    helper.showDisconnectedNotification("Netherlands");
    queue().advance(2000);
    EXPECT_EQ(center.titles(), std::vector<std::string>{"Disconnected from Netherlands"});
    queue().advance(2000);
    EXPECT_TRUE(center.delivered.empty());
}

TEST_F(UserNotificationHelperTest, AutoReconnectSuppressesOneDisconnectBanner) {
    helper.showDisconnectedNotification("Germany");
    helper.showAutoReconnectWithoutNetworkLockNotification();
    EXPECT_EQ(center.removed.size(), 1u) << "the disconnect banner is taken down";
    helper.showDisconnectedNotification("Germany");
    EXPECT_EQ(center.titles(), std::vector<std::string>{"Havenway is Reconnecting"});
    helper.showDisconnectedNotification("Germany");
    EXPECT_EQ(center.titles(), std::vector<std::string>{"Disconnected from Germany"});

    // A successful reconnect forgets the auto-reconnect banner.
    helper.showAutoReconnectWithNetworkLockNotification();
    helper.showConnectedNotification("Germany");
    helper.showDisconnectedNotification("Germany");
    EXPECT_EQ(center.titles(), std::vector<std::string>{"Disconnected from Germany"});
}

TEST_F(UserNotificationHelperTest, AnErrorTakesDownTheReconnectingBannerItEnds) {
    for (const bool lock : {false, true}) {
        SCOPED_TRACE(lock ? "with the lock" : "without the lock");
        center.removed.clear();
        lock ? helper.showAutoReconnectWithNetworkLockNotification() : helper.showAutoReconnectWithoutNetworkLockNotification();
        const auto reconnecting = center.history.back().identifier;
        helper.showConnectionErrorNotification();
        EXPECT_EQ(center.removed, std::vector<std::uint64_t>{reconnecting});
        EXPECT_EQ(center.titles(), std::vector<std::string>{"Connection unavailable."});
        helper.showConnectionErrorNotification();
        EXPECT_EQ(center.removed.size(), 1u) << "nothing else is taken down";
        center.delivered.clear();
    }
}

TEST_F(UserNotificationHelperTest, AKillSwitchBannerTakesDownTheKillSwitchBannerBeforeIt) {
    helper.showDisconnectedNotification("Germany");
    const auto disconnected = center.history.back().identifier;
    helper.showAutoReconnectWithNetworkLockNotification();
    const auto first = center.history.back().identifier;
    EXPECT_EQ(center.removed, std::vector<std::uint64_t>{disconnected}) << "the disconnect banner goes first";

    helper.showAutoReconnectWithNetworkLockNotification();
    EXPECT_EQ(center.removed, (std::vector<std::uint64_t>{disconnected, first, disconnected}));

    // The plain reconnect banner leaves kill-switch banners to their own rule.
    helper.showAutoReconnectWithoutNetworkLockNotification();
    EXPECT_EQ(center.removed.size(), 4u);
}

TEST_F(UserNotificationHelperTest, ConnectionThatSecuresWiFiSaysSo) {
    struct Row {
        bool security, unsecuredActivated, pending;
        std::string title;
    } rows[] = {
        {true, false, true, "Your Wi-Fi connection is secured!"},
        {false, true, true, "Connected to Netherlands"},
    };
    for (const auto& row : rows) {
        model().wi_fi_SecurityEnabled = row.security;
        model().unsecured_Wi_Fi_VPN_activated = row.unsecuredActivated;
        model().pendingVPN_Activated_on_UnsecuredWiFi = row.pending;
        helper.showConnectedNotification("Netherlands");
        EXPECT_EQ(center.titles(), std::vector<std::string>{row.title});
        EXPECT_EQ(model().pendingVPN_Activated_on_UnsecuredWiFi, !row.security) << "the secured banner takes the flag";
    }
    EXPECT_EQ(center.history[0].informativeText, "Havenway is automatically keeping you safe online.");
}

}  // namespace
}  // namespace hw::test
