#include <cstddef>
#include <cstdint>
#include <string_view>

#include "helper/openvpn/openvpn_command_line.h"
#include "helper/openvpn/openvpn_config_filter.h"

// A user's openvpn configuration as the root helper reads it. What the
// filter writes must pass the filter again unchanged: otherwise our quoting
// and openvpn's reading could part ways.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto first = hw::helper::filterOpenVPNConfig(text);
    if (first.config) {
        auto second = hw::helper::filterOpenVPNConfig(*first.config);
        if (!second.config || *second.config != *first.config) __builtin_trap();
    }
    (void)hw::helper::configPathFromCommand(text);
    return 0;
}
