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

// Interface names go to nft quoted; only valid ones get that far.
std::string names(const std::vector<std::string>& devices) {
    std::string out;
    for (const auto& d : devices) {
        if (!isInterfaceName(d)) continue;
        out += (out.empty() ? "\"" : ", \"") + d + "\"";
    }
    return out;
}

// The two chains mirror each other; only the direction's words differ.
struct Direction {
    const char* hook;
    const char* iface;      // oifname / iifname
    const char* ipsec;      // rt / meta
    const char* dhcp4;      // our port, then theirs
    const char* dhcp6;
    const char* router;     // the neighbour-discovery message this side sends or gets
    const char* counter;
    bool output;
};
constexpr Direction kOutput{"output", "oifname", "rt",  "udp sport 68 udp dport 67",   "udp sport 546 udp dport 547",
                            "nd-router-solicit", "dropped_out", true};
constexpr Direction kInput{"input", "iifname", "meta", "udp sport 67 udp dport 68",    "udp sport 547 udp dport 546",
                           "nd-router-advert",  "dropped_in", false};

// Out to the servers and resolvers: what carries the helper's mark; ESP and
// GRE, which only the kernel sends for root; and the ports of root's L2TP
// and PPTP tools, which the helper starts but cannot mark. Nothing of an
// ordinary user's. What goes out marks its connection: PPTP's answers come
// back in by it.
std::string outputToPeers() {
    const std::string mark = "meta mark " + std::to_string(kLockMark) + " ";
    const std::string ours = " ct mark set " + std::to_string(kLockMark) + " accept\n";
    std::string r;
    for (const char* ip : {"ip", "ip6"}) {
        const std::string v = ip[2] == '6' ? "6" : "4";
        const std::string servers = std::string(ip) + " daddr @servers" + v;
        r += "    " + mark + servers + ours;
        r += "    " + servers + " meta l4proto { esp, gre } accept\n";
        r += "    meta skuid 0 " + servers + " udp dport { 500, 1701, 4500 }" + ours;
        r += "    meta skuid 0 " + servers + " tcp dport 1723" + ours;
        r += "    " + mark + ip + " daddr @dns" + v + " meta l4proto { tcp, udp } th dport 53" + ours;
    }
    return r;
}

// In from the servers and resolvers: only to a socket that carries the mark
// now. A connection's mark outlives its socket, and a user's socket bound to
// the same port later would get what comes. ESP and GRE reach no user's
// socket; PPTP's control connection is root's and unmarked.
std::string inputFromPeers() {
    const std::string mark = std::to_string(kLockMark);
    std::string r;
    for (const char* ip : {"ip", "ip6"}) {
        const std::string v = ip[2] == '6' ? "6" : "4";
        const std::string servers = std::string(ip) + " saddr @servers" + v;
        r += "    " + servers + " socket mark " + mark + " accept\n";
        r += "    " + servers + " meta l4proto { esp, gre } accept\n";
        r += "    " + servers + " tcp sport 1723 ct mark " + mark + " accept\n";
        r += "    " + std::string(ip) + " saddr @dns" + v + " meta l4proto { tcp, udp } th sport 53 socket mark " + mark +
             " accept\n";
    }
    return r;
}

std::string chain(const Direction& d) {
    std::string r = std::string("  chain ") + d.hook + " {\n    type filter hook " + d.hook +
                    " priority filter; policy drop;\n";
    r += std::string("    ") + d.iface + " \"lo\" accept\n";
    r += std::string("    ") + d.iface + " @tunnels accept\n";
    r += std::string("    ") + d.ipsec + " ipsec exists accept\n";
    r += std::string("    ") + d.dhcp4 + " accept\n";
    r += std::string("    ") + d.dhcp6 + " accept\n";
    r += std::string("    icmpv6 type { ") + d.router + ", nd-neighbor-solicit, nd-neighbor-advert } ip6 hoplimit 255 accept\n";
    r += d.output ? outputToPeers() : inputFromPeers();
    r += std::string("    counter name ") + d.counter + "\n  }\n";
    return r;
}

}  // namespace

std::string buildAllowServerRuleset(const std::string& server) {
    const auto family = addressFamily(server);
    if (family != AddressFamily::V4 && family != AddressFamily::V6) return "";
    return std::string("add element inet ") + kLockTable + (family == AddressFamily::V4 ? " servers4" : " servers6") +
           " { " + server + " }\n";
}

std::string buildTunnelsRuleset(const std::vector<std::string>& tunnels) {
    std::string r = std::string("flush set inet ") + kLockTable + " tunnels\n";
    if (const std::string elems = names(tunnels); !elems.empty())
        r += std::string("add element inet ") + kLockTable + " tunnels { " + elems + " }\n";
    return r;
}

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
    r += set("tunnels", "ifname", names(rules.tunnels));
    r += "  counter dropped_out {}\n  counter dropped_in {}\n";

    r += chain(kOutput);
    r += chain(kInput);
    r += "}\n";
    return r;
}

}  // namespace hw::helper
