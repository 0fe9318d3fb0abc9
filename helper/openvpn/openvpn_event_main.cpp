// openvpn waits for its up command before the tunnel counts as up, so that
// command is this small program, without the helper's other libraries to load.
#include <cstdio>
#include <cstring>

#include "helper/openvpn/openvpn_event.h"

int main(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[1], "--openvpn-event") != 0) {
        std::fprintf(stderr, "usage: havenway-openvpn-event --openvpn-event <helper socket> [openvpn's arguments]\n");
        return 2;
    }
    return hw::helper::runOpenVPNEvent(argc, argv);
}
