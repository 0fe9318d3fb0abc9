#include "platform/qt/nm_wifi.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMap>
#include <atomic>
#include <chrono>
#include <thread>

#include "support/private_dbus.h"

namespace hw {
namespace {

using namespace std::chrono_literals;

const QString kRoot = "/org/freedesktop/NetworkManager";
const QString kWifiDev = kRoot + "/Devices/2";
const QString kDevice = "org.freedesktop.NetworkManager.Device";
const QString kWireless = "org.freedesktop.NetworkManager.Device.Wireless";
const QString kAp = "org.freedesktop.NetworkManager.AccessPoint";

// A NetworkManager of our own: a few objects with properties, served on a
// private bus from the test's main thread.
class FakeNetworkManager final : public QDBusVirtualObject {
public:
    QMap<QString, QMap<QString, QVariant>> props;  // "path|interface" -> name -> value
    QList<QDBusObjectPath> devices, accessPoints;
    int scans = 0;

    void set(const QString& path, const QString& iface, const QString& name, QVariant value) {
        props[path + "|" + iface][name] = std::move(value);
    }
    void addAccessPoint(const QString& path, const QByteArray& ssid, const QString& bssid, uint flags, uint wpa, uint rsn) {
        set(path, kAp, "Ssid", ssid);
        set(path, kAp, "HwAddress", bssid);
        set(path, kAp, "Flags", flags);
        set(path, kAp, "WpaFlags", wpa);
        set(path, kAp, "RsnFlags", rsn);
        accessPoints.push_back(QDBusObjectPath(path));
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override {
        QVariantList out;
        if (m.interface() == "org.freedesktop.DBus.Properties" && m.member() == "Get") {
            auto key = m.path() + "|" + m.arguments().value(0).toString();
            auto name = m.arguments().value(1).toString();
            if (!props.contains(key) || !props[key].contains(name)) {
                return c.send(m.createErrorReply("org.freedesktop.DBus.Error.UnknownProperty", name));
            }
            out << QVariant::fromValue(QDBusVariant(props[key][name]));
        } else if (m.member() == "GetDevices") {
            out << QVariant::fromValue(devices);
        } else if (m.member() == "GetAllAccessPoints") {
            out << QVariant::fromValue(accessPoints);
        } else if (m.member() == "RequestScan") {
            ++scans;
            set(kWifiDev, kWireless, "LastScan", qlonglong(1000 + scans));
        } else {
            return c.send(m.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod", m.member()));
        }
        return c.send(m.createReply(out));
    }
};

class NetworkManagerWiFiTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        if (!bus_.start(&reason)) GTEST_SKIP() << reason;
        address_ = QString::fromStdString(bus_.address());
    }
    void TearDown() override {
        if (served_) QDBusConnection::disconnectFromBus("fake-nm");
    }

    void serve() {
        auto bus = QDBusConnection::connectToBus(address_, "fake-nm");
        ASSERT_TRUE(bus.isConnected());
        ASSERT_TRUE(bus.registerService("org.freedesktop.NetworkManager"));
        ASSERT_TRUE(bus.registerVirtualObject(kRoot, &nm, QDBusConnection::SubPath));
        served_ = true;
        nm.devices = {QDBusObjectPath(kRoot + "/Devices/1"), QDBusObjectPath(kWifiDev)};
        nm.set(kRoot + "/Devices/1", kDevice, "DeviceType", uint(1));
        nm.set(kRoot + "/Devices/1", kDevice, "State", uint(100));
        nm.set(kWifiDev, kDevice, "DeviceType", uint(2));
        nm.set(kWifiDev, kDevice, "State", uint(100));
        nm.set(kWifiDev, kWireless, "LastScan", qlonglong(1000));
        nm.set(kWifiDev, kWireless, "ActiveAccessPoint", QVariant::fromValue(QDBusObjectPath(kRoot + "/AccessPoint/1")));
        nm.addAccessPoint(kRoot + "/AccessPoint/1", "Cafe", "aa:bb:cc:00:00:01", 0, 0, 0);
        nm.addAccessPoint(kRoot + "/AccessPoint/2", "Home", "aa:bb:cc:00:00:02", 1, 0, 0x188);
        nm.addAccessPoint(kRoot + "/AccessPoint/3", "", "aa:bb:cc:00:00:03", 1, 0, 0x188);
    }

    // The adapter blocks; the fake answers from this thread's event loop.
    template <typename F>
    auto offMain(F f) {
        std::atomic<bool> done{false};
        decltype(f()) result{};
        std::thread worker([&] {
            result = f();
            done = true;
        });
        auto deadline = std::chrono::steady_clock::now() + 15s;
        while (!done && std::chrono::steady_clock::now() < deadline) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        worker.join();
        return result;
    }

    int argc_ = 1;
    char name_[8] = "test";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
    test::PrivateDBus bus_;
    QString address_;
    bool served_ = false;
    FakeNetworkManager nm;
};

TEST_F(NetworkManagerWiFiTest, WithoutNetworkManagerThereIsNoWiFi) {
    NetworkManagerWiFi wifi(address_);
    EXPECT_FALSE(offMain([&] { return wifi.currentNetwork(); }));
    EXPECT_TRUE(offMain([&] { return wifi.scan(); }).empty());

    NetworkManagerWiFi nowhere("unix:path=/nonexistent/no-such-bus");
    EXPECT_FALSE(nowhere.currentNetwork());
    EXPECT_TRUE(nowhere.scan().empty());
}

TEST_F(NetworkManagerWiFiTest, CurrentNetworkIsTheActiveAccessPointWithItsSecurity) {
    serve();
    NetworkManagerWiFi wifi(address_);
    auto open = offMain([&] { return wifi.currentNetwork(); });
    ASSERT_TRUE(open);
    EXPECT_EQ(*open, (WiFiNetwork{"Cafe", "AA:BB:CC:00:00:01", WiFiSecurity::None}));

    nm.set(kWifiDev, kWireless, "ActiveAccessPoint", QVariant::fromValue(QDBusObjectPath(kRoot + "/AccessPoint/2")));
    auto home = offMain([&] { return wifi.currentNetwork(); });
    ASSERT_TRUE(home);
    EXPECT_EQ(home->ssid, "Home");
    EXPECT_EQ(home->security, WiFiSecurity::Personal);

    nm.set(kWifiDev, kWireless, "ActiveAccessPoint", QVariant::fromValue(QDBusObjectPath("/")));
    EXPECT_FALSE(offMain([&] { return wifi.currentNetwork(); })) << "not associated";
    nm.set(kWifiDev, kDevice, "State", uint(30));
    EXPECT_FALSE(offMain([&] { return wifi.currentNetwork(); })) << "device not activated";
}

TEST_F(NetworkManagerWiFiTest, ScanAsksForAFreshScanAndListsEveryAccessPointInOrder) {
    serve();
    NetworkManagerWiFi wifi(address_);
    auto found = offMain([&] { return wifi.scan(); });
    EXPECT_EQ(nm.scans, 1);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].ssid, "Cafe");
    EXPECT_EQ(found[1].bssid, "AA:BB:CC:00:00:02");
    EXPECT_FALSE(found[2].ssid) << "a hidden network has no SSID";
    EXPECT_EQ(found[2].bssid, "AA:BB:CC:00:00:03");
}

}  // namespace
}  // namespace hw
