#pragma once
#include <string>

#include "platform/process_runner.h"

namespace hw::helper {

inline constexpr const char* kHelperJobLabel = "com.havenway.HelperTool";

// Where the installer puts things; root redirectable (HAVENWAY_INSTALL_ROOT)
// so tests never touch the real system.
struct InstallLayout {
    std::string root;  // "" for the real system
    std::string binary() const { return root + "/usr/libexec/havenway/havenway-helper"; }
    std::string eventProgram() const { return root + "/usr/libexec/havenway/havenway-openvpn-event"; }
    std::string eventPlugin() const { return root + "/usr/libexec/havenway/havenway-openvpn-plugin.so"; }
    std::string unit() const { return root + "/etc/systemd/system/" + std::string(kHelperJobLabel) + ".service"; }
    std::string config() const { return root + "/etc/havenway/helper.conf"; }
    static InstallLayout fromEnvironment();
};

// The systemd unit whose ExecStart names the installed helper.
std::string helperUnitText(const std::string& binaryPath);

// Installs the running binary as the helper for user (run as root through
// pkexec): binary, unit, the installed-for user, then systemctl. Returns the
// process exit code: 0 done, 2 bad user, 1 anything else failed.
int installHelper(const std::string& user, const std::string& selfPath, const InstallLayout& layout,
                  ProcessRunner& runner);

}  // namespace hw::helper
