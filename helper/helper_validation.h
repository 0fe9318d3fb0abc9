#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace hw::helper {

// Every value that reaches a command line or a file passes one of these.
enum class AddressFamily { V4, V6 };

// A literal address as inet_pton reads it (no names, no prefixes, no scope).
std::optional<AddressFamily> addressFamily(std::string_view text);
bool isIPv4Address(std::string_view text);
bool isIPAddress(std::string_view text);
// A network interface name as the kernel allows it, minus anything odd.
bool isInterfaceName(std::string_view text);
// A plain name: letters, digits, '.', '_' and '-', not starting with '-'.
bool isStrictName(std::string_view text, std::size_t maxLength = 64);

// For log lines about rejected input: printable, short, never the whole value.
std::string describeForLog(std::string_view value);

}  // namespace hw::helper
