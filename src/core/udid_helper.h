#pragma once
#include <string>
#include <string_view>

#include "platform/system_info.h"

namespace hw {

// The device identifier that seeds the install identifier: the firmware
// serial where it is real, else the hardware address of a physical network
// interface, else a digest of the machine-id, else empty.
class UDIDHelper {
public:
    explicit UDIDHelper(const SystemInfo& system) : system_(system) {}

    std::string serialNumber() const;
    // Twelve lower-case hex digits, or empty. Chosen by interface name among
    // physical Ethernet and Wi-Fi devices, preferring burnt-in addresses; the
    // routing table plays no part, so neither going offline nor bringing a
    // tunnel up changes the answer.
    std::string getDeviceNetworkMACaddress() const;
    static std::string checkWiFiType() { return {}; }
    // Forty lower-case hex digits, or empty without a machine-id. Salted, so
    // the machine-id itself never leaves the machine.
    std::string machineIdentifier() const;

    // Vendor filler such as "To be filled by O.E.M." or "0000000".
    static bool isPlaceholderSerial(std::string_view serial);

private:
    const SystemInfo& system_;
};

}  // namespace hw
