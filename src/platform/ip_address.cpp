#include "platform/ip_address.h"

#include <arpa/inet.h>

#include <array>

namespace hw {

std::optional<AddressFamily> addressFamily(std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN || text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    std::array<char, INET6_ADDRSTRLEN> copy{};
    text.copy(copy.data(), text.size());
    unsigned char buffer[sizeof(in6_addr)];
    if (::inet_pton(AF_INET, copy.data(), buffer) == 1) return AddressFamily::V4;
    if (::inet_pton(AF_INET6, copy.data(), buffer) == 1) return AddressFamily::V6;
    return std::nullopt;
}

bool isIPAddress(std::string_view text) { return addressFamily(text).has_value(); }

bool isIPv4Address(std::string_view text) { return addressFamily(text) == AddressFamily::V4; }

}  // namespace hw
