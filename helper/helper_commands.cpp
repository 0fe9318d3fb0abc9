#include "helper/helper_services.h"
#include "helper/openvpn/openvpn_service.h"

namespace hw::helper {

void registerAllCommands(CommandDispatcher& dispatcher, HelperServices& services) {
    registerNetworkCommands(dispatcher, services);
    registerOpenVPNCommands(dispatcher, services);
}

}  // namespace hw::helper
