#include "helper/ppp/ppp_service.h"

#include <cstdlib>

namespace hw::helper::ppp {

PppPaths PppPaths::under(const std::string& stateDir, const std::string& runDir) {
    PppPaths p;
    p.servicesDir = stateDir + "/ppp";
    p.runDir = runDir + "/ppp";
    return p;
}

PppPaths PppPaths::fromEnvironment(const std::string& stateDir, const std::string& runDir) {
    PppPaths p = under(stateDir, runDir);
    auto redirect = [](std::string& field, const char* variable) {
        const char* value = std::getenv(variable);
        if (value && *value) field = value;
    };
    redirect(p.logFile, "HAVENWAY_PPP_LOG");
    redirect(p.pppd, "HAVENWAY_PPPD");
    redirect(p.pptp, "HAVENWAY_PPTP");
    redirect(p.xl2tpd, "HAVENWAY_XL2TPD");
    return p;
}

}  // namespace hw::helper::ppp
