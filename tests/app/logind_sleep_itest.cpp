// Sleep, wake and shutdown from a logind stand-in on a private bus, through the
// real watch to the delegate.
#include <QDBusConnection>
#include <QDBusMessage>

#include "app_delegate_fixture.h"
#include "platform/qt/logind_sleep_watch.h"
#include "support/private_dbus.h"
#include "support/qt_test_app.h"

namespace hw::test {
namespace {

class LogindStandIn {
public:
    explicit LogindStandIn(const QString& address)
        : bus_(QDBusConnection::connectToBus(address, QStringLiteral("logind-stand-in"))) {}
    ~LogindStandIn() { QDBusConnection::disconnectFromBus(QStringLiteral("logind-stand-in")); }
    bool claim() { return bus_.isConnected() && bus_.registerService(QStringLiteral("org.freedesktop.login1")); }
    void emitSignal(const char* name, bool start) {
        auto message = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                  QStringLiteral("org.freedesktop.login1.Manager"), QString(name));
        message << start;
        bus_.send(message);
    }

private:
    QDBusConnection bus_;
};

class LogindSleep : public AppDelegateTest, private QtAppFirst {};

TEST_F(LogindSleep, TheSessionsPowerEventsReachTheEngine) {
    PrivateDBus dbus;
    std::string reason;
    if (!dbus.start(&reason)) GTEST_SKIP() << reason;
    const QString address = QString::fromStdString(dbus.address());
    LogindStandIn logind(address);
    ASSERT_TRUE(logind.claim());
    LogindSleepWatch watch(QDBusConnection::connectToBus(address, QStringLiteral("havenway-watch")));
    sleepWatch = &watch;
    launch();
    EXPECT_FALSE(log->contains("no system bus"));

    logind.emitSignal("PrepareForSleep", true);
    ASSERT_TRUE(spinUntil([&] { return journaled("onDeviceWillSleep"); }, 5000));
    logind.emitSignal("PrepareForSleep", false);
    ASSERT_TRUE(spinUntil([&] { return journaled("onDeviceDidWake"); }, 5000));
    logind.emitSignal("PrepareForShutdown", true);
    ASSERT_TRUE(spinUntil([&] { return journaled("prepareForTermination"); }, 5000));
    services.terminationDone();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_TRUE(alerts.pending.empty());
    delegate.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("havenway-watch"));
}

TEST_F(LogindSleep, WithoutABusNothingIsWatched) {
    LogindSleepWatch watch(QDBusConnection(QStringLiteral("never-connected")));
    sleepWatch = &watch;
    launch();
    EXPECT_TRUE(log->contains("no system bus"));
}

}  // namespace
}  // namespace hw::test
