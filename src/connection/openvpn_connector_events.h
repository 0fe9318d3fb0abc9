#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace hw {

// What the OpenVPN connector reports; every call arrives on the main queue,
// in the order openvpn wrote the lines.
class OpenVPNConnectorEvents {
public:
    virtual ~OpenVPNConnectorEvents() = default;
    virtual void onConnected() = 0;
    virtual void onDisconnected() = 0;
    virtual void onNotReachable() = 0;
    virtual void onReConnected() = 0;
    virtual void onStateChanged(const std::optional<std::string>& state) = 0;
    virtual void onError(std::uint32_t code) = 0;
    virtual void onLog(const std::optional<std::string>& line) = 0;
    virtual void onGatewayChanged(const std::optional<std::string>& gateway) = 0;
};

}  // namespace hw
