#include <gtest/gtest.h>

#include "core/os_version.h"
#include "core/udid_helper.h"
#include "core/uuid_helper.h"
#include "support/capture_log.h"
#include "support/fake_secret_store.h"
#include "support/fake_system_info.h"

namespace hw {
namespace {

using test::FakeSecretStore;
using test::FakeSystemInfo;

NetworkInterfaceInfo withType(NetworkInterfaceInfo info, int type, bool isVirtual) {
    info.hardwareType = type;
    info.isVirtual = isVirtual;
    return info;
}

TEST(UDIDHelper, PlaceholderSerialsFallBackToTheMacAddress) {
    FakeSystemInfo system;
    system.interfaces = {FakeSystemInfo::physical("enp3s0", "54:e1:ad:0a:0b:0c")};
    UDIDHelper helper(system);
    // Listed (any case), blank, one character repeated, unprintable.
    for (const char* placeholder : {"TO BE FILLED BY O.E.M.", "123456789", "", "   ", "XXXXXXXX", "bad\x01serial"}) {
        system.serial = placeholder;
        EXPECT_EQ(helper.serialNumber(), "54e1ad0a0b0c") << '[' << placeholder << ']';
    }
    system.serial.reset();  // unreadable (not root)
    EXPECT_EQ(helper.serialNumber(), "54e1ad0a0b0c");

    // No physical interface (a container, a network namespace): a salted
    // digest of the machine-id, the same in either case, never the id itself.
    system.interfaces.clear();
    system.machine = "0123456789abcdef0123456789abcdef";
    const std::string fromMachine = helper.serialNumber();
    EXPECT_EQ(fromMachine.size(), 40u);
    EXPECT_EQ(fromMachine.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(fromMachine.find("0123456789abcdef"), std::string::npos);
    system.machine = "0123456789ABCDEF0123456789ABCDEF";
    EXPECT_EQ(helper.serialNumber(), fromMachine);
    system.machine.reset();
    EXPECT_EQ(helper.serialNumber(), "");

    system.serial = " PF2ABCDE\n";
    EXPECT_EQ(helper.serialNumber(), "PF2ABCDE");
    system.serial = "VMware-56 4d 9a 1b";
    EXPECT_EQ(helper.serialNumber(), "VMware-56 4d 9a 1b");
}

TEST(UDIDHelper, MacComesFromAStablePhysicalInterfaceOnly) {
    auto log = test::CaptureLog::install();
    FakeSystemInfo system;
    UDIDHelper helper(system);
    EXPECT_EQ(helper.getDeviceNetworkMACaddress(), "");

    NetworkInterfaceInfo randomised = FakeSystemInfo::physical("enp0s1", "02:11:22:33:44:55");
    randomised.addressIsPermanent = false;
    NetworkInterfaceInfo wifi = FakeSystemInfo::physical("wlp2s0", "3C:22:FB:01:02:03");
    system.interfaces = {
        withType(FakeSystemInfo::physical("br0", "00:16:3e:00:00:01"), 1, true),      // bridge
        withType(FakeSystemInfo::physical("docker0", "02:42:ac:11:00:02"), 1, true),  // virtual
        withType(FakeSystemInfo::physical("tun0", ""), 65534, true),
        withType(FakeSystemInfo::physical("ib0", "80:00:02:08:fe:80"), 32, false),  // not Ethernet
        FakeSystemInfo::physical("eth0", "00:00:00:00:00:00"),
        FakeSystemInfo::physical("eth1", "ff:ff:ff:ff:ff:ff"),
        randomised,
        wifi,
    };
    // The randomised address loses to the burnt-in one of a later name.
    EXPECT_EQ(helper.getDeviceNetworkMACaddress(), "3c22fb010203");

    // A driver-reported burnt-in address wins over a cloned current one.
    wifi.address = "aa:aa:aa:aa:aa:aa";
    wifi.permanentAddress = "3c:22:fb:01:02:03";
    system.interfaces = {FakeSystemInfo::physical("wlp9s0", "54:e1:ad:0a:0b:0c"), wifi};
    EXPECT_EQ(helper.getDeviceNetworkMACaddress(), "3c22fb010203");

    // With only a randomised address, it still beats nothing.
    system.interfaces = {randomised};
    EXPECT_EQ(helper.getDeviceNetworkMACaddress(), "021122334455");
    log::setSink(nullptr);
}

struct InstallIdentifier : ::testing::Test {
    FakeSecretStore keychain;
    FakeSystemInfo system;
    UUIDHelper helper{keychain, system, "com.havenway.Havenway"};
    std::shared_ptr<test::CaptureLog> log = test::CaptureLog::install();
    void TearDown() override { log::setSink(nullptr); }
};

TEST_F(InstallIdentifier, StoredOnceAndNeverReplaced) {
    system.serial = "PF2ABCDE";
    EXPECT_EQ(helper.getUUID(), std::nullopt);
    helper.checkUUID();
    EXPECT_EQ(helper.getUUID(), "PF2ABCDE");
    EXPECT_EQ(keychain.read("com.havenway.Havenway", "appID").text(), "PF2ABCDE");

    // A later launch on changed hardware keeps the first identifier and does
    // not even look at the serial.
    system.serial = "OTHER123";
    const int readsBefore = system.serialReads;
    helper.checkUUID();
    EXPECT_EQ(helper.getUUID(), "PF2ABCDE");
    EXPECT_EQ(system.serialReads, readsBefore);
}

TEST_F(InstallIdentifier, EmptyDeviceIdentifierIsNeverStored) {
    helper.checkUUID();
    EXPECT_EQ(keychain.size(), 0u);
    EXPECT_EQ(helper.getUUID(), std::nullopt);
    // Once hardware shows up, the next launch stores it.
    system.interfaces = {FakeSystemInfo::physical("eth0", "54:e1:ad:0a:0b:0c")};
    helper.checkUUID();
    EXPECT_EQ(helper.getUUID(), "54e1ad0a0b0c");
}

TEST_F(InstallIdentifier, UnreadableStoreAnswersTheDeviceIdentifierWithoutStoringIt) {
    system.serial = "PF2ABCDE";
    keychain.failReads = true;
    EXPECT_EQ(helper.getUUID(), "PF2ABCDE");
    helper.checkUUID();
    keychain.failReads = false;
    EXPECT_EQ(keychain.size(), 0u);

    keychain.failWrites = true;
    helper.checkUUID();
    EXPECT_EQ(helper.getUUID(), std::nullopt);
    EXPECT_FALSE(log->contains("PF2ABCDE"));
}

TEST(OSVersion, NameAndVersionWithFallbacks) {
    FakeSystemInfo system;
    OSVersion os(system);
    EXPECT_EQ(os.getOSVersion(), "Linux");
    system.release = OSRelease{"Debian GNU/Linux", "12 (bookworm)", "12", "", "debian"};
    EXPECT_EQ(os.getOSVersion(), "Debian GNU/Linux 12");
    system.release = OSRelease{"Arch Linux", "", "", "", "arch"};
    EXPECT_EQ(os.getOSVersion(), "Arch Linux");
    system.release = OSRelease{"", "22.04.3 LTS (Jammy Jellyfish)", "", "", ""};
    EXPECT_EQ(os.getOSVersion(), "Linux 22.04.3 LTS (Jammy Jellyfish)");
}

}  // namespace
}  // namespace hw
