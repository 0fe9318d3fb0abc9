#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace hw {

// A command parameter as callers hand it over: text, a number, or absent.
using HelperParameter = std::variant<std::monostate, std::string, std::int64_t>;
using HelperParameterList = std::vector<std::pair<std::string, HelperParameter>>;

// What "connectToVPN" needs of a system VPN service description.
struct HelperVPNServiceDescription {
    std::int64_t type = 0;
    std::optional<std::string> name, endpointPrefix, endpointIPAddress, endpointSuffix, username, password,
        sharedSecret;
    HelperParameterList openVPNParameters;  // "openvpncmd", "path_tun", "path_tap" (type 1)
};

// How a helper installation ends: refused is the user's no to the password prompt.
using InstallBlock = std::function<void(bool succeeded, bool refused, int errorCode, const std::string& version)>;

}  // namespace hw
