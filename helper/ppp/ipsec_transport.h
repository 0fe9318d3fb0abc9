#pragma once
#include <memory>
#include <string>

namespace hw::helper::ppp {

// IPsec in transport mode for L2TP (UDP 1701 to one server, pre-shared key).
// The helper runs one IKE daemon per network namespace; the IKE road
// implements this over that daemon and registers it with
// setIpsecTransport. Without one registered, L2TP fails with a clear error.
class IpsecTransport {
public:
    struct Request {
        std::string serviceID;
        std::string remote;        // checked endpoint
        std::string sharedSecret;  // never logged
    };
    virtual ~IpsecTransport() = default;
    // Blocks until the security association is up or has failed.
    virtual bool up(const Request& request, std::string* error) = 0;
    virtual void down(const std::string& serviceID) = 0;
};

void setIpsecTransport(std::shared_ptr<IpsecTransport> transport);
std::shared_ptr<IpsecTransport> ipsecTransport();

}  // namespace hw::helper::ppp
