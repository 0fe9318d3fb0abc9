#include "platform/wifi_security.h"

#include <cctype>

namespace hw {

WiFiSecurity securityFromAccessPointFlags(std::uint32_t flags, std::uint32_t wpaFlags, std::uint32_t rsnFlags) {
    using namespace nm_ap;
    const auto security = wpaFlags | rsnFlags;
    if (security & (kKeyMgmt8021x | kKeyMgmtSuiteB192)) return WiFiSecurity::Enterprise;
    if (security & (kKeyMgmtPsk | kKeyMgmtSae)) return WiFiSecurity::Personal;
    if (security & kKeyMgmtOwe) return WiFiSecurity::EnhancedOpen;
    if ((security & ~kKeyMgmtOweTransition) == 0) {
        return (flags & kPrivacy) && security == 0 ? WiFiSecurity::WEP : WiFiSecurity::None;
    }
    return WiFiSecurity::Unknown;
}

std::string normalizedBSSID(const std::string& text) {
    if (text.size() != 17) return text;
    std::string out = text;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i % 3 == 2) {
            if (out[i] != ':') return text;
        } else {
            if (!std::isxdigit(static_cast<unsigned char>(out[i]))) return text;
            out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
        }
    }
    return out;
}

}  // namespace hw
