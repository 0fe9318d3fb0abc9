#include "connection/ppp_road_check.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace hw {

namespace {

void redirect(std::string& path, const char* variable) {
    if (const char* value = std::getenv(variable); value && *value) path = value;
}

}  // namespace

PPPRoadPaths PPPRoadPaths::fromEnvironment() {
    PPPRoadPaths paths;
    redirect(paths.device, "HAVENWAY_PPP_DEVICE");
    redirect(paths.pppd, "HAVENWAY_PPPD");
    redirect(paths.xl2tpd, "HAVENWAY_XL2TPD");
    redirect(paths.pptp, "HAVENWAY_PPTP");
    return paths;
}

std::optional<std::string> pppRoadCannotBeBuilt(VPNTypes type, const PPPRoadPaths& paths) {
    if (type != VPNTypesL2TP && type != VPNTypesPPTP) return std::nullopt;
    struct stat device {};
    // Only root opens it: that it is there, a character device, is what says the kernel has PPP.
    if (::stat(paths.device.c_str(), &device) != 0 || !S_ISCHR(device.st_mode))
        return "no " + paths.device + " (the kernel has no PPP)";
    const std::string& tunnel = type == VPNTypesL2TP ? paths.xl2tpd : paths.pptp;
    for (const std::string* tool : {&paths.pppd, &tunnel}) {
        if (::access(tool->c_str(), X_OK) != 0) return "no " + *tool;
    }
    return std::nullopt;
}

}  // namespace hw
