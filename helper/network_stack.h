#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hw::helper {

// The kernel's routing table and packet filter as the helper changes them.
// Every address and name here has been validated by the caller.
class NetworkStack {
public:
    virtual ~NetworkStack() = default;

    struct Route {
        std::string destination;  // "default", an address, or a prefix "2001:db8::/64"
        std::string gateway;      // empty: on the link
        std::string device;       // empty: the kernel picks it from the gateway
        std::optional<unsigned> metric;
        std::string protocol;  // empty: as ip makes them ("boot"); else a name ip knows
    };

    // The main table's IPv4 default routes, through a gateway or out of a
    // link (gateway empty), in the kernel's order.
    virtual std::vector<Route> defaultRoutes4() = 0;
    // The main table's IPv4 host routes (/32), the same.
    virtual std::vector<Route> hostRoutes4() = 0;
    // Plain unicast routes of the main table leaving through device (IPv6).
    virtual std::vector<Route> routes6(const std::string& device) = 0;
    // Creates or replaces the route for that destination.
    virtual bool replaceRoute(const Route& route) = 0;
    // Removes it; for "default" without a gateway, the first default route.
    virtual bool deleteRoute(const Route& route) = 0;

    struct Address6 {
        std::string prefix;  // "2001:db8::2/64"
        bool global = false;
        bool dynamic = false;    // from autoconfiguration
        bool temporary = false;  // privacy extension
    };
    virtual std::vector<Address6> addresses6(const std::string& device) = 0;
    virtual bool replaceAddress6(const std::string& device, const std::string& prefix) = 0;

    // Whether the IPv4 address is one of this machine's own.
    virtual bool isOwnAddress(const std::string& address) = 0;
    // Whether a host answers at the IPv4 address on a link of ours (its
    // neighbour entry resolves), asked now and waited for at most a moment.
    virtual bool neighbourAnswers(const std::string& address) = 0;

    // The names of the network links there are now.
    virtual std::vector<std::string> linkNames() = 0;

    // Runs one nft transaction (our own table's ruleset text).
    virtual bool applyRuleset(const std::string& ruleset) = 0;
};

// The real one: rtnetlink and libnftables, no programs started.
std::unique_ptr<NetworkStack> makeKernelNetworkStack();

}  // namespace hw::helper
