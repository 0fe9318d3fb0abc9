#pragma once
#include <string>
#include <string_view>

#include "platform/system_info.h"

namespace hw {

// Reads the machine from sysfs and os-release under a root folder ("/" in
// production; a prepared tree in tests). The burnt-in address of an interface
// is asked of the driver (ethtool) only when reading the real root.
class LinuxSystemInfo final : public SystemInfo {
public:
    explicit LinuxSystemInfo(std::string root = "/");

    std::optional<std::string> productSerial() const override;
    std::vector<NetworkInterfaceInfo> networkInterfaces() const override;
    std::optional<OSRelease> osRelease() const override;
    std::optional<std::string> machineId() const override;

private:
    std::string path(std::string_view relative) const;
    std::string root_;
    bool realRoot_;
};

// The os-release format: KEY=value lines, values optionally quoted in single
// or double quotes (with backslash escapes inside double quotes), "#" lines
// are comments. Unknown keys and malformed lines are skipped.
OSRelease parseOsRelease(std::string_view text);

}  // namespace hw
