#include <chrono>

#include "helper/helper_services.h"
#include "helper/ike/ike_helper_channel.h"
#include "helper/ike/ipsec_transport_vici.h"
#include "helper/openvpn/openvpn_service.h"
#include "helper/ppp/ppp_vpn_services.h"

namespace hw::helper {

namespace {
ike::IkeServiceOptions ikeOptions(const HelperPaths& paths) {
    auto options = ike::defaultIkeServiceOptions();
    options.charon.workDir = paths.runDir + "/ike";
    return options;
}
}  // namespace

bool HelperServices::resetAll() {
    // The tunnel first: a charon whose helper died still carries traffic.
    ike::CharonRunner(ikeOptions(context.paths).charon, context.runner).endLeftovers();
    bool ok = lock.reset();
    ok = dns.restore() && ok;
    ok = ipv6.restore() && ok;
    openvpnProcesses.terminateAll(std::chrono::seconds(3));
    return ok;
}

void registerAllCommands(CommandDispatcher& dispatcher, HelperServices& services) {
    registerNetworkCommands(dispatcher, services);
    auto ikeService = std::make_shared<ike::IkeService>(ikeOptions(services.context.paths), services.context.runner);
    // A helper that died may have left its charon carrying traffic.
    ikeService->endLeftovers();
    ike::registerIkeCommands(dispatcher, ikeService);
    ppp::setIpsecTransport(ike::makeL2tpIpsecTransport(ikeService));
    ppp::registerPppCommands(dispatcher, services);
    registerOpenVPNCommands(dispatcher, services);
}

}  // namespace hw::helper
