#pragma once

namespace hw::helper {

// "havenway-helper --openvpn-event <socket> <openvpn's up/down arguments>":
// openvpn's up and down command. Tells the helper the tunnel's device and
// the DNS servers the server pushed, and always lets openvpn go on (exit 0).
int runOpenVPNEvent(int argc, char** argv);

}  // namespace hw::helper
