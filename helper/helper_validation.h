#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ip_address.h"

namespace hw::helper {

// Every value that reaches a command line or a file passes one of these.
using hw::AddressFamily;
using hw::addressFamily;
using hw::isIPAddress;
using hw::isIPv4Address;
// Why the text is not the address of another host (a resolver, a server, a
// gateway, an endpoint): not an address, or unspecified, broadcast,
// multicast, loopback, or an IPv4 address written as IPv6 (which names the
// same host by another road past every check on IPv4). Empty when it is one.
std::string hostAddressProblem(std::string_view text);
inline bool isHostAddress(std::string_view text) { return hostAddressProblem(text).empty(); }
// Whether the kernel lists the address as one of this machine's own (in the
// network namespace the helper runs in).
bool isThisMachinesAddress(const std::string& text);
// The one check of every address a command takes: what hostAddressProblem
// says, or one of this machine's own, as isOwn tells (the kernel's list when
// none is given). Empty when the address names another host.
std::string addressProblem(std::string_view text, const std::function<bool(const std::string&)>& isOwn = {});
// Why the text cannot be a gateway to route through; the same as for any
// address of another host. Whether it is one of this machine's own is the
// network's to say.
inline std::string gatewayAddressProblem(std::string_view text) { return hostAddressProblem(text); }
// Why the text is not a server the helper may be asked to reach, by address
// or by name: an address that names no host, a number in one of the short
// forms only the resolver reads ("0", "0x0", "1.2.3", "0xffffffff"), or no
// host name (letters, digits and '-' in labels). Empty when it is one. What
// a name resolves to is checked again with hostAddressProblem.
std::string serverProblem(std::string_view text);
// A network interface name as the kernel allows it, minus anything odd.
bool isInterfaceName(std::string_view text);
// A plain name: letters, digits, '.', '_' and '-', not starting with '-'.
bool isStrictName(std::string_view text, std::size_t maxLength = 64);

// For log lines about rejected input: printable, short, never the whole value.
std::string describeForLog(std::string_view value);

}  // namespace hw::helper
