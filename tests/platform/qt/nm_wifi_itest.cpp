#include "platform/qt/nm_wifi.h"

#include <QElapsedTimer>

#include "support/fake_network_manager.h"
#include "support/private_dbus.h"
#include "support/qt_test_app.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace hw {
namespace {

using test::FakeNetworkManager;
const QString kRoot = FakeNetworkManager::kRoot;
const QString kWifiDev = FakeNetworkManager::kWifiDev;
const QString kDevice = FakeNetworkManager::kDevice;
const QString kWireless = FakeNetworkManager::kWireless;

class NetworkManagerWiFiTest : public ::testing::Test, private test::QtAppFirst {
protected:
    void SetUp() override {
        std::string why;
        if (!bus_.start(&why)) GTEST_SKIP() << why;
        address_ = QString::fromStdString(bus_.address());
    }

    void serve() {
        ASSERT_TRUE(nm.serve(address_));
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
        test::spinUntil([&] { return done.load(); }, 15000);
        worker.join();
        return result;
    }

    test::PrivateDBus bus_;
    QString address_;
    FakeNetworkManager nm;
};

TEST_F(NetworkManagerWiFiTest, WithoutNetworkManagerTheNetworkIsUnknownAndScansAreEmpty) {
    NetworkManagerWiFi wifi(address_);
    EXPECT_EQ(offMain([&] { return wifi.currentNetwork(); }), (WiFiLook{false, std::nullopt, true}));
    EXPECT_TRUE(offMain([&] { return wifi.scan(); }).networks.empty());

    NetworkManagerWiFi nowhere(QStringLiteral("unix:path=/nonexistent/havenway-no-bus"));
    EXPECT_EQ(nowhere.currentNetwork(), (WiFiLook{false, std::nullopt, true}));
    EXPECT_TRUE(nowhere.scan().networks.empty());
    // Without a bus nothing can change: no one need ask again.
    EXPECT_TRUE(nowhere.startWatch([] {}));
}

TEST_F(NetworkManagerWiFiTest, CurrentNetworkIsTheActiveAccessPointWithItsSecurity) {
    serve();
    NetworkManagerWiFi wifi(address_);
    auto open = offMain([&] { return wifi.currentNetwork(); });
    EXPECT_EQ(open, (WiFiLook{true, WiFiNetwork{"Cafe", "AA:BB:CC:00:00:01", WiFiSecurity::None}}));

    nm.set(kWifiDev, kWireless, "ActiveAccessPoint", QVariant::fromValue(QDBusObjectPath(kRoot + "/AccessPoint/2")));
    EXPECT_EQ(offMain([&] { return wifi.currentNetwork(); }),
              (WiFiLook{true, WiFiNetwork{"Home", "AA:BB:CC:00:00:02", WiFiSecurity::Personal}}));

    nm.set(kWifiDev, kWireless, "ActiveAccessPoint", QVariant::fromValue(QDBusObjectPath("/")));
    EXPECT_EQ(offMain([&] { return wifi.currentNetwork(); }), WiFiLook{}) << "not associated";
    nm.set(kWifiDev, kDevice, "State", uint(30));
    EXPECT_EQ(offMain([&] { return wifi.currentNetwork(); }), WiFiLook{}) << "device not activated";
}

// A NetworkManager that errs or answers late must not read as a network
// without protection, nor as no Wi-Fi at all.
TEST_F(NetworkManagerWiFiTest, AnErringOrLateNetworkManagerLeavesTheNetworkUnknown) {
    serve();
    NetworkManagerWiFi wifi(address_);
    nm.props[kRoot + "/AccessPoint/1|" + FakeNetworkManager::kAp].remove("RsnFlags");
    EXPECT_FALSE(offMain([&] { return wifi.currentNetwork(); }).answered) << "a flag missing";

    nm.set(kRoot + "/AccessPoint/1", FakeNetworkManager::kAp, "RsnFlags", uint(0));
    ASSERT_TRUE(offMain([&] { return wifi.currentNetwork(); }).answered);
    nm.answersLeft = 0;
    QElapsedTimer took;
    took.start();
    EXPECT_FALSE(offMain([&] { return wifi.currentNetwork(); }).answered) << "late";
    EXPECT_LT(took.elapsed(), 6000) << "one call's timeout, not one per property";

    nm.answersLeft = -1;
    EXPECT_TRUE(offMain([&] { return wifi.currentNetwork(); }).answered) << "answering again";
}

// The settings window's testbed test scans through this adapter; a hidden network only here.
TEST_F(NetworkManagerWiFiTest, AHiddenNetworkIsScannedWithoutAnSSID) {
    serve();
    NetworkManagerWiFi wifi(address_);
    auto found = offMain([&] { return wifi.scan(); }).networks;
    ASSERT_EQ(found.size(), 3u);
    EXPECT_FALSE(found[2].ssid);
    EXPECT_EQ(found[2].bssid, "AA:BB:CC:00:00:03");
}

// A NetworkManager that stops answering costs one call's timeout, not one
// per access point, and the scan says it was cut short.
TEST_F(NetworkManagerWiFiTest, AScanThatNetworkManagerStopsAnsweringSaysSo) {
    serve();
    NetworkManagerWiFi wifi(address_);
    EXPECT_FALSE(offMain([&] { return wifi.scan(); }).timedOut);
    nm.answersLeft = 8;  // silent from the first access point's name on
    QElapsedTimer took;
    took.start();
    auto scan = offMain([&] { return wifi.scan(); });
    EXPECT_TRUE(scan.timedOut);
    EXPECT_TRUE(scan.networks.empty());
    EXPECT_LT(took.elapsed(), 6000);
}

// A reply of a type NetworkManager does not use is no answer: read as a
// value it would say "not on Wi-Fi", a safe network, and end Wi-Fi security.
TEST_F(NetworkManagerWiFiTest, AReplyOfTheWrongTypeLeavesTheNetworkUnknown) {
    serve();
    NetworkManagerWiFi wifi(address_);
    const QString ap1 = kRoot + "/AccessPoint/1";
    struct Row {
        const char* name;
        QString path, iface, property;
        QVariant wrong, right;
    };
    const Row rows[] = {
        {"an object path as a string", kWifiDev, kWireless, "ActiveAccessPoint", QString(ap1),
         QVariant::fromValue(QDBusObjectPath(ap1))},
        {"a device state as a string", kWifiDev, kDevice, "State", QString("100"), uint(100)},
        {"a device type as a signed number", kWifiDev, kDevice, "DeviceType", int(2), uint(2)},
        {"an SSID as a string", ap1, FakeNetworkManager::kAp, "Ssid", QString("Cafe"), QByteArray("Cafe")},
        {"still starting", kRoot, FakeNetworkManager::kService, "Startup", true, false},
    };
    for (const Row& row : rows) {
        nm.set(row.path, row.iface, row.property, row.wrong);
        EXPECT_FALSE(offMain([&] { return wifi.currentNetwork(); }).answered) << row.name;
        nm.set(row.path, row.iface, row.property, row.right);
        EXPECT_TRUE(offMain([&] { return wifi.currentNetwork(); }).network) << row.name;
    }
    nm.devicesAsStrings = true;
    EXPECT_FALSE(offMain([&] { return wifi.currentNetwork(); }).answered) << "GetDevices as as";
}

// What NetworkManager says reaches the watch as it says it; a bit rate does
// not. Its name leaving the bus and coming back is told too.
TEST_F(NetworkManagerWiFiTest, TheWatchHearsTheAccessPointAndTheNameComeAndGo) {
    serve();
    NetworkManagerWiFi wifi(address_);
    int told = 0;
    ASSERT_TRUE(wifi.startWatch([&] { ++told; }));
    const auto ap2 = QVariant::fromValue(QDBusObjectPath(kRoot + "/AccessPoint/2"));
    // Delivered in the order sent: the bit rate before the access point.
    nm.announce(kWifiDev, kWireless, "Bitrate", uint(54000));
    nm.announce(kWifiDev, kWireless, "ActiveAccessPoint", ap2);
    EXPECT_TRUE(test::spinUntil([&] { return told >= 1; }, 5000));
    test::spinFor(100);
    EXPECT_EQ(told, 1);
    ASSERT_TRUE(nm.leaveBus());
    EXPECT_TRUE(test::spinUntil([&] { return told >= 2; }, 5000)) << "the name gone";
    ASSERT_TRUE(nm.returnToBus());
    EXPECT_TRUE(test::spinUntil([&] { return told >= 3; }, 5000)) << "the name back";
    EXPECT_EQ(offMain([&] { return wifi.currentNetwork(); }).network->ssid, "Home");

    wifi.stopWatch();
    nm.announce(kWifiDev, kWireless, "ActiveAccessPoint", QVariant::fromValue(QDBusObjectPath("/")));
    test::spinFor(100);
    EXPECT_EQ(told, 3);
}

}  // namespace
}  // namespace hw
