#include "helper/nft_ruleset.h"

#include "helper/helper_validation.h"

namespace hw::helper {

namespace {

// Only validated addresses get here; anything else is left out rather than
// ever reaching nft's parser.
std::string elements(const std::vector<std::string>& addresses, AddressFamily family) {
    std::string out;
    for (const auto& a : addresses) {
        if (addressFamily(a) != family) continue;
        out += (out.empty() ? "" : ", ") + a;
    }
    return out;
}

std::string set(const char* name, const char* type, const std::string& elems) {
    std::string s = std::string("  set ") + name + " { type " + type + ";";
    if (!elems.empty()) s += " elements = { " + elems + " };";
    return s + " }\n";
}

const char* const kTunnels[] = {"tun*", "tap*", "ppp*"};

}  // namespace

std::string buildReleaseRuleset() {
    return std::string("table inet ") + kLockTable + " {}\ndelete table inet " + kLockTable + "\n";
}

std::string buildLockRuleset(const LockRules& rules) {
    std::string r = buildReleaseRuleset();
    r += std::string("table inet ") + kLockTable + " {\n";
    r += set("servers4", "ipv4_addr", elements(rules.servers, AddressFamily::V4));
    r += set("servers6", "ipv6_addr", elements(rules.servers, AddressFamily::V6));
    r += set("dns4", "ipv4_addr", elements(rules.dnsResolvers, AddressFamily::V4));
    r += set("dns6", "ipv6_addr", elements(rules.dnsResolvers, AddressFamily::V6));
    r += "  counter dropped_out {}\n  counter dropped_in {}\n";

    r += "  chain output {\n    type filter hook output priority filter; policy drop;\n";
    r += "    oifname \"lo\" accept\n";
    for (auto t : kTunnels) r += std::string("    oifname \"") + t + "\" accept\n";
    r += "    rt ipsec exists accept\n";
    r += "    udp sport 68 udp dport 67 accept\n";
    r += "    udp sport 546 udp dport 547 accept\n";
    r += "    icmpv6 type { nd-router-solicit, nd-neighbor-solicit, nd-neighbor-advert } ip6 hoplimit 255 accept\n";
    r += "    ip daddr @servers4 accept\n    ip6 daddr @servers6 accept\n";
    r += "    ip daddr @dns4 meta l4proto { tcp, udp } th dport 53 accept\n";
    r += "    ip6 daddr @dns6 meta l4proto { tcp, udp } th dport 53 accept\n";
    r += "    counter name dropped_out\n  }\n";

    r += "  chain input {\n    type filter hook input priority filter; policy drop;\n";
    r += "    iifname \"lo\" accept\n";
    for (auto t : kTunnels) r += std::string("    iifname \"") + t + "\" accept\n";
    r += "    meta ipsec exists accept\n";
    r += "    udp sport 67 udp dport 68 accept\n";
    r += "    udp sport 547 udp dport 546 accept\n";
    r += "    icmpv6 type { nd-router-advert, nd-neighbor-solicit, nd-neighbor-advert } ip6 hoplimit 255 accept\n";
    r += "    ip saddr @servers4 accept\n    ip6 saddr @servers6 accept\n";
    r += "    ip saddr @dns4 meta l4proto { tcp, udp } th sport 53 accept\n";
    r += "    ip6 saddr @dns6 meta l4proto { tcp, udp } th sport 53 accept\n";
    r += "    counter name dropped_in\n  }\n}\n";
    return r;
}

}  // namespace hw::helper
