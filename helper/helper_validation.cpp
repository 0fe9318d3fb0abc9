#include "helper/helper_validation.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace hw::helper {

namespace {

std::string v4Problem(const unsigned char* a) {
    if (a[0] == 0) return "an unspecified address";
    if (a[0] == 255 && a[1] == 255 && a[2] == 255 && a[3] == 255) return "the broadcast address";
    if ((a[0] & 0xf0) == 0xe0) return "a multicast address";
    return {};
}

}  // namespace

std::string hostAddressProblem(std::string_view text) {
    const auto family = addressFamily(text);
    if (!family) return "not an IP address";
    std::array<char, INET6_ADDRSTRLEN> copy{};
    text.copy(copy.data(), text.size());
    unsigned char a[16] = {};
    if (*family == AddressFamily::V4) {
        ::inet_pton(AF_INET, copy.data(), a);
        if (auto problem = v4Problem(a); !problem.empty()) return problem;
        return a[0] == 127 ? "a loopback address" : "";
    }
    ::inet_pton(AF_INET6, copy.data(), a);
    if (std::all_of(a, a + 16, [](unsigned char b) { return b == 0; })) return "an unspecified address";
    if (a[0] == 0xff) return "a multicast address";
    constexpr unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (std::equal(kLoopback, kLoopback + 16, a)) return "a loopback address";
    const bool zeros80 = std::all_of(a, a + 10, [](unsigned char b) { return b == 0; });
    // Mapped (::ffff:a.b.c.d) or compatible (::a.b.c.d): said as what the
    // IPv4 address is where it names no host at all.
    if (zeros80 && ((a[10] == 0xff && a[11] == 0xff) || (a[10] == 0 && a[11] == 0))) {
        if (auto problem = v4Problem(a + 12); !problem.empty()) return problem;
        return "an IPv4 address written as IPv6";
    }
    return {};
}

bool isThisMachinesAddress(const std::string& text) {
    const auto family = addressFamily(text);
    if (!family) return false;
    const int af = *family == AddressFamily::V4 ? AF_INET : AF_INET6;
    unsigned char wanted[16] = {};
    if (::inet_pton(af, text.c_str(), wanted) != 1) return false;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) return false;
    bool own = false;
    for (auto* i = all; i && !own; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != af) continue;
        const void* mine = af == AF_INET
                               ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr)
                               : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr);
        own = std::memcmp(mine, wanted, af == AF_INET ? 4 : 16) == 0;
    }
    ::freeifaddrs(all);
    return own;
}

std::string addressProblem(std::string_view text, const std::function<bool(const std::string&)>& isOwn) {
    if (auto problem = hostAddressProblem(text); !problem.empty()) return problem;
    const std::string address(text);
    if (isOwn ? isOwn(address) : isThisMachinesAddress(address)) return "this machine's own address";
    return {};
}

std::string serverProblem(std::string_view text) {
    if (isIPAddress(text)) return hostAddressProblem(text);
    if (text.empty() || text.size() > 253) return "no host name";
    std::string_view rest = text;
    if (rest.back() == '.') rest.remove_suffix(1);
    std::string_view last;
    for (;;) {
        const auto dot = rest.find('.');
        last = rest.substr(0, dot);
        if (last.empty() || last.size() > 63 || last.front() == '-' || last.back() == '-') return "no host name";
        for (char c : last) {
            const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
            if (!ok) return "no host name";
        }
        if (dot == std::string_view::npos) break;
        rest.remove_prefix(dot + 1);
    }
    // The resolver reads these as addresses without asking anyone: "0x0" is
    // 0.0.0.0, "3232235777" 192.168.1.1.
    std::array<char, 256> copy{};
    text.copy(copy.data(), text.size());
    in_addr numeric{};
    if (::inet_aton(copy.data(), &numeric) != 0) return "a number, not an address in dotted form";
    if (std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "a number, not an address in dotted form";
    return {};
}

bool isInterfaceName(std::string_view text) {
    if (text.empty() || text.size() > 15 || text == "." || text == "..") return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        if (!ok) return false;
    }
    return text.front() != '-';
}

bool isStrictName(std::string_view text, std::size_t maxLength) {
    if (text.empty() || text.size() > maxLength || text.front() == '-') return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::string describeForLog(std::string_view value) {
    std::string out;
    for (char c : value.substr(0, 40)) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && c != '\\') {
            out.push_back(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02x", u);
            out += hex;
        }
    }
    if (value.size() > 40) out += "... (" + std::to_string(value.size()) + " bytes)";
    return "\"" + out + "\"";
}

}  // namespace hw::helper
