#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "connection/platform_ikev2_vpn_manager.h"
#include "connection/vpn_connection_manager_ports.h"

namespace hw {

// What the platform providers read of the state object and the build.
class PlatformIKEv2Context {
public:
    virtual ~PlatformIKEv2Context() = default;
    virtual std::string appProductName() const = 0;
    virtual std::string vpnServersDomainSuffix() const = 0;
    virtual bool isInWaitingForVPNProfileInstallUserAction() const = 0;
    // Where the bundled client certificates live.
    virtual std::string resourcesDirectory() const = 0;
};

// The base of every provider whose tunnel is a profile of the system's VPN
// store.
class NetworkExtenstionConnectionProvider : public ManagedConnectionProvider {
public:
    std::optional<VPNTypes> type() const override { return type_; }
    void connect(const ManagerServiceConfig&, std::function<void()>) override {}
    std::int32_t getExistingVPNConnectionProtocolType(const std::string&) override { return -1; }
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string&, ManagerStatusCallback,
                                                               bool) override {
        return -1;
    }
    void startDial(std::function<void()>) override {}
    void disconnect(std::function<void()> completion) override {
        if (completion) completion();
    }
    void stopConnectionStatusUpdates() override {}
    void deleteExistingVPNService(const std::string&) override {}

    bool configurationSavingIsInProgress() const { return configurationSavingIsInProgress_; }
    void setConfigurationSavingIsInProgress(bool value) { configurationSavingIsInProgress_ = value; }
    virtual void startConnection() {}
    virtual PlatformVPNManager* platformManager() { return nullptr; }

protected:
    std::optional<VPNTypes> type_;

private:
    bool configurationSavingIsInProgress_ = false;
};

// Owns the application's one system VPN profile: builds it from a location,
// installs or refreshes it, starts it with the account's credentials and
// reports its status. Serves as the base of the IKEv2 provider.
class IPSec_VPNConnectionProvider : public NetworkExtenstionConnectionProvider {
public:
    IPSec_VPNConnectionProvider(PlatformVPNManager& vpnManager, const PlatformIKEv2Context& context);
    ~IPSec_VPNConnectionProvider() override;

    PlatformVPNManager& vpnManager;
    std::function<void(std::function<void()> install)> onProfileInstallRequiredCallback;
    std::function<void()> onConfigLoadedCallback;
    ManagerStatusCallback newStatusReceivedCallback;
    std::function<void()> onAboutToStartConnectionCallback;
    std::optional<ManagerServerConfig> lastVPNConfig;

    void prepare(const ManagerServerConfig& config, std::function<void()> onAboutToStartConnection) override;
    std::int32_t retrieveConnectionAndSubscribeToStatusUpdates(const std::string& name, ManagerStatusCallback callback,
                                                               bool skip) override;
    void disconnect(std::function<void()> completion) override;
    void stopConnectionStatusUpdates() override;
    void deleteExistingVPNService(const std::string& name) override;
    void startConnection() override { loadAndStart(true); }
    PlatformVPNManager* platformManager() override { return &vpnManager; }

    std::string profileName() const { return context_.appProductName(); }
    void onConnectionStatusUpdated();
    void observeStatusChanges(ManagerStatusCallback callback);
    void loadConfiguration(const ManagerServerConfig& config);
    void installProfile(const ManagerServerConfig& config);
    void onConfigurationSaved(const std::optional<PlatformVPNError>& error);
    void loadAndStart(bool reapplyCredentials);
    bool isProfileConfigured() const;
    void startTunnel();
    virtual PlatformVPNProtocol newProtocolConfiguration() const;
    virtual PlatformVPNProtocol makeProtocolConfiguration(const ManagerServerConfig& config);
    virtual void applyClientIdentity(PlatformVPNProtocol& protocol) const;
    // False when the location's configuration lacks what a profile needs.
    virtual bool applyCredentials(PlatformVPNProtocol& protocol) const;
    virtual std::string clientCertificatePath() const;

    // The status code of a platform status.
    static std::int32_t statusCode(PlatformVPNStatus status);
    static constexpr const char* kIdentityDataPassword = "havenway2023";

protected:
    std::string serverHostName() const;
    const PlatformIKEv2Context& context_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The provider of type 4: the profile is an IKEv2 one that checks the
// server's certificate names.
class IKEv2_VPNConnectionProvider final : public IPSec_VPNConnectionProvider {
public:
    IKEv2_VPNConnectionProvider(PlatformVPNManager& vpnManager, const PlatformIKEv2Context& context);

    const std::string serverCertificateIssuerCommonName = "COMODO RSA Domain Validation Secure Server CA";
    // The service's wildcard name: "*." and its servers' domain.
    const std::string serverCertificateCommonName;

    PlatformVPNProtocol newProtocolConfiguration() const override;
    PlatformVPNProtocol makeProtocolConfiguration(const ManagerServerConfig& config) override;
    void applyClientIdentity(PlatformVPNProtocol&) const override {}
    bool applyCredentials(PlatformVPNProtocol& protocol) const override;
    std::string clientCertificatePath() const override;
};

}  // namespace hw
