#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace hw {

// Where the openvpn pieces live and what the helper is asked to run. The
// helper takes only the configuration path from the command line; the rest
// stays for the record and for older helpers.
struct OpenVPNConstants {
    OpenVPNConstants() = delete;

    static constexpr std::uint16_t managementPort = 9544;

    // dataDir()/config_current.ovpn; the folder is created 0700 on first use
    // and also becomes GlobalConstants' log folder. Computed once.
    static const std::string& configFilePath();
    static std::string quotedConfigFilePath();

    static std::string openvpnPath();
    static std::string upScriptPath();
    static std::string downScriptPath();
    static std::string tunKextPath();
    static std::string tapKextPath();

    // The command line for "openvpncmd"; printed each time it is built.
    static std::string openvpnCommand();
    // "openvpncmd", "path_tun", "path_tap".
    static std::map<std::string, std::string> connectionParameters();

    static const std::vector<std::string>& errorTexts();
    static constexpr const char* generalErrorWithCodeText = "General connection error, code:";
    // The text for an error code, "General connection error, code: N" beyond the table.
    static std::string errorText(std::uint32_t code);
    // An answer no other try can change (the account, the certificate, a missing device).
    static bool isRefusalText(const std::string& text);

    // Wraps a path in single quotes so that a shell (or the helper's reader
    // of the line) takes it as one word, quotes inside it included.
    static std::string shellQuoted(std::string_view text);
};

}  // namespace hw
