#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

// What one line from openvpn's management interface means to the connector.
struct OpenVPNLineEvent {
    enum class Kind {
        Other,
        PasswordRequest,  // answer with the credentials
        Error,            // errorCode holds OpenVPNConstants' code
        State,            // state / stateChange below
        Reconnecting,     // openvpn restarts its tunnel after a ping timeout
        NotReachable,
        Gateway,          // gateway below
    };
    enum class StateChange { None, Connected, Reconnecting, Exiting };

    Kind kind = Kind::Other;
    std::uint32_t errorCode = 0;
    std::optional<std::string> state;  // the state word; none when the line has no second field
    StateChange stateChange = StateChange::None;
    std::string gateway;
};

// Classifies a line (without its line end). Real-time notifications
// (">PASSWORD:", ">STATE:", ">FATAL:") count only as themselves, never when
// openvpn echoes them inside a ">LOG:" line, so each is acted on once.
OpenVPNLineEvent classifyOpenVPNLine(std::string_view line);

// The tunnel's gateway from a log line: the peer of
// "net_addr_ptp_v4_add: A peer B dev tunN", a pushed "route-gateway B", or
// the first address after the local one in "ifconfig utunN A B ... mtu".
// Only an IPv4 address counts.
std::optional<std::string> parseOpenVPNGateway(std::string_view line);

// Why openvpn cannot get to its server, from one of its log lines: the
// server's name did not resolve, or no route leads there; empty otherwise.
// openvpn itself would keep trying (resolv-retry, connect-retry).
std::string openVPNServerOutOfReach(std::string_view line);
inline constexpr const char* kServerNameDoesNotResolve = "the server's name does not resolve";

// The DNS servers a server's PUSH_REPLY line hands the client (its
// "dhcp-option DNS" entries, numeric addresses only, eight at most); none
// when the line is no push reply.
std::vector<std::string> parseOpenVPNPushedDNS(std::string_view line);

// A management-interface argument in double quotes with '\' and '"' escaped,
// as openvpn's own parser reads it; none when the text holds CR, LF or NUL,
// which would end the command early and start another.
std::optional<std::string> quoteManagementArgument(std::string_view text);

// The line as it may be kept: valid UTF-8 (each bad byte becomes '?') and no
// trailing CR. Echoes of the credential commands lose their argument.
std::string sanitizeOpenVPNLine(std::string_view line);

// The line with every copy of the password as "[...]": openvpn never echoes
// it, but a server's message could. Passwords under 3 characters stay, or
// every "a" would go.
std::string withoutPassword(std::string line, const std::string& password);

// Longest line kept; the rest of a longer line is dropped.
inline constexpr std::size_t kOpenVPNMaxLineBytes = 10000;

}  // namespace hw
