#include <memory>

#include "connection/vpn_connection_manager.h"
#include "connection/vpn_connection_manager_log.h"
#include "services/helper_tool/helper_tool_manager.h"

namespace hw {

using manager_log::logLine;

void VPNConnectionManager::settleTunnelSettings(bool ipv6Off, bool dnsInstalled, int triesLeft,
                                                const TryStamp& stamp) {
    if (replyStale(stamp, "the tunnel settings' step")) return;
    if (ipv6Off && dnsInstalled) {
        finishConnected();
        return;
    }
    // Both asked at once; the outcome is judged when the last reply is in.
    struct Outcome {
        bool ipv6Off;
        bool dnsInstalled;
        int pending;
    };
    auto outcome = std::make_shared<Outcome>(Outcome{ipv6Off, dnsInstalled, (ipv6Off ? 0 : 1) + (dnsInstalled ? 0 : 1)});
    std::weak_ptr<bool> alive = alive_;
    auto judge = [this, alive, outcome, triesLeft, stamp] {
        if (!alive.lock() || --outcome->pending > 0 || replyStale(stamp, "the tunnel settings' reply")) return;
        if (outcome->ipv6Off && outcome->dnsInstalled) {
            finishConnected();
            return;
        }
        std::string missing;
        if (!outcome->ipv6Off) missing = "IPv6 could not be switched off";
        if (!outcome->dnsInstalled)
            missing += std::string(missing.empty() ? "" : "; ") + "the tunnel's DNS servers could not be installed";
        if (triesLeft > 1) {
            logLine("the tunnel is up, but " + missing + " -- trying again");
            const bool ipv6 = outcome->ipv6Off, dns = outcome->dnsInstalled;
            postAfter(kDefaultRouteRetryMs,
                      [this, ipv6, dns, triesLeft, stamp] { settleTunnelSettings(ipv6, dns, triesLeft - 1, stamp); });
            return;
        }
        logLine("the tunnel is up, but " + missing + " -- the attempt ends in its error");
        failConnected();
    };
    if (!ipv6Off) {
        env_.helper.disableIPV6(firstReplyOnly([outcome, judge](const std::string& reply) {
            outcome->ipv6Off = reply != HelperToolManager::kNo;
            judge();
        }));
    }
    if (!dnsInstalled) {
        const auto pushed = currentProvider_ ? currentProvider_->pushedDNSServers() : std::vector<std::string>{};
        env_.helper.install_DNS_for_VPN(true, pushed, firstReplyOnly([outcome, judge](const std::string& reply) {
            outcome->dnsInstalled = reply != HelperToolManager::kNo;
            judge();
        }));
    }
}

}  // namespace hw
