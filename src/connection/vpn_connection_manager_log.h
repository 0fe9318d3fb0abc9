#pragma once
#include <string>
#include <string_view>

#include "core/vpn_types.h"
#include "platform/log.h"

namespace hw::manager_log {

inline constexpr const char* kCategory = "VPNManager";

inline void logLine(std::string_view line) { log::info(kCategory, line); }

inline std::string protocolName(VPNTypes type) {
    switch (type) {
        case VPNTypesOpenVPN: return "OpenVPN";
        case VPNTypesL2TP: return "L2TP";
        case VPNTypesPPTP: return "PPTP";
        case VPNTypesIKEv2_StrongSwan: return "IKEv2";
        default: return "protocol " + std::to_string(static_cast<long long>(type));
    }
}

}  // namespace hw::manager_log
