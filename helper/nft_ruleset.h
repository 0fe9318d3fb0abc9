#pragma once
#include <string>
#include <vector>

namespace hw::helper {

inline constexpr const char* kLockTable = "havenway";  // family inet

// What the lock lets through besides loopback, DHCP, tunnel devices and
// IPsec (kernel policies, or user-space ESP's device).
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
