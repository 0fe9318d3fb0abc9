#pragma once
#include <optional>
#include <string>

#include "core/vpn_types.h"

namespace hw {

// What a PPP link needs of this machine, as the application can see it:
// the kernel's PPP device and the tools the helper runs. The tools' paths
// follow the helper's redirects (HAVENWAY_PPPD, HAVENWAY_XL2TPD,
// HAVENWAY_PPTP); the device's is HAVENWAY_PPP_DEVICE.
struct PPPRoadPaths {
    std::string device = "/dev/ppp";
    std::string pppd = "/usr/sbin/pppd";
    std::string xl2tpd = "/usr/sbin/xl2tpd";
    std::string pptp = "/usr/sbin/pptp";
    static PPPRoadPaths fromEnvironment();
};

// Why `type` cannot run here; none: it can, or it is no PPP road.
std::optional<std::string> pppRoadCannotBeBuilt(VPNTypes type, const PPPRoadPaths& paths);

}  // namespace hw
