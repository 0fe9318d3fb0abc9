#include "connection/base_vpn_connection_provider.h"

#include "connection/vpn_service_config.h"

namespace hw {

namespace {

AbstractVPNConnector::StatusBlock toStatusBlock(VPNStatusCallback callback) {
    return [callback = std::move(callback)](std::int32_t status, const std::optional<std::string>& message,
                                            std::int64_t type) {
        if (callback) callback(status, message, static_cast<VPNTypes>(type));
    };
}

}  // namespace

void BaseVPNConnectionProvider::connect(const VPNServiceConfig& config, std::function<void()> onSuccessfullyConnected,
                                        VPNStatusCallback onFailure) {
    connectorHelper_->connect(
        config.name,
        [done = std::move(onSuccessfullyConnected)] {
            if (done) done();
        },
        toStatusBlock(std::move(onFailure)));
}

std::int32_t BaseVPNConnectionProvider::getExistingVPNConnectionProtocolType(const std::string& connectionName) {
    return connectorHelper_->getExistingVPNConnectionProtocolType(connectionName);
}

std::int32_t BaseVPNConnectionProvider::retrieveConnectionAndSubscribeToStatusUpdates(
    const std::string& connectionName, VPNStatusCallback onStatus, bool skipCurrentStatusNotification) {
    return connectorHelper_->retrieveConnectionAndSubscribeToStatusUpdates(
        connectionName, toStatusBlock(std::move(onStatus)), skipCurrentStatusNotification);
}

void BaseVPNConnectionProvider::startDial(std::function<void()> completion) {
    connectorHelper_->startDialCurrentConnection([completion = std::move(completion)] {
        if (completion) completion();
    });
}

void BaseVPNConnectionProvider::disconnect(std::function<void()> completion) {
    connectorHelper_->disconnect(std::move(completion));
}

void BaseVPNConnectionProvider::stopConnectionStatusUpdates() { connectorHelper_->stopConnectionStatusUpdates(); }

void BaseVPNConnectionProvider::deleteExistingVPNService(const std::string& connectionName) {
    connectorHelper_->deleteExistingVPNService(connectionName);
}

}  // namespace hw
