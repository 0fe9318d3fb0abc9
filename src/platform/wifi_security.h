#pragma once
#include <cstdint>

#include "platform/wifi.h"

namespace hw {

// NetworkManager's access-point flags: the general flags (privacy bit) and
// the WPA and RSN security flags (ciphers and key management).
namespace nm_ap {
constexpr std::uint32_t kPrivacy = 0x1;
constexpr std::uint32_t kKeyMgmtPsk = 0x100;
constexpr std::uint32_t kKeyMgmt8021x = 0x200;
constexpr std::uint32_t kKeyMgmtSae = 0x400;
constexpr std::uint32_t kKeyMgmtOwe = 0x800;
constexpr std::uint32_t kKeyMgmtOweTransition = 0x1000;
constexpr std::uint32_t kKeyMgmtSuiteB192 = 0x2000;
}  // namespace nm_ap

// How an access point with these flags protects its traffic. An open
// access point that merely advertises an OWE partner is still open.
WiFiSecurity securityFromAccessPointFlags(std::uint32_t flags, std::uint32_t wpaFlags, std::uint32_t rsnFlags);

// "aa:bb:cc:dd:ee:ff" in the form the rest of the system compares:
// upper case; anything that is not six hex pairs is returned as it came.
std::string normalizedBSSID(const std::string& text);

}  // namespace hw
