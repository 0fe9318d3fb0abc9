#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "helper/helper_context.h"

namespace hw::helper {

// The kill switch and the routes around it. Engaging it installs our nft
// table (policy drop) and then takes the default route away; the VPN
// server's host route and the tunnel's default route are added by later
// commands. The table stays when the helper or the app dies (fail closed).
class NetworkLock {
public:
    explicit NetworkLock(HelperContext& context) : ctx_(context) {}

    // A way out: through a gateway, or with none out of its device (a
    // modem's or a point-to-point link).
    struct DefaultRoute {
        std::string gateway;
        std::string device;
        bool operator==(const DefaultRoute&) const = default;
    };
    // The IPv4 default route in force (lowest metric), if any.
    std::optional<DefaultRoute> currentDefaultRoute();
    // The way out: the default route, or under the lock (which took that
    // route away) the one saved when it was engaged.
    std::optional<DefaultRoute> wayOut();
    // The best default route on a link that is no tunnel's the helper made
    // (a modem's PPP link, a tether, wired or Wi-Fi).
    std::optional<DefaultRoute> realDefaultRoute();

    // Reply: the gateway in force before the lock, also when called again
    // while the lock is on; "NO" when there is none (also where the way out
    // is a link without one) or the lock failed.
    std::string enable(const std::vector<std::string>& dnsResolvers);
    // Removes the table and puts back every default route the lock took,
    // each with its device and metric; the hint (an IPv4 address the caller
    // checked) only when none of those answers and it does. The servers' host
    // routes go too unless a tunnel still runs. False when no default route
    // that answers could be restored: the record is then kept for a later
    // release or --reset. False too when the lock held and no default route
    // leads out after it.
    bool disable(const std::optional<std::string>& gateway);
    // Host route to the server through the way given; the server passes the
    // lock. Under the lock the way out the helper follows goes first: the
    // app's may be the network's before last.
    bool addServerRoute(const std::string& server, const DefaultRoute& way);
    // The tunnel's default route (OpenVPN under the lock).
    bool setDefaultGateway(const std::string& gateway);
    // For tunnel services: let traffic to a server they connect to through.
    bool allowServer(const std::string& server);
    // Undoes everything: table, host routes, default route.
    bool reset();

    bool active() const { return ctx_.state.lock.active; }

    // Why no route may go through this gateway: no host's address, loopback,
    // or this machine's own. Empty when one may.
    std::string gatewayProblem(const std::string& gateway);

    // A tunnel service says whether it runs; while one does, releasing the
    // lock keeps the server's host route, which carries the tunnel.
    void addTunnelCheck(std::function<bool()> running) { tunnelChecks_.push_back(std::move(running)); }
    // A tunnel service names the devices of the tunnels it made that are up;
    // the lock lets out through these and no other (any thread may call it).
    void addTunnelDevices(std::function<std::vector<std::string>()> devices) {
        tunnelDevices_.push_back(std::move(devices));
    }
    // A tunnel's device came or went: the lock's table follows.
    void tunnelsChanged();
    // The tunnel ended: host routes a release kept for it go now.
    void tunnelEnded();

    // The host route openvpn made to its server (outside the lock), kept
    // like the lock's own while its tunnel runs and recorded, so that its
    // end, or a later --reset, removes it.
    void setTunnelServerRoute(std::optional<HelperState::Route> route);
    // After a route or link change: while a tunnel runs, a server host route
    // the kernel dropped with its link is put back through the way out there
    // is now. Without it the tunnel's own packets go into the tunnel, which
    // then carries nothing. Routes still there are left alone, so the change
    // this makes does not set off another.
    void keepServerRoutes();
    // After a route or link change under the lock: a default route a real
    // link brought (DHCP on the new network) becomes the way out the lock
    // keeps, and goes like the first one did; the resolvers follow it.
    void followWayOut();
    // A tunnel process is gone (any thread): host routes a release kept
    // for it are removed by whoever looks next (see setRecheck).
    void tunnelProcessGone();
    // A tunnel came up or went (any thread): the lock's table follows it
    // at once, on the thread that follows the routes.
    void recheckNow() {
        if (promptRecheck_) promptRecheck_();
    }
    void setPromptRecheck(std::function<void()> recheck) { promptRecheck_ = std::move(recheck); }
    // How a tunnel process's end reaches the thread that owns the state.
    void setRecheck(std::function<void()> recheck) { recheck_ = std::move(recheck); }
    // Host routes a release kept for a tunnel that is gone now are removed.
    void dropRoutesNoTunnelNeeds();

private:
    bool applyTable();
    // Host routes to the resolvers the lock lets through, while it holds and
    // no tunnel's default route carries them.
    void routeResolvers();
    void unrouteResolvers();
    // A host route through the way, and every record of that destination
    // (the servers', the resolvers', openvpn's) then names it: one kernel route.
    bool placeHostRoute(const std::string& destination, const DefaultRoute& way);
    // Whether a route out of the kernel or a record leads anywhere: a
    // gateway that is another host's, or a link other than loopback.
    bool leadsOut(const std::string& gateway, const std::string& device);
    // Drops the record from records; the kernel route goes, through the
    // gateway recorded, once no record of it is left. The destination is a
    // copy: callers pass a record's own, which the erase overwrites.
    void releaseHostRoute(std::vector<HelperState::Route>& records, std::string destination);
    std::vector<std::string> sessionTunnels() const;
    bool isSessionTunnel(const std::string& device) const;
    bool restoreDefaultRoute(const std::optional<std::string>& hint, bool engaged);
    // Why the hint cannot stand for the way out; empty when it can.
    std::string hintProblem(const std::string& hint);
    // The way out saved when the lock was engaged, when it leads out.
    std::optional<DefaultRoute> savedWayOut();
    bool tunnelRunning() const;
    void removeServerRoutes();
    void removeTunnelRoute();
    // Takes away the default routes of real links (all of them when no
    // tunnel runs, whose own may then be stale too), each recorded as it was.
    void dropDefaultRoutes();
    // Oldest first: beyond a handful, the oldest server leaves the table
    // and its host route goes.
    void boundServers();

    // The way out now that no tunnel carries: a default route on a link
    // that is not a tunnel's, else the one saved when the lock was engaged.
    std::optional<DefaultRoute> wayOutOutsideTunnels();

    HelperContext& ctx_;
    std::vector<std::function<bool()>> tunnelChecks_;
    std::vector<std::function<std::vector<std::string>()>> tunnelDevices_;
    std::vector<std::string> tunnels_;  // as the table has them
    std::function<void()> recheck_;
    std::function<void()> promptRecheck_;
    // A release kept the servers' host routes for a tunnel that ran then.
    bool keptForTunnel_ = false;
};

}  // namespace hw::helper
