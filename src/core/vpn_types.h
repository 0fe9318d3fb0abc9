#pragma once
#include <cstdint>
#include <optional>

namespace hw {

// The protocol type shared by the connectors, the providers and the state
// object. The values are stored and sent as numbers: never renumber them.
enum VPNTypes : std::int64_t {
    VPNTypesAutomatic = 0,
    VPNTypesOpenVPN = 1,
    VPNTypesL2TP = 2,
    VPNTypesPPTP = 3,
    VPNTypesIKEv2 = 4,
    VPNTypesIKEv2_StrongSwan = 5,
};

// The type for a stored or received number; nothing for any other value.
constexpr std::optional<VPNTypes> vpnTypeFromValue(std::int64_t value) {
    if (value < VPNTypesAutomatic || value > VPNTypesIKEv2_StrongSwan) return std::nullopt;
    return static_cast<VPNTypes>(value);
}

// What a provider reports through its status callback.
struct VPNStatusCodes {
    VPNStatusCodes() = delete;
    static constexpr std::int32_t invalid = -1;
    static constexpr std::int32_t disconnected = 0;
    static constexpr std::int32_t connecting = 1;
    static constexpr std::int32_t connected = 2;
    static constexpr std::int32_t disconnecting = 3;
    static constexpr std::int32_t notReachable = 9;
};

// The connection state as the user interface shows it.
enum class ConnectionStates { connecting = 0, connected = 1, disconnected = 2 };

enum class VPNTypes_Swift { l2TP = 0, pptp = 1, openVPN = 2 };

}  // namespace hw
