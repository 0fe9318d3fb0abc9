#pragma once
#include <string>
#include <vector>

namespace hw::helper {

inline constexpr const char* kLockTable = "havenway";  // family inet

// The socket mark of the helper's own lookups and of the tunnel software it
// runs (openvpn's --mark, charon's sockets and its SAs' outer packets). Under
// the lock only marked packets reach the resolvers and the servers; no
// ordinary user can set a mark.
inline constexpr unsigned kLockMark = 0x4857;

// What the lock lets through besides loopback, DHCP, the session's tunnel
// devices and IPsec (kernel policies). Out of the machine, only marked
// packets and root's tunnel tools reach these; in, only what a socket that
// carries the mark now receives (and PPTP's control connection, whose tool
// cannot mark its socket).
struct LockRules {
    std::vector<std::string> servers;       // validated addresses, either family
    std::vector<std::string> dnsResolvers;  // validated addresses, port 53 only
    std::vector<std::string> tunnels;       // the devices of the tunnels the helper made
};

// One nft transaction that replaces our table (and only it) with the lock.
std::string buildLockRuleset(const LockRules& rules);
// Lets one more (validated) server through a lock already in place: an
// element added to its set, not a new table.
std::string buildAllowServerRuleset(const std::string& server);
// Makes the lock's tunnel devices exactly these (a lock already in place).
std::string buildTunnelsRuleset(const std::vector<std::string>& tunnels);
// One nft transaction that removes our table whether or not it exists.
std::string buildReleaseRuleset();

}  // namespace hw::helper
