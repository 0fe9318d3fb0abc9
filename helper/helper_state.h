#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hw::helper {

// What the helper changed on the machine, so that every change can be
// undone exactly, also by a later run (--reset after a crash).
struct HelperState {
    struct Lock {
        // A default route the lock took away, to be put back as it was.
        struct Taken {
            std::string gateway;  // empty: on the link (a modem's PPP link)
            std::string device;
            std::optional<unsigned> metric;
            std::string protocol;
            bool operator==(const Taken&) const = default;
        };
        bool active = false;
        std::string gateway;   // the way out: the best default route's gateway before the lock
        std::string device;    // and its device; with no gateway, the link it leaves on
        std::vector<std::string> dnsResolvers;  // allowed on port 53 under the lock
        std::vector<Taken> taken;  // every default route of the main table it took away
    };
    struct Route {
        std::string destination;
        std::string via;
        std::string device = {};  // without via: the link the route goes out on
        bool operator==(const Route&) const = default;
    };
    struct Dns {
        bool saved = false;
        std::string mode;          // "file" or "resolved"
        bool existed = false;      // file mode: was there a file at all (its bytes are kept beside the state)
        bool wasSymlink = false;
        unsigned fileMode = 0644;
        std::string linkTarget;
        std::string interface;     // resolved mode: the link we configured
    };
    struct Ipv6 {
        // What turning IPv6 off makes the kernel drop: the static addresses
        // and routes of an interface, put back when IPv6 comes back.
        struct Address {
            std::string device;
            std::string address;  // with its prefix length
            bool operator==(const Address&) const = default;
        };
        struct Route {
            std::string device;
            std::string destination;  // "default" or a prefix
            std::string gateway;      // may be empty
            std::string metric;       // may be empty
            std::string protocol;     // may be empty
            bool operator==(const Route&) const = default;
        };
        bool saved = false;
        std::map<std::string, std::string> disableIpv6;  // interface -> original value
        std::vector<Address> addresses;
        std::vector<Route> routes;
    };

    Lock lock;
    std::vector<std::string> servers;  // VPN servers allowed through the lock
    std::vector<Route> routes;         // host routes this helper added to the servers
    // Host routes to the lock's resolvers. One to an address that is also a
    // server's is the same kernel route: both records name its gateway, and
    // it goes when neither needs it.
    std::vector<Route> resolverRoutes;
    // openvpn's own host route to its server: one that forgot its server
    // (a failed lookup) or whose route was moved leaves it behind.
    std::optional<Route> tunnelRoute;
    Dns dns;
    Ipv6 ipv6;
    std::string bootId;  // the boot these records belong to

    // After a reboot the kernel has forgotten the table, the routes and the
    // sysctls: their records are dropped; the DNS backup (a file) stays.
    void forgetKernelStateUnlessBoot(const std::string& currentBootId);

    // The state from the DNS record's file and the kernel records' file; an
    // unreadable text gives the empty part. A DNS record's file written
    // before the two were apart also holds kernel records: those count
    // while there is no records file.
    static HelperState parse(const std::optional<std::string>& dnsText, const std::optional<std::string>& recordsText);
    // The two files' texts.
    std::string dnsText() const;
    std::string recordsText() const;
};

}  // namespace hw::helper
