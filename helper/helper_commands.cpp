#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "helper/esp_probe.h"
#include "helper/helper_services.h"
#include "helper/ike/ike_helper_channel.h"
#include "helper/ike/ipsec_transport_vici.h"
#include "helper/openvpn/openvpn_service.h"
#include "helper/ppp/ppp_vpn_services.h"
#include "platform/log.h"

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
    const auto ppp = ppp::PppPaths::fromEnvironment(context.paths.stateDir, context.paths.runDir);
    ppp::PppLinks(ppp, context.runner, nullptr).stopLeftovers();
    openvpnProcesses.terminateAll(std::chrono::seconds(3));
    removeEspProbe(context.runner);
    bool ok = lock.reset();
    ok = dns.restore() && ok;
    ok = ipv6.restore() && ok;
    // The copy of the app's openvpn configuration may hold its key inline;
    // the PPP services hold passwords, and the app makes them anew at each
    // connect.
    std::error_code ec;
    std::filesystem::remove_all(context.paths.runDir + "/openvpn-config", ec);
    std::filesystem::remove_all(ppp.servicesDir, ec);
    // All undone: no record is needed any more.
    if (ok) context.removeStateFiles();
    return ok;
}

void registerAllCommands(CommandDispatcher& dispatcher, HelperServices& services) {
    registerNetworkCommands(dispatcher, services);
    auto ikeService = std::make_shared<ike::IkeService>(ikeOptions(services.context.paths), services.context.runner);
    // A helper that died may have left its charon or openvpn carrying
    // traffic: they end, and with them what was set up for their tunnel.
    // An openvpn whose end this helper saw has no record left.
    int openvpns = 0;
    services.openvpnProcesses.terminateAll(std::chrono::seconds(3), &openvpns);
    if (ikeService->endLeftovers() || openvpns > 0) {
        log::warning("HelperCommands", "a tunnel an earlier helper left ended; its DNS, IPv6 and routes are put back");
        services.dns.restore();
        services.ipv6.restore();
        services.lock.tunnelEnded();
    }
    // User-space ESP's device is charon's ipsec<n>, and only while our charon runs so.
    services.lock.addTunnelDevices([weak = std::weak_ptr<ike::IkeService>(ikeService), &network = services.context.network] {
        std::vector<std::string> out;
        auto ike = weak.lock();
        if (!ike || !ike->charonUsesOwnDevice()) return out;
        for (auto& name : network.linkNames())
            if (name.size() > 5 && name.rfind("ipsec", 0) == 0 && name.find_first_not_of("0123456789", 5) == std::string::npos)
                out.push_back(std::move(name));
        return out;
    });
    // Its device exists once it has started: through the lock before the tunnel is up.
    ikeService->setCharonStarted([&lock = services.lock] { lock.recheckNow(); });
    ike::registerIkeCommands(dispatcher, ikeService);
    ppp::setIpsecTransport(ike::makeL2tpIpsecTransport(ikeService));
    ppp::registerPppCommands(dispatcher, services);
    registerOpenVPNCommands(dispatcher, services);
}

}  // namespace hw::helper
