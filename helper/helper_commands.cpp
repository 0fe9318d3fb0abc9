#include "helper/helper_services.h"
#include "helper/ppp/ppp_vpn_services.h"

namespace hw::helper {

void registerAllCommands(CommandDispatcher& dispatcher, HelperServices& services) {
    registerNetworkCommands(dispatcher, services);
    ppp::registerPppCommands(dispatcher, services);
}

}  // namespace hw::helper
