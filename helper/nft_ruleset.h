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

// What the lock lets through besides loopback, DHCP, tunnel devices and
// IPsec (kernel policies, or user-space ESP's device). Out of the machine,
// only marked packets and root's tunnel tools reach these.
struct LockRules {
    std::vector<std::string> servers;       // validated addresses, either family
    std::vector<std::string> dnsResolvers;  // validated addresses, port 53 only
};

// One nft transaction that replaces our table (and only it) with the lock.
std::string buildLockRuleset(const LockRules& rules);
// Lets one more (validated) server through a lock already in place: an
// element added to its set, not a new table.
std::string buildAllowServerRuleset(const std::string& server);
// One nft transaction that removes our table whether or not it exists.
std::string buildReleaseRuleset();

}  // namespace hw::helper
