#pragma once
#include <array>
#include <optional>
#include <string_view>

namespace hw {

// The selectable protocols; their raw values are what the settings store
// holds under "vpnProtocols". Every raw value starts with a blank and
// IKEv2_StrongSwan differs from IKEv2 only by a trailing blank: the texts are
// stored and compared exactly, never trimmed.
enum class VPNProtocols { Automatic, OpenVPN, L2TP, PPTP, IKEv2, IKEv2_StrongSwan };

inline constexpr std::array<VPNProtocols, 6> allVPNProtocols = {
    VPNProtocols::Automatic, VPNProtocols::OpenVPN, VPNProtocols::L2TP,
    VPNProtocols::PPTP,      VPNProtocols::IKEv2,   VPNProtocols::IKEv2_StrongSwan,
};

constexpr std::string_view rawValue(VPNProtocols protocol) {
    switch (protocol) {
        case VPNProtocols::Automatic: return " Automatic";
        case VPNProtocols::OpenVPN: return " OpenVPN";
        case VPNProtocols::L2TP: return " L2TP over IPSec";
        case VPNProtocols::PPTP: return " PPTP";
        case VPNProtocols::IKEv2: return " IKEv2";
        case VPNProtocols::IKEv2_StrongSwan: return " IKEv2 ";
    }
    return {};
}

// Exactly one of the six texts, case-sensitive; anything else is nothing.
constexpr std::optional<VPNProtocols> vpnProtocolFromRawValue(std::string_view text) {
    for (VPNProtocols p : allVPNProtocols) {
        if (rawValue(p) == text) return p;
    }
    return std::nullopt;
}

}  // namespace hw
