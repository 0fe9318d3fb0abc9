#pragma once
#include "connection/abstract_vpn_connector.h"

namespace hw {

// An L2TP over IPsec service: PPP over L2TP, with a pre-shared IPsec key.
class L2TPConnector : public AbstractVPNConnector {
public:
    using AbstractVPNConnector::AbstractVPNConnector;
    // Reports stop before this type is gone: they ask it for its type.
    ~L2TPConnector() override { stopConnectionStatusUpdates(); }

    std::int64_t getConnectorType() const override { return 2; }
    bool configureTopInterface(SystemVPNPreferences& prefs, const std::string& serviceID,
                               const VPNServiceConfig& config) override;
    std::int32_t applyAdditionalInterfacesConfiguration(SystemVPNPreferences& prefs, const std::string& serviceID,
                                                        const VPNServiceConfig& config) override;
};

}  // namespace hw
