#pragma once
#include "connection/abstract_vpn_connector.h"

namespace hw {

// A PPTP service: PPP with MPPE-128 over a PPTP control connection.
class PPTPConnector : public AbstractVPNConnector {
public:
    using AbstractVPNConnector::AbstractVPNConnector;
    // Reports stop before this type is gone: they ask it for its type.
    ~PPTPConnector() override { stopConnectionStatusUpdates(); }

    std::int64_t getConnectorType() const override { return 3; }
    bool configureTopInterface(SystemVPNPreferences& prefs, const std::string& serviceID,
                               const VPNServiceConfig& config) override;
};

}  // namespace hw
