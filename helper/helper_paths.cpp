#include "helper/helper_paths.h"

#include <cstdlib>

namespace hw::helper {

namespace {
void redirect(std::string& field, const char* variable) {
    const char* value = std::getenv(variable);
    if (value && *value) field = value;
}
}  // namespace

HelperPaths HelperPaths::fromEnvironment() {
    HelperPaths p;
    redirect(p.socket, "HAVENWAY_HELPER_SOCKET");
    redirect(p.config, "HAVENWAY_HELPER_CONF");
    redirect(p.stateDir, "HAVENWAY_HELPER_STATE_DIR");
    redirect(p.runDir, "HAVENWAY_HELPER_RUN_DIR");
    redirect(p.resolvConf, "HAVENWAY_RESOLV_CONF");
    redirect(p.sysctlRoot, "HAVENWAY_SYSCTL_ROOT");
    redirect(p.procRoot, "HAVENWAY_PROC_ROOT");
    redirect(p.resolvedDir, "HAVENWAY_RESOLVED_DIR");
    return p;
}

}  // namespace hw::helper
