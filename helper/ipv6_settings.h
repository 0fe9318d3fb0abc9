#pragma once
#include "helper/helper_context.h"

namespace hw::helper {

// IPv6 off for the time of the tunnel, through the disable_ipv6 sysctls of
// every interface but loopback (so ::1 keeps working) and of "default". The
// original values are saved once and written back exactly.
class Ipv6Settings {
public:
    explicit Ipv6Settings(HelperContext& context) : ctx_(context) {}
    bool disable();
    bool restore();

private:
    std::string confDir() const { return ctx_.paths.sysctlRoot + "/net/ipv6/conf"; }
    HelperContext& ctx_;
};

}  // namespace hw::helper
