#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hw {

// Watches the kernel's links, addresses and routes.
class RouteWatch {
public:
    virtual ~RouteWatch() = default;
    // `changed` runs on the main queue after each burst of link, address or
    // route changes; it carries no detail, the caller asks again. start
    // replaces a running watch; nothing runs after stop returns.
    virtual void start(std::function<void()> changed) = 0;
    virtual void stop() = 0;
    // Whether any of the numeric addresses has a usable route: the kernel
    // routes it (not unreachable, prohibit or blackhole) through a link that
    // is up and has carrier. A route into a VPN's tunnel counts only while a
    // link that is no tunnel still leads out (a default route, or the host
    // route that carries a tunnel to its server): with the outer link gone
    // the tunnel carries nothing, however up its device. Blocks briefly; any
    // thread.
    virtual bool hasRoute(const std::vector<std::string>& numericAddresses) = 0;
    // The interface the machine's own traffic leaves by (a VPN's tunnel never
    // counts): its change is a change of network. None when nothing leads
    // out. Blocks briefly; any thread.
    virtual std::optional<std::string> wayOut() = 0;
};

// Name resolution. Blocks (possibly for seconds): call it off the main thread.
class NameResolver {
public:
    virtual ~NameResolver() = default;
    // Numeric addresses of the host, IPv4 first; empty when it does not resolve.
    virtual std::vector<std::string> resolve(const std::string& host) = 0;
};

}  // namespace hw
