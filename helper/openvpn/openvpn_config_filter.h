#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace hw::helper {

// The configuration openvpn gets from us, rebuilt from the user's file: only
// directives that neither run programs, read or write files nor mark root's
// socket pass (keys and certificates inline only, as key material alone), and
// only for a TLS client of a remote server: nothing that listens or serves.
// Each line is re-emitted with our own quoting, so openvpn reads exactly the
// words we checked, and any line openvpn would cut or read otherwise refuses
// the file.
struct OpenVPNConfigCheck {
    std::optional<std::string> config;  // the rebuilt file; none when refused
    std::string refusal;                // why, for the log (no secrets: directive and line number)
};

OpenVPNConfigCheck filterOpenVPNConfig(std::string_view text);

inline constexpr std::size_t kOpenVPNConfigMaxBytes = 1024 * 1024;
// Before the newline (a CR counts): openvpn reads 255 bytes at most with it,
// refusing a longer line at the top level and splitting one inside a block.
inline constexpr std::size_t kOpenVPNMaxLineBytes = 254;

}  // namespace hw::helper
