#pragma once
#include <optional>
#include <string_view>

namespace hw {

enum class AddressFamily { V4, V6 };

// A literal address as inet_pton reads it, the whole text: no names, no
// prefixes, no scope, no leading zeros, nothing after it (an embedded NUL
// included, so a C string cut short never passes for the whole value).
std::optional<AddressFamily> addressFamily(std::string_view text);
bool isIPAddress(std::string_view text);
bool isIPv4Address(std::string_view text);

}  // namespace hw
