#pragma once
#include <string>

namespace hw::helper {

// Where the helper keeps and edits things; each can be redirected for tests.
struct HelperPaths {
    std::string socket = "/run/havenway/helper.sock";     // HAVENWAY_HELPER_SOCKET
    std::string config = "/etc/havenway/helper.conf";     // HAVENWAY_HELPER_CONF
    std::string stateDir = "/var/lib/havenway";            // HAVENWAY_HELPER_STATE_DIR (survives reboots)
    std::string runDir = "/run/havenway";                  // HAVENWAY_HELPER_RUN_DIR
    std::string resolvConf = "/etc/resolv.conf";           // HAVENWAY_RESOLV_CONF
    std::string sysctlRoot = "/proc/sys";                  // HAVENWAY_SYSCTL_ROOT
    std::string procRoot = "/proc";                        // HAVENWAY_PROC_ROOT
    std::string resolvedDir = "/run/systemd/resolve";      // HAVENWAY_RESOLVED_DIR

    static HelperPaths fromEnvironment();
    // The DNS record: it outlives a reboot, as resolv.conf does.
    std::string stateFile() const { return stateDir + "/helper-state.json"; }
    // The kernel's records (lock, routes, sysctls): void after a reboot, so
    // under the run folder (tmpfs), in a folder of root's alone.
    std::string recordsDir() const { return runDir + "/state"; }
    std::string recordsFile() const { return recordsDir() + "/helper-state.json"; }
};

}  // namespace hw::helper
