#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux_system_info.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

namespace fs = std::filesystem;

// A fake root with sysfs and os-release laid out like a real machine.
class FakeRoot : public ::testing::Test {
protected:
    void write(const std::string& relative, const std::string& text) {
        const fs::path p = root / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    void addInterface(const std::string& name, const std::string& device, const std::string& address, int type,
                      int assignType) {
        const std::string dir = "sys/" + device + "/net/" + name;
        write(dir + "/address", address + "\n");
        write(dir + "/type", std::to_string(type) + "\n");
        write(dir + "/addr_assign_type", std::to_string(assignType) + "\n");
        fs::create_directories(root / "sys/class/net");
        fs::create_symlink("../../" + device + "/net/" + name, root / "sys/class/net" / name);
    }

    test::TempDir temp;
    fs::path root = temp.path();
};

TEST_F(FakeRoot, ReadsInterfacesSortedAndTellsVirtualFromPhysical) {
    addInterface("wlp2s0", "devices/pci0000:00/0000:02:00.0", "3c:22:fb:01:02:03", 1, 0);
    addInterface("enp0s31f6", "devices/pci0000:00/0000:00:1f.6", "54:E1:AD:aa:bb:cc", 1, 0);
    addInterface("lo", "devices/virtual", "00:00:00:00:00:00", 772, 0);
    addInterface("tun0", "devices/virtual", "", 65534, 0);
    fs::create_directories(root / "sys/class/net/bogus");  // not a link: cannot be placed

    const auto interfaces = LinuxSystemInfo(root.string() + "/").networkInterfaces();
    std::vector<std::pair<std::string, bool>> seen;
    for (const auto& i : interfaces) seen.emplace_back(i.name, i.isVirtual);
    ASSERT_EQ(seen, (std::vector<std::pair<std::string, bool>>{
                        {"bogus", true}, {"enp0s31f6", false}, {"lo", true}, {"tun0", true}, {"wlp2s0", false}}));
    EXPECT_EQ(interfaces[1].address, "54:E1:AD:aa:bb:cc");
    EXPECT_TRUE(interfaces[1].addressIsPermanent);
    EXPECT_TRUE(interfaces[1].permanentAddress.empty());  // no driver queries off the real root
}

TEST_F(FakeRoot, SerialIsTrimmedAndMissingFilesAnswerNothing) {
    LinuxSystemInfo info(root.string());
    EXPECT_FALSE(info.productSerial().has_value());
    EXPECT_FALSE(info.osRelease().has_value());

    write("sys/class/dmi/id/product_serial", "  PF2ABCDE \n");
    EXPECT_EQ(info.productSerial(), "PF2ABCDE");

    write("usr/lib/os-release", "NAME=Fallback\n");
    EXPECT_EQ(info.osRelease()->name, "Fallback");
    write("etc/os-release", "NAME=Debian\n");
    EXPECT_EQ(info.osRelease()->name, "Debian") << "/etc first";
}

TEST_F(FakeRoot, MachineIdFromEtcElseDBusAndNeverAnUnsetOne) {
    LinuxSystemInfo info(root.string());
    EXPECT_FALSE(info.machineId().has_value());
    write("var/lib/dbus/machine-id", "3D1219C7C4C5404AAA1F6D2A48ADFDA4\n");
    EXPECT_EQ(info.machineId(), "3D1219C7C4C5404AAA1F6D2A48ADFDA4");
    // Empty, "uninitialized" (first boot) or all zeros: not an identity.
    for (const char* unset : {"", "uninitialized\n", "00000000000000000000000000000000\n"}) {
        write("etc/machine-id", unset);
        EXPECT_EQ(info.machineId(), "3D1219C7C4C5404AAA1F6D2A48ADFDA4") << unset;
    }
    write("etc/machine-id", "0123456789abcdef0123456789abcdef\n");
    EXPECT_EQ(info.machineId(), "0123456789abcdef0123456789abcdef") << "/etc first";
}

TEST(OsRelease, ParsesQuotingCommentsAndSkipsJunk) {
    const OSRelease r = parseOsRelease(
        "# comment\n"
        "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\r\n"
        "NAME='Debian GNU/Linux'\n"
        "VERSION=\"12 (\\\"book\\\\worm\\\")\"\n"
        "VERSION_ID=12\n"
        "=orphan\n"
        "garbage line\n"
        "ID=debian");
    EXPECT_EQ(r.prettyName, "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(r.name, "Debian GNU/Linux");
    EXPECT_EQ(r.version, "12 (\"book\\worm\")");
    EXPECT_EQ(r.versionId + r.id, "12debian");
    EXPECT_EQ(parseOsRelease("NAME=\"").name, "\"");
}

}  // namespace
}  // namespace hw
