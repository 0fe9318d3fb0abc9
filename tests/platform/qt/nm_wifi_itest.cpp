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
    EXPECT_FALSE(offMain([&] { return wifi.currentNetwork(); }).answered);
    EXPECT_TRUE(offMain([&] { return wifi.scan(); }).networks.empty());

    NetworkManagerWiFi nowhere(QStringLiteral("unix:path=/nonexistent/havenway-no-bus"));
    EXPECT_FALSE(nowhere.currentNetwork().answered);
    EXPECT_TRUE(nowhere.scan().networks.empty());
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

}  // namespace
}  // namespace hw
