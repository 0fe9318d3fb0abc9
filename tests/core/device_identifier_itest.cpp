#include <gtest/gtest.h>

#include <algorithm>

#include "core/os_version.h"
#include "core/udid_helper.h"
#include "platform/linux_system_info.h"

namespace hw {
namespace {

// Against this machine's real sysfs and os-release: whatever it has, the
// answers keep their shape.
TEST(DeviceIdentifierOnThisMachine, AnswersKeepTheirShape) {
    LinuxSystemInfo system;
    UDIDHelper helper(system);
    const std::string mac = helper.getDeviceNetworkMACaddress();
    EXPECT_TRUE(mac.empty() || (mac.size() == 12 && std::all_of(mac.begin(), mac.end(), [](char c) {
                                    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                                }))) << mac;
    const std::string serial = helper.serialNumber();
    EXPECT_FALSE(!serial.empty() && UDIDHelper::isPlaceholderSerial(serial));
    if (serial.empty()) {
        EXPECT_TRUE(mac.empty());
    }
    for (const auto& info : system.networkInterfaces()) {
        if (info.name == "lo") {
            EXPECT_TRUE(info.isVirtual);
        }
    }
    EXPECT_FALSE(OSVersion(system).getOSVersion().empty());
}

}  // namespace
}  // namespace hw
