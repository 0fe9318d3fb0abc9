#pragma once
#include "connection/base_vpn_connection_provider.h"
#include "connection/pptp_connector.h"

namespace hw {

class PPTP_VPNConnectionProvider : public BaseVPNConnectionProvider {
public:
    explicit PPTP_VPNConnectionProvider(std::shared_ptr<SystemVPNServiceStore> store)
        : BaseVPNConnectionProvider(std::make_shared<PPTPConnector>(std::move(store))) {
        setType(VPNTypesPPTP);
    }
};

}  // namespace hw
