#pragma once
#include "helper/helper_context.h"

namespace hw::helper {

// IPv6 off for the time of the tunnel, through the disable_ipv6 sysctls of
// every interface but loopback (so ::1 keeps working) and of "default". The
// original values are saved once and written back exactly. Turning IPv6 off
// makes the kernel flush an interface's addresses and routes; the static
// ones are saved with the values and added back after, so that a machine
// with a configured IPv6 address keeps it across a session.
class Ipv6Settings {
public:
    explicit Ipv6Settings(HelperContext& context) : ctx_(context) {}
    bool disable();
    bool restore();

private:
    std::string confDir() const { return ctx_.paths.sysctlRoot + "/net/ipv6/conf"; }
    void saveStatic(const std::string& device);
    bool restoreStatic();
    HelperContext& ctx_;
};

}  // namespace hw::helper
