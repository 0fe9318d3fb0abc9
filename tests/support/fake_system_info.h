#pragma once
#include <atomic>

#include "platform/system_info.h"

namespace hw::test {

// A machine described by the test; counts how often the serial is asked for.
class FakeSystemInfo final : public SystemInfo {
public:
    std::optional<std::string> productSerial() const override {
        ++serialReads;
        return serial;
    }
    std::vector<NetworkInterfaceInfo> networkInterfaces() const override {
        ++interfaceReads;
        return interfaces;
    }
    std::optional<OSRelease> osRelease() const override { return release; }
    std::optional<std::string> machineId() const override { return machine; }

    // A physical Ethernet device with a burnt-in address.
    static NetworkInterfaceInfo physical(std::string name, std::string address) {
        NetworkInterfaceInfo info;
        info.name = std::move(name);
        info.address = std::move(address);
        info.hardwareType = 1;
        info.addressIsPermanent = true;
        return info;
    }

    std::optional<std::string> serial;
    std::vector<NetworkInterfaceInfo> interfaces;
    std::optional<OSRelease> release;
    std::optional<std::string> machine;
    mutable std::atomic<int> serialReads{0};
    mutable std::atomic<int> interfaceReads{0};
};

}  // namespace hw::test
