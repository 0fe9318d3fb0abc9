#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "connection/openvpn_management_line.h"

// Lines from openvpn's management port, as the connector's reader takes them.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        auto end = input.find('\n');
        auto raw = input.substr(0, std::min(end, hw::kOpenVPNMaxLineBytes));
        auto line = hw::sanitizeOpenVPNLine(raw);
        auto event = hw::classifyOpenVPNLine(line);
        if (event.kind == hw::OpenVPNLineEvent::Kind::Gateway && event.gateway.empty()) __builtin_trap();
        (void)hw::parseOpenVPNGateway(raw);
        (void)hw::openVPNServerOutOfReach(line);
        (void)hw::quoteManagementArgument(raw);
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }
    return 0;
}
