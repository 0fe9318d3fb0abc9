#include "platform/qt/dbus_user_notification_center.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "support/capture_log.h"
#include "support/fake_notification_daemon.h"
#include "support/private_dbus.h"
#include "support/qt_test_app.h"

namespace hw::test {
namespace {

using Activation = UserNotificationCenter::Activation;

class DBusNotificationsTest : public ::testing::Test, public QtAppFirst {
protected:
    void SetUp() override {
        std::string why;
        if (!bus.start(&why)) GTEST_SKIP() << why;
        address = QString::fromStdString(bus.address());
        client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "notify-client"));
        ASSERT_TRUE(client->isConnected());
    }
    void TearDown() override {
        center.reset();
        client.reset();
        QDBusConnection::disconnectFromBus("notify-client");
    }
    void startDaemon() { ASSERT_TRUE(daemon.serve(address)); }
    void makeCenter() {
        center = std::make_unique<DBusUserNotificationCenter>(*client);
        center->setActivationHandler([this](const UserNotificationCenter::Notification& n, Activation a) {
            clicks.emplace_back(n.identifier, a);
        });
    }
    static UserNotificationCenter::Notification banner(std::uint64_t id, std::string button = "") {
        return {"Connected to Netherlands", "Your Havenway connection was successfully established", std::move(button),
                "OK", id};
    }

    PrivateDBus bus;
    QString address;
    std::unique_ptr<QDBusConnection> client;
    FakeNotificationDaemon daemon;
    std::unique_ptr<DBusUserNotificationCenter> center;
    std::vector<std::pair<std::uint64_t, Activation>> clicks;
};

TEST_F(DBusNotificationsTest, NotifyCarriesTheApplicationsIdentityAndButtons) {
    startDaemon();
    makeCenter();
    center->deliver(banner(1));
    center->deliver(banner(2, "Retry"));
    ASSERT_TRUE(spinUntil([&] { return daemon.notified.size() == 2; }, 5000));
    const auto& plain = daemon.notified[0];
    EXPECT_EQ(plain.appName, "Havenway");
    EXPECT_EQ(plain.replacesId, 0u) << "every banner gets its own id";
    EXPECT_EQ(plain.hints.value("desktop-entry").toString(), "havenway");
    EXPECT_EQ(plain.actions, (QStringList{"default", ""}));
    EXPECT_EQ(daemon.notified[1].actions, (QStringList{"default", "", "action", "Retry"}));
}

// The banner names the application's themed icon; the pixels of its window
// icon ride along only where the application has one (a widget test's case).
TEST_F(DBusNotificationsTest, BannersNameTheApplicationsIcon) {
    startDaemon();
    makeCenter();
    center->deliver(banner(1));
    ASSERT_TRUE(spinUntil([&] { return daemon.notified.size() == 1; }, 5000));
    EXPECT_EQ(daemon.notified[0].appIcon, "havenway");
    EXPECT_FALSE(daemon.notified[0].hints.contains("image-data")) << "no window icon in this process";
}

TEST_F(DBusNotificationsTest, ADeliveryIsLoggedOnceTheDaemonTookIt) {
    auto log = CaptureLog::install();
    makeCenter();
    center->deliver(banner(1));
    spinFor(300);
    EXPECT_FALSE(log->contains("didDeliverNotification")) << "no daemon: nothing was delivered";
    startDaemon();
    center->deliver(banner(2));
    EXPECT_TRUE(spinUntil([&] { return log->contains("NSUserNotification didDeliverNotification -- Connected to Netherlands"); },
                          5000));
    log::setSink(nullptr);
}

TEST_F(DBusNotificationsTest, RemovalClosesOnlyThatBannerEvenBeforeItsIdIsKnown) {
    startDaemon();
    makeCenter();
    center->deliver(banner(1));
    center->removeDeliveredNotification(1);  // the daemon has not answered yet
    center->deliver(banner(2));
    ASSERT_TRUE(spinUntil([&] { return daemon.closed.size() == 1; }, 5000));
    ASSERT_TRUE(spinUntil([&] { return daemon.notified.size() == 2; }, 5000));
    EXPECT_EQ(daemon.closed, std::vector<uint>{daemon.notified[0].id});
    EXPECT_EQ(daemon.shown.size(), 1u);
    center->removeAllDeliveredNotifications();
    ASSERT_TRUE(spinUntil([&] { return daemon.shown.empty(); }, 5000));
    center->removeDeliveredNotification(2);  // gone already: nothing more
    center->removeDeliveredNotification(99);
    spinFor(200);
    EXPECT_EQ(daemon.closed.size(), 2u);
}

TEST_F(DBusNotificationsTest, ActionsRouteToTheirBannerAndDismissedOnesAreForgotten) {
    startDaemon();
    makeCenter();
    center->deliver(banner(7, "Connect"));
    center->deliver(banner(8));
    ASSERT_TRUE(spinUntil([&] { return daemon.notified.size() == 2; }, 5000));
    spinFor(100);  // the ids come back
    daemon.invoke(daemon.notified[0].id, "action");
    daemon.invoke(daemon.notified[1].id, "default");
    daemon.invoke(4242, "default");  // another application's banner
    ASSERT_TRUE(spinUntil([&] { return clicks.size() == 2; }, 5000));
    EXPECT_EQ(clicks[0], std::make_pair(std::uint64_t{7}, Activation::actionButtonClicked));
    EXPECT_EQ(clicks[1], std::make_pair(std::uint64_t{8}, Activation::contentsClicked));

    daemon.dismiss(daemon.notified[1].id);
    spinFor(100);
    center->removeAllDeliveredNotifications();
    ASSERT_TRUE(spinUntil([&] { return !daemon.closed.empty(); }, 5000));
    spinFor(100);
    EXPECT_EQ(daemon.closed, std::vector<uint>{daemon.notified[0].id}) << "a dismissed banner is not closed again";
}

TEST_F(DBusNotificationsTest, NoDaemonNeverBlocks) {
    makeCenter();
    QElapsedTimer t;
    t.start();
    for (std::uint64_t i = 1; i <= 20; ++i) center->deliver(banner(i, "Retry"));
    center->removeAllDeliveredNotifications();
    EXPECT_LT(t.elapsed(), 1000);
    spinFor(300);
    center.reset();  // waits only for closes, within their bound
    EXPECT_LT(t.elapsed(), 5000);
}

}  // namespace
}  // namespace hw::test
