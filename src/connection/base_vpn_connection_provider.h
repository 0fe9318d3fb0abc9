#pragma once
#include <memory>

#include "connection/abstract_vpn_connection_provider.h"
#include "connection/abstract_vpn_connector.h"

namespace hw {

// A provider whose tunnel is a system VPN service: every operation goes to
// its connector, which produces the status codes and the PPP last causes.
class BaseVPNConnectionProvider : public AbstractVPNConnectionProvider {
public:
    void connect(const VPNServiceConfig& config, std::function<void()> onSuccessfullyConnected,
                 VPNStatusCallback onFailure) override;
    std::int32_t getExistingVPNConnectionProtocolType(const std::string& connectionName) override;
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& connectionName,
                                                               VPNStatusCallback onStatus,
                                                               bool skipCurrentStatusNotification) override;
    void startDial(std::function<void()> completion) override;
    void disconnect(std::function<void()> completion) override;
    void stopConnectionStatusUpdates() override;
    void deleteExistingVPNService(const std::string& connectionName) override;

    const std::shared_ptr<AbstractVPNConnector>& connectorHelper() const { return connectorHelper_; }

protected:
    explicit BaseVPNConnectionProvider(std::shared_ptr<AbstractVPNConnector> connector)
        : connectorHelper_(std::move(connector)) {}

private:
    std::shared_ptr<AbstractVPNConnector> connectorHelper_;
};

}  // namespace hw
