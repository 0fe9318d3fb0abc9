#include "connection/vpn_connection_manager_helper_adapter.h"

#include <sys/stat.h>

#include "services/helper_tool/helper_tool_xpc_connector.h"

namespace hw {

bool VPNConnectionManagerHelperAdapter::isHelperToolPresent() {
    auto path = jobs_.programPath(HelperTool_XPC_Connector::kServiceName);
    struct stat st{};
    return path && ::stat(path->c_str(), &st) == 0;
}

}  // namespace hw
