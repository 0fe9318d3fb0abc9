#include "connection/vpn_connection_manager_provider_adapters.h"

#include "connection/ikev2_strongswan_connection_provider.h"
#include "connection/openvpn_vpn_connection_provider.h"
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

void ProviderAdapter::connect(const ManagerServiceConfig& config, std::function<void()> onSuccessfullyConnected) {
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

void ProviderAdapter::forceDisconnect() {
    if (auto* ike = dynamic_cast<IKEv2_StrongSwan_ConnectionProvider*>(provider_.get())) ike->forceDisconnect();
    else provider_->disconnect({});
}

std::string ProviderAdapter::logData() const {
    if (auto* openvpn = dynamic_cast<const OpenVPN_VPNConnectionProvider*>(provider_.get())) return openvpn->logData();
    if (auto* ike = dynamic_cast<const IKEv2_StrongSwan_ConnectionProvider*>(provider_.get())) return ike->logData();
    return {};
}

std::optional<std::string> ProviderAdapter::latestGateway() const {
    if (auto* openvpn = dynamic_cast<const OpenVPN_VPNConnectionProvider*>(provider_.get()))
        return openvpn->latestGateway();
    if (auto* ike = dynamic_cast<const IKEv2_StrongSwan_ConnectionProvider*>(provider_.get()))
        return ike->latestGateway();
    return std::nullopt;
}

std::vector<std::string> ProviderAdapter::pushedDNSServers() const {
    if (auto* openvpn = dynamic_cast<const OpenVPN_VPNConnectionProvider*>(provider_.get()))
        return openvpn->pushedDNSServers();
    return {};
}

}  // namespace hw
