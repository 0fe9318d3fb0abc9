#include "connection/vpn_connection_manager_provider_adapters.h"

#include "connection/vpn_service_config.h"

namespace hw {

ManagerStatusCallback StatusRelay::subscribe(ManagerStatusCallback onStatus) {
    stop();
    slot_ = std::make_shared<Slot>();
    slot_->callback = std::move(onStatus);
    std::weak_ptr<Slot> weak = slot_;
    return [weak](std::int32_t status, const std::optional<std::string>& message, VPNTypes type) {
        auto slot = weak.lock();
        if (!slot) return;
        std::lock_guard lock(slot->mutex);
        // A copy runs, so a stop from inside the report cannot destroy it midway.
        ManagerStatusCallback callback = slot->callback;
        if (callback) callback(status, message, type);
    };
}

void StatusRelay::stop() {
    if (!slot_) return;
    {
        // Once this returns, no report of the old subscription is handed on.
        std::lock_guard lock(slot_->mutex);
        slot_->callback = nullptr;
    }
    slot_.reset();
}

void SystemServiceProviderAdapter::connect(const ManagerServiceConfig& config,
                                           std::function<void()> onSuccessfullyConnected) {
    const auto& d = config.description;
    VPNServiceConfig service;
    service.type = d.type;
    service.name = d.name;
    service.endpointPrefix = d.endpointPrefix;
    service.endpointSuffix = d.endpointSuffix;
    service.endpointIPAddress = d.endpointIPAddress;
    service.username = d.username;
    service.password = d.password;
    service.sharedSecret = d.sharedSecret;
    service.setEndpoint(config.endpoint);
    provider_->connect(service, std::move(onSuccessfullyConnected), {});
}

std::int32_t OpenVPNProviderAdapter::retrieveConnectionAndSubscribeToStatusUpdates(const std::string& name,
                                                                                   ManagerStatusCallback onStatus,
                                                                                   bool skip) {
    auto relay = relay_.subscribe(std::move(onStatus));
    return provider_->retrieveConnectionAndSubscribeToStatusUpdates(
        name, [relay](std::int32_t s, std::optional<std::string> m, VPNTypes t) { relay(s, m, t); }, skip);
}

void StrongSwanProviderAdapter::connect(const ManagerServiceConfig& config,
                                        std::function<void()> onSuccessfullyConnected) {
    IKEv2ServiceEndpoint endpoint{config.endpoint, config.description.endpointIPAddress};
    provider_->connect(endpoint, std::move(onSuccessfullyConnected), {});
}

std::int32_t StrongSwanProviderAdapter::retrieveConnectionAndSubscribeToStatusUpdates(const std::string& name,
                                                                                      ManagerStatusCallback onStatus,
                                                                                      bool skip) {
    auto relay = relay_.subscribe(std::move(onStatus));
    return provider_->retrieveConnectionAndSubscribeToStatusUpdates(
        name, [relay](std::int32_t s, std::optional<std::string> m, VPNTypes t) { relay(s, m, t); }, skip);
}

}  // namespace hw
