#pragma once
#include "connection/vpn_service_config.h"

namespace hw::test {

// A service of the given type with every secret set, so tests can tell where each one goes.
inline VPNServiceConfig sampleServiceConfig(std::int64_t type) {
    VPNServiceConfig c;
    c.type = type;
    c.name = "Havenway";
    c.endpointPrefix = "de1.";
    c.endpointSuffix = "example.net";
    c.endpointIPAddress = "";
    c.username = "alice";
    c.password = "p4ss-word";
    c.sharedSecret = "s3cret-psk";
    return c;
}

}  // namespace hw::test
