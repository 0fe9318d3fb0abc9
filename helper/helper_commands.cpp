#include "helper/helper_services.h"
#include "helper/ike/ike_helper_channel.h"
#include "helper/ike/ipsec_transport_vici.h"
#include "helper/openvpn/openvpn_service.h"
#include "helper/ppp/ppp_vpn_services.h"

namespace hw::helper {

void registerAllCommands(CommandDispatcher& dispatcher, HelperServices& services) {
    registerNetworkCommands(dispatcher, services);
    auto ikeOptions = ike::defaultIkeServiceOptions();
    ikeOptions.charon.workDir = services.context.paths.runDir + "/ike";
    auto ikeService = std::make_shared<ike::IkeService>(std::move(ikeOptions));
    ike::registerIkeCommands(dispatcher, ikeService);
    ppp::setIpsecTransport(ike::makeL2tpIpsecTransport(ikeService));
    ppp::registerPppCommands(dispatcher, services);
    registerOpenVPNCommands(dispatcher, services);
}

}  // namespace hw::helper
