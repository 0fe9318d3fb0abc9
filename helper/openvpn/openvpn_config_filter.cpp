#include "helper/openvpn/openvpn_config_filter.h"

#include <set>
#include <vector>

namespace hw::helper {

namespace {

// Directives that take nothing from the file system and start nothing.
const std::set<std::string, std::less<>>& allowedDirectives() {
    static const std::set<std::string, std::less<>> names{
        "client", "pull", "tls-client", "dev", "dev-type", "proto", "remote", "remote-random",
        "remote-random-hostname", "port", "rport", "nobind", "float", "resolv-retry",
        "connect-retry", "connect-retry-max", "connect-timeout", "server-poll-timeout", "persist-key", "persist-tun",
        "persist-remote-ip", "persist-local-ip", "explicit-exit-notify", "cipher", "data-ciphers",
        "data-ciphers-fallback", "ncp-ciphers", "ncp-disable", "auth", "tls-version-min", "tls-version-max",
        "tls-cipher", "tls-ciphersuites", "tls-groups", "tls-cert-profile", "remote-cert-tls", "remote-cert-ku",
        "remote-cert-eku", "verify-x509-name", "ns-cert-type", "key-direction", "comp-lzo", "compress",
        "allow-compression", "verb", "mute", "mute-replay-warnings", "reneg-sec", "reneg-bytes", "reneg-pkts",
        "hand-window", "tran-window", "tls-timeout", "ping", "ping-restart", "ping-exit", "ping-timer-rem",
        "keepalive", "inactive", "auth-user-pass", "auth-nocache", "auth-retry", "static-challenge", "pull-filter",
        "route-nopull", "redirect-gateway", "redirect-private", "route", "route-ipv6", "route-metric", "route-delay",
        "route-gateway", "block-ipv6", "tun-mtu", "tun-mtu-extra", "link-mtu", "mssfix", "fragment", "mtu-disc",
        "sndbuf", "rcvbuf", "fast-io", "txqueuelen", "topology", "replay-window",
        "disable-dco", "dhcp-option", "block-outside-dns", "register-dns", "ip-win32", "route-method",
        "tun-ipv6", "http-proxy", "http-proxy-option", "http-proxy-retry",
        "remap-usr1", "single-session", "tls-exit", "peer-fingerprint", "push-peer-info", "key-method",
    };
    return names;
}

// What would have root's openvpn listen for peers or serve them: it runs
// only as a TLS client of the remote server.
const std::set<std::string, std::less<>>& listeningDirectives() {
    static const std::set<std::string, std::less<>> names{
        "lport", "local", "bind", "ifconfig", "ifconfig-ipv6", "mode", "server", "server-ipv6", "server-bridge",
        "tls-server", "client-to-client", "duplicate-cn", "ifconfig-pool", "ifconfig-ipv6-pool", "push",
        "port-share", "ccd-exclusive", "client-config-dir", "max-clients",
    };
    return names;
}

bool isClientProto(std::string_view p) {
    for (std::string_view ok : {"udp", "udp4", "udp6", "tcp", "tcp4", "tcp6", "tcp-client", "tcp4-client", "tcp6-client"})
        if (p == ok) return true;
    return false;
}

// Blocks of key material, by what their lines may hold.
enum class Material { Pem, StaticKey, Fingerprints };

std::optional<Material> inlineBlock(std::string_view name) {
    for (std::string_view pem : {"ca", "cert", "key", "extra-certs", "crl-verify", "tls-crypt-v2"})
        if (name == pem) return Material::Pem;
    if (name == "tls-auth" || name == "tls-crypt") return Material::StaticKey;
    if (name == "peer-fingerprint") return Material::Fingerprints;
    return std::nullopt;
}

bool allOf(std::string_view s, std::string_view alphabet) {
    return !s.empty() && s.find_first_not_of(alphabet) == std::string_view::npos;
}

constexpr std::string_view kHex = "0123456789abcdefABCDEF";
constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// "-----BEGIN CERTIFICATE-----", "-----END OpenVPN Static key V1-----".
bool armour(std::string_view line) {
    constexpr std::string_view dashes = "-----";
    if (line.size() < 2 * dashes.size() || line.substr(0, 5) != dashes || line.substr(line.size() - 5) != dashes)
        return false;
    line = line.substr(5, line.size() - 10);
    if (line.rfind("BEGIN ", 0) == 0)
        line.remove_prefix(6);
    else if (line.rfind("END ", 0) == 0)
        line.remove_prefix(4);
    else
        return false;
    return allOf(line, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -") && line.front() != '-' &&
           line.back() != '-';
}

// A legacy encrypted key's headers, whose pass phrase openvpn asks for.
bool pemHeader(std::string_view line) {
    if (line == "Proc-Type: 4,ENCRYPTED") return true;
    if (line.rfind("DEK-Info: ", 0) != 0) return false;
    line.remove_prefix(10);
    auto comma = line.find(',');
    return comma != std::string_view::npos &&
           allOf(line.substr(0, comma), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-") && allOf(line.substr(comma + 1), kHex);
}

// "AB:CD:...": one digest's pairs of hex digits.
bool fingerprint(std::string_view line) {
    if (line.size() % 3 != 2) return false;
    for (std::size_t i = 0; i < line.size(); ++i)
        if (i % 3 == 2 ? line[i] != ':' : kHex.find(line[i]) == std::string_view::npos) return false;
    return true;
}

// Whether a trimmed line of the block is key material; comments (which
// generated static keys carry) are left out of what openvpn gets.
enum class Content { Keep, Drop, Refuse };
Content material(Material kind, std::string_view line) {
    if (line.empty() || armour(line)) return Content::Keep;
    switch (kind) {
        case Material::Pem:
            return allOf(line, kBase64) || pemHeader(line) ? Content::Keep : Content::Refuse;
        case Material::StaticKey:
            if (line.front() == '#') return Content::Drop;
            return allOf(line, kHex) ? Content::Keep : Content::Refuse;
        case Material::Fingerprints:
            if (line.front() == '#') return Content::Drop;
            return fingerprint(line) ? Content::Keep : Content::Refuse;
    }
    return Content::Refuse;
}

bool plainToken(const std::string& t) {
    if (t.empty()) return false;
    if (t[0] == '<') return false;
    for (char c : t)
        if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\' || c == '#' || c == ';') return false;
    return true;
}

std::string quoted(const std::string& t) {
    if (plainToken(t)) return t;
    std::string out = "\"";
    for (char c : t) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Splits a line as openvpn does: blanks separate, "..." with backslash
// escapes, '...' literal, '#' or ';' at a word's start begins a comment.
// Anything we are not sure openvpn reads the same way is refused.
std::optional<std::vector<std::string>> tokenize(std::string_view line) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] == '#' || line[i] == ';') return tokens;
        std::string token;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (i >= line.size()) return std::nullopt;
                    c = line[i++];
                }
                token += c;
            }
            if (!closed) return std::nullopt;
        } else if (line[i] == '\'') {
            auto end = line.find('\'', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            token = std::string(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
                if (line[i] == '\\' || line[i] == '"' || line[i] == '\'') return std::nullopt;
                token += line[i++];
            }
        }
        if (i < line.size() && line[i] != ' ' && line[i] != '\t') return std::nullopt;  // "a"b
        tokens.push_back(std::move(token));
    }
}

// What openvpn would read otherwise than we do: it reads 255 bytes of a line
// at most with its newline, stops at NUL, and takes CR and other controls
// for blanks.
std::optional<std::string> lineProblem(std::string_view raw) {
    if (raw.size() > kOpenVPNMaxLineBytes)
        return "longer than " + std::to_string(kOpenVPNMaxLineBytes) + " bytes, which openvpn would cut";
    if (raw.find('\0') != std::string_view::npos) return std::string("a NUL byte");
    auto cr = raw.find('\r');
    if (cr != std::string_view::npos && cr + 1 != raw.size()) return std::string("a carriage return inside the line");
    for (unsigned char c : raw.substr(0, cr))
        if ((c < 0x20 && c != '\t') || c == 0x7F) return std::string("control characters");
    return std::nullopt;
}

bool isDevName(const std::string& v) {
    if (v.rfind("tun", 0) != 0 && v.rfind("tap", 0) != 0) return false;
    if (v.size() > 15) return false;
    for (std::size_t i = 3; i < v.size(); ++i)
        if (v[i] < '0' || v[i] > '9') return false;
    return true;
}

// The arguments some allowed directives may not have.
std::optional<std::string> argumentProblem(const std::vector<std::string>& t) {
    const std::string& d = t[0];
    const std::size_t args = t.size() - 1;
    if (d == "auth-user-pass" && args > 0) return "a credentials file";
    if (d == "http-proxy" && args > 2) return "a proxy credentials file";
    if (d == "dev" && (args != 1 || !isDevName(t[1]))) return "an unexpected device";
    if (d == "peer-fingerprint" && args != 1) return "no fingerprint";
    if (d == "proto" && (args != 1 || !isClientProto(t[1]))) return "other than a client's udp or tcp";
    if (d == "remote" && args == 0) return "no host";
    if (d == "remote" && args >= 3 && !isClientProto(t[3])) return "other than a client's udp or tcp";
    return std::nullopt;
}

struct Filter {
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    std::string out;
    std::string refusal;
    std::set<std::string, std::less<>> seen;

    bool refuse(std::string why) {
        refusal = "line " + std::to_string(at) + ": " + why;
        return false;
    }

    bool block(const std::string& name, std::optional<Material> kind) {
        const std::string close = "</" + name + ">";
        out += "<" + name + ">\n";
        while (at < lines.size()) {
            std::string_view raw = lines[at++];
            std::string_view line = raw;
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
            if (line == close) {
                out += close + "\n";
                return true;
            }
            if (!kind) {
                if (!directiveLine(raw, false)) return false;
                continue;
            }
            switch (material(*kind, line)) {
                case Content::Keep: out += std::string(line) + "\n"; break;
                case Content::Drop: break;
                case Content::Refuse: return refuse("<" + name + "> holds something other than key material");
            }
        }
        return refuse("<" + name + "> is not closed");
    }

    bool directiveLine(std::string_view raw, bool topLevel) {
        auto tokens = tokenize(raw);
        if (!tokens) return refuse("quoting openvpn might read differently");
        if (tokens->empty()) return true;
        // No client line needs more; openvpn keeps 16 words of a line.
        if (tokens->size() > 16) return refuse("more than 16 words");
        std::string& d = (*tokens)[0];
        if (d.size() > 1 && d.front() == '<' && d.back() == '>' && tokens->size() == 1) {
            std::string name = d.substr(1, d.size() - 2);
            if (!topLevel) return refuse("a block inside <connection>");
            if (name == "connection") return block(name, std::nullopt);
            if (auto kind = inlineBlock(name)) return block(name, kind);
            return refuse("block <" + name.substr(0, 40) + "> is not allowed");
        }
        if (d.rfind("--", 0) == 0) d.erase(0, 2);
        if (listeningDirectives().count(d))
            return refuse("'" + d + "' would have openvpn listen or serve; it runs only as a client");
        if (!allowedDirectives().count(d)) return refuse("directive '" + d.substr(0, 40) + "' is not allowed");
        if (auto problem = argumentProblem(*tokens)) return refuse("'" + d + "' with " + *problem);
        seen.insert(d);
        std::string line;
        for (const auto& t : *tokens) {
            if (!line.empty()) line += ' ';
            line += quoted(t);
        }
        if (line.size() > kOpenVPNMaxLineBytes) return refuse("too long once quoted for openvpn");
        out += line + "\n";
        return true;
    }
};

}  // namespace

OpenVPNConfigCheck filterOpenVPNConfig(std::string_view text) {
    OpenVPNConfigCheck result;
    if (text.size() > kOpenVPNConfigMaxBytes) {
        result.refusal = "larger than 1 MiB";
        return result;
    }
    Filter f;
    // openvpn skips a byte order mark; it still counts in the first line's length.
    const std::string_view bom = "\xEF\xBB\xBF";
    std::size_t start = 0;
    while (start <= text.size()) {
        auto nl = text.find('\n', start);
        std::string_view line = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (auto problem = lineProblem(line)) {
            result.refusal = "line " + std::to_string(f.lines.size() + 1) + ": " + *problem;
            return result;
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (start == 0 && line.substr(0, bom.size()) == bom) line.remove_prefix(bom.size());
        f.lines.push_back(line);
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    while (f.at < f.lines.size()) {
        if (!f.directiveLine(f.lines[f.at++], true)) {
            result.refusal = f.refusal;
            return result;
        }
    }
    // Without client mode openvpn waits for a peer to come to it.
    const bool client = f.seen.count("client") || (f.seen.count("tls-client") && f.seen.count("pull"));
    if (!client) {
        result.refusal = "no 'client' (or 'tls-client' with 'pull'): openvpn runs only as a client";
        return result;
    }
    if (!f.seen.count("remote")) {
        result.refusal = "no 'remote': openvpn runs only as a client of a remote server";
        return result;
    }
    // A client needs no fixed port; without this root's openvpn would hold
    // 1194 on every address, and a reconnect could find it still taken.
    if (!f.seen.count("nobind")) f.out += "nobind\n";
    result.config = std::move(f.out);
    return result;
}

}  // namespace hw::helper
