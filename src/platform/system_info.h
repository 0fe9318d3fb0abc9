#pragma once
#include <optional>
#include <string>
#include <vector>

namespace hw {

// One network interface as the kernel describes it.
struct NetworkInterfaceInfo {
    std::string name;
    // Current hardware address, lower-case "aa:bb:cc:dd:ee:ff"; empty if none.
    std::string address;
    // The burnt-in address where the driver reports one; may differ from
    // address when the address was randomised or set by hand.
    std::string permanentAddress;
    // The kernel's hardware type (1 is Ethernet, Wi-Fi included).
    int hardwareType = 0;
    // Set when the address was assigned permanently (not random or set).
    bool addressIsPermanent = false;
    // A software device (bridge, veth, tun, tap, wireguard, loopback ...).
    bool isVirtual = false;
};

// What /etc/os-release says; empty fields where it says nothing.
struct OSRelease {
    std::string name;        // NAME
    std::string version;     // VERSION
    std::string versionId;   // VERSION_ID
    std::string prettyName;  // PRETTY_NAME
    std::string id;          // ID
};

// The machine: its firmware serial, its network interfaces, its OS.
class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // The firmware's product serial as stored, when it can be read.
    virtual std::optional<std::string> productSerial() const = 0;
    virtual std::vector<NetworkInterfaceInfo> networkInterfaces() const = 0;
    // Nothing when no os-release file can be read.
    virtual std::optional<OSRelease> osRelease() const = 0;
    // The installation's own identity (machine-id: 32 hex digits), when set.
    virtual std::optional<std::string> machineId() const { return std::nullopt; }
};

}  // namespace hw
