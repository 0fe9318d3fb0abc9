#pragma once
#include "connection/base_vpn_connection_provider.h"
#include "connection/l2tp_connector.h"

namespace hw {

class L2TP_VPNConnectionProvider : public BaseVPNConnectionProvider {
public:
    explicit L2TP_VPNConnectionProvider(std::shared_ptr<SystemVPNServiceStore> store)
        : BaseVPNConnectionProvider(std::make_shared<L2TPConnector>(std::move(store))) {
        setType(VPNTypesL2TP);
    }
};

}  // namespace hw
