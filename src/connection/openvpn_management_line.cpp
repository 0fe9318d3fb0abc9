#include "connection/openvpn_management_line.h"

#include "platform/ip_address.h"

namespace hw {

namespace {

bool has(std::string_view line, std::string_view text) { return line.find(text) != std::string_view::npos; }

// The word that starts at pos (up to a blank, comma, quote or the end).
std::string_view wordAt(std::string_view line, std::size_t pos) {
    if (pos >= line.size()) return {};
    auto end = line.find_first_of(" \t,'\"", pos);
    return line.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
}

// "ifconfig utunN A B ...": B, the word after the local address.
std::optional<std::string> utunGateway(std::string_view line) {
    auto at = line.find("ifconfig utun");
    while (at != std::string_view::npos) {
        std::size_t pos = at + 13;
        std::size_t unit = pos;
        while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') ++pos;
        if (pos > unit && pos < line.size() && line[pos] == ' ' && has(line.substr(pos), " mtu")) {
            auto local = wordAt(line, pos + 1);
            if (isIPv4Address(local)) {
                auto peer = wordAt(line, pos + 1 + local.size() + 1);
                if (isIPv4Address(peer)) return std::string(peer);
            }
        }
        at = line.find("ifconfig utun", at + 1);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> parseOpenVPNGateway(std::string_view line) {
    // Linux, point-to-point (net30 / p2p): the peer is the gateway.
    if (auto at = line.find("net_addr_ptp_v4_add: "); at != std::string_view::npos) {
        auto rest = line.substr(at + 21);
        auto peer = rest.find(" peer ");
        if (peer != std::string_view::npos) {
            auto gw = wordAt(rest, peer + 6);
            if (isIPv4Address(gw)) return std::string(gw);
        }
    }
    // Linux, subnet topology: the server pushes its gateway.
    if (has(line, "PUSH_REPLY")) {
        for (auto at = line.find("route-gateway "); at != std::string_view::npos;
             at = line.find("route-gateway ", at + 1)) {
            if (at > 0 && line[at - 1] != ',' && line[at - 1] != '\'') continue;
            auto gw = wordAt(line, at + 14);
            if (isIPv4Address(gw)) return std::string(gw);
        }
    }
    if (has(line, "ifconfig utun")) return utunGateway(line);
    return std::nullopt;
}

OpenVPNLineEvent classifyOpenVPNLine(std::string_view line) {
    using Kind = OpenVPNLineEvent::Kind;
    OpenVPNLineEvent e;
    const bool logLine = line.starts_with(">LOG:");
    auto error = [&e](std::uint32_t code) {
        e.kind = Kind::Error;
        e.errorCode = code;
        return e;
    };

    if (!logLine) {
        if (has(line, "PASSWORD:Need 'Auth' username/password")) {
            e.kind = Kind::PasswordRequest;
            return e;
        }
        if (has(line, "PASSWORD:Verification Failed: 'Auth'") || has(line, "FATAL:Error: private key password"))
            return error(0);
        if (has(line, "AUTH_FAILED")) return error(0);
        if (has(line, "FATAL:") &&
            (has(line, "Cannot allocate TUN/TAP dev dynamically") || has(line, "Cannot open TUN/TAP dev")))
            return error(2);
        if (has(line, "FATAL:Cannot load CA certificate")) return error(3);
        if (line.starts_with(">STATE:")) {
            e.kind = Kind::State;
            auto comma = line.find(',');
            if (comma != std::string_view::npos) {
                auto next = line.find(',', comma + 1);
                e.state = std::string(line.substr(comma + 1, next == std::string_view::npos ? next : next - comma - 1));
            }
            if (has(line, "CONNECTED,SUCCESS")) e.stateChange = OpenVPNLineEvent::StateChange::Connected;
            else if (has(line, ",RECONNECTING")) e.stateChange = OpenVPNLineEvent::StateChange::Reconnecting;
            else if (has(line, ",EXITING")) e.stateChange = OpenVPNLineEvent::StateChange::Exiting;
            return e;
        }
    }
    if (has(line, "Inactivity timeout (--ping-restart)")) {
        e.kind = Kind::Reconnecting;
        return e;
    }
    // EADDRNOTAVAIL: errno 49 where the message was first seen, 99 on Linux.
    if (has(line, "Can't assign requested address (code=49)") || has(line, "Cannot assign requested address")) {
        e.kind = Kind::NotReachable;
        return e;
    }
    if (!logLine && has(line, "FATAL")) return error(4);
    if (auto gw = parseOpenVPNGateway(line)) {
        e.kind = Kind::Gateway;
        e.gateway = std::move(*gw);
    }
    return e;
}

std::string openVPNServerOutOfReach(std::string_view line) {
    if (!line.starts_with(">LOG:")) return {};
    if (has(line, "Cannot resolve host address")) return kServerNameDoesNotResolve;
    // An IPv6 try fails so where IPv6 is off; openvpn goes on over IPv4.
    if (has(line, "UDPv6") || has(line, "TCPv6") || has(line, "AF_INET6")) return {};
    if (has(line, "Network is unreachable") || has(line, "No route to host")) return "no route leads to the server";
    return {};
}

std::optional<std::string> quoteManagementArgument(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\0') return std::nullopt;
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

namespace {

std::string validUtf8(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t n = line.size();
    for (std::size_t i = 0; i < n;) {
        unsigned char c = p[i];
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) ok = (p[i + k] & 0xC0) == 0x80;
        if (ok && len == 2) ok = c >= 0xC2;
        if (ok && len == 3) {
            unsigned cp = ((c & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
            ok = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (ok && len == 4) {
            unsigned cp = ((c & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6) | (p[i + 3] & 0x3Fu);
            ok = cp >= 0x10000 && cp <= 0x10FFFF;
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        if (len == 1 && c != '\t' && (c < 0x20 || c == 0x7F)) out += '?';
        else out.append(line.substr(i, len));
        i += len;
    }
    return out;
}

}  // namespace

std::string sanitizeOpenVPNLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    for (std::string_view cmd : {"MANAGEMENT: CMD 'username", "MANAGEMENT: CMD 'password"}) {
        if (auto at = line.find(cmd); at != std::string_view::npos)
            return validUtf8(line.substr(0, at + cmd.size())) + " [...]'";
    }
    return validUtf8(line);
}

std::vector<std::string> parseOpenVPNPushedDNS(std::string_view line) {
    std::vector<std::string> servers;
    const auto at = line.find("PUSH_REPLY,");
    if (at == std::string_view::npos) return servers;
    std::string_view options = line.substr(at + 11);
    options = options.substr(0, options.find('\''));
    constexpr std::string_view kDNS = "dhcp-option DNS ";
    while (!options.empty() && servers.size() < 8) {
        const auto comma = options.find(',');
        const std::string_view option = options.substr(0, comma);
        if (option.substr(0, kDNS.size()) == kDNS) {
            const std::string address(option.substr(kDNS.size()));
            if (isIPAddress(address)) servers.push_back(address);
        }
        if (comma == std::string_view::npos) break;
        options.remove_prefix(comma + 1);
    }
    return servers;
}

std::string withoutPassword(std::string line, const std::string& password) {
    if (password.size() < 3) return line;
    for (auto at = line.find(password); at != std::string::npos; at = line.find(password, at + 5))
        line.replace(at, password.size(), "[...]");
    return line;
}

}  // namespace hw
