#pragma once
#include <memory>
#include <mutex>

#include "connection/abstract_vpn_connection_provider.h"
#include "connection/vpn_connection_manager_ports.h"

namespace hw {

// Hands a provider's reports to the manager until the manager stops them,
// even where the provider itself cannot stop reporting. Reports may come on
// any thread.
class StatusRelay {
public:
    // A callback for the provider that forwards to onStatus while this
    // subscription lasts.
    ManagerStatusCallback subscribe(ManagerStatusCallback onStatus);
    void stop();

private:
    struct Slot {
        std::recursive_mutex mutex;
        ManagerStatusCallback callback;
    };
    std::shared_ptr<Slot> slot_;
};

// Any protocol's provider as the manager drives it. The OpenVPN and
// strongSwan providers also give their log, gateway and forced stop.
class ProviderAdapter final : public ManagedConnectionProvider {
public:
    explicit ProviderAdapter(std::shared_ptr<AbstractVPNConnectionProvider> provider)
        : provider_(std::move(provider)) {}

    std::optional<VPNTypes> type() const override { return provider_->type(); }
    void connect(const ManagerServiceConfig& config, std::function<void()> onSuccessfullyConnected) override;
    std::int32_t getExistingVPNConnectionProtocolType(const std::string& name) override {
        return provider_->getExistingVPNConnectionProtocolType(name);
    }
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& name, ManagerStatusCallback onStatus,
                                                               bool skip) override {
        return provider_->retrieveConnectionAndSubscribeToStatusUpdates(name, relay_.subscribe(std::move(onStatus)),
                                                                        skip);
    }
    void startDial(std::function<void()> completion) override { provider_->startDial(std::move(completion)); }
    bool whenReadyToDial(std::function<void(bool answered)> answered) override {
        return provider_->whenReadyToDial(std::move(answered));
    }
    void adoptRunning() override { provider_->adoptRunning(); }
    void disconnect(std::function<void()> completion) override { provider_->disconnect(std::move(completion)); }
    void forceDisconnect() override;
    void stopConnectionStatusUpdates() override {
        relay_.stop();
        provider_->stopConnectionStatusUpdates();
    }
    void deleteExistingVPNService(const std::string& name) override { provider_->deleteExistingVPNService(name); }
    std::string logData() const override;
    std::optional<std::string> latestGateway() const override;
    std::vector<std::string> pushedDNSServers() const override;

    AbstractVPNConnectionProvider& provider() { return *provider_; }

private:
    std::shared_ptr<AbstractVPNConnectionProvider> provider_;
    StatusRelay relay_;
};

}  // namespace hw
