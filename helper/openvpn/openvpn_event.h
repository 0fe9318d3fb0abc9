#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/helper_message.h"

namespace hw::helper {

inline constexpr const char* kOpenVPNEventType = "havenway_openvpn_event";

// What openvpn's up or down event tells the helper: the tunnel's device and
// the DNS servers the server pushed, read from openvpn's environment through
// `env`. Nothing when openvpn named no device.
std::optional<HelperMessage> openVPNEventMessage(const std::string& type,
                                                 const std::function<const char*(const std::string&)>& env,
                                                 std::int64_t openvpnPid);

// Hands the event to the helper without waiting for an answer: openvpn waits
// for the sender, and the helper may be busy starting the next openvpn, which
// waits for this one to end.
bool sendOpenVPNEvent(const std::string& socketPath, const HelperMessage& message, std::string* error);

// "havenway-helper --openvpn-event <socket> <openvpn's up/down arguments>":
// openvpn's up and down command where its plugin is not installed. Always
// lets openvpn go on (exit 0).
int runOpenVPNEvent(int argc, char** argv);

}  // namespace hw::helper
