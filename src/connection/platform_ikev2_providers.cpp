#include "connection/platform_ikev2_providers.h"

#include <fstream>
#include <iterator>

#include "connection/vpn_connection_manager_log.h"

namespace hw {

using manager_log::logLine;

namespace {
std::string describe(const PlatformVPNError& e) { return e.description; }
}  // namespace

IPSec_VPNConnectionProvider::IPSec_VPNConnectionProvider(PlatformVPNManager& manager,
                                                         const PlatformIKEv2Context& context)
    : vpnManager(manager), context_(context) {}

IPSec_VPNConnectionProvider::~IPSec_VPNConnectionProvider() {
    *alive_ = false;
    vpnManager.removeStatusObserver(this);
}

std::int32_t IPSec_VPNConnectionProvider::statusCode(PlatformVPNStatus status) {
    switch (status) {
        case PlatformVPNStatus::invalid: return -1;
        case PlatformVPNStatus::disconnected: return 0;
        case PlatformVPNStatus::connecting: return 1;
        case PlatformVPNStatus::connected: return 2;
        case PlatformVPNStatus::reasserting: return 0;
        case PlatformVPNStatus::disconnecting: return 3;
    }
    return -1;
}

std::string IPSec_VPNConnectionProvider::serverHostName() const {
    if (!lastVPNConfig) return {};
    return lastVPNConfig->dnsPrefix + "." + context_.vpnServersDomainSuffix();
}

void IPSec_VPNConnectionProvider::prepare(const ManagerServerConfig& config,
                                          std::function<void()> onAboutToStartConnection) {
    onAboutToStartConnectionCallback = std::move(onAboutToStartConnection);
    onConfigLoadedCallback = [] { logLine("onConfigLoadedCallback"); };
    onProfileInstallRequiredCallback = [](std::function<void()> install) {
        if (install) install();
        logLine("onProfileInstallRequiredCallback");
    };
    lastVPNConfig = config;
    loadConfiguration(config);
}

std::int32_t IPSec_VPNConnectionProvider::retrieveConnectionAndSubscribeToStatusUpdates(
    const std::string&, ManagerStatusCallback callback, bool) {
    observeStatusChanges(std::move(callback));
    return 1;
}

void IPSec_VPNConnectionProvider::disconnect(std::function<void()> completion) {
    vpnManager.stopVPNTunnel();
    if (completion) completion();
}

void IPSec_VPNConnectionProvider::stopConnectionStatusUpdates() { vpnManager.removeStatusObserver(this); }

void IPSec_VPNConnectionProvider::deleteExistingVPNService(const std::string&) {
    vpnManager.removeFromPreferences([](const std::optional<PlatformVPNError>& error) {
        if (error) {
            logLine("Error during Profile remove operation: " + error->description + " -- (error domain: " +
                  error->domain + ")");
        }
    });
}

void IPSec_VPNConnectionProvider::onConnectionStatusUpdated() {
    const PlatformVPNStatus status = vpnManager.connectionStatus();
    logLine("Connection status changed to: " + std::to_string(static_cast<int>(status)));
    if (newStatusReceivedCallback) {
        newStatusReceivedCallback(statusCode(status), std::nullopt, type_.value_or(VPNTypesIKEv2));
    }
}

void IPSec_VPNConnectionProvider::observeStatusChanges(ManagerStatusCallback callback) {
    newStatusReceivedCallback = std::move(callback);
    std::weak_ptr<bool> alive = alive_;
    vpnManager.addStatusObserver(this, [this, alive] {
        if (alive.lock()) onConnectionStatusUpdated();
    });
}

void IPSec_VPNConnectionProvider::loadConfiguration(const ManagerServerConfig& config) {
    std::weak_ptr<bool> alive = alive_;
    vpnManager.loadFromPreferences([this, alive, config](const std::optional<PlatformVPNError>& error) {
        if (!alive.lock()) return;
        if (error) {
            logLine("loadFromPreferencesWithCompletionHandler ERROR: " + describe(*error));
            return;
        }
        if (!isProfileConfigured()) {
            if (onProfileInstallRequiredCallback) {
                onProfileInstallRequiredCallback([this, alive, config] {
                    if (alive.lock()) installProfile(config);
                });
            }
            return;
        }
        if (vpnManager.connectionStatus() == PlatformVPNStatus::connected) {
            logLine("Connection been already established -- skipping Connect");
            return;
        }
        PlatformVPNProtocol protocol = *vpnManager.protocol();
        if (!applyCredentials(protocol)) return;
        vpnManager.setProtocol(protocol);
        setConfigurationSavingIsInProgress(true);
        vpnManager.saveToPreferences([this, alive](const std::optional<PlatformVPNError>& e) {
            if (alive.lock()) onConfigurationSaved(e);
        });
    });
}

void IPSec_VPNConnectionProvider::installProfile(const ManagerServerConfig& config) {
    lastVPNConfig = config;
    vpnManager.setProtocol(makeProtocolConfiguration(config));
    vpnManager.setLocalizedDescription(profileName());
    vpnManager.setEnabled(true);
    setConfigurationSavingIsInProgress(true);
    std::weak_ptr<bool> alive = alive_;
    vpnManager.saveToPreferences([this, alive](const std::optional<PlatformVPNError>& e) {
        if (alive.lock()) onConfigurationSaved(e);
    });
}

void IPSec_VPNConnectionProvider::onConfigurationSaved(const std::optional<PlatformVPNError>& error) {
    setConfigurationSavingIsInProgress(false);
    if (error) {
        logLine("saveToPreferencesWithCompletionHandler ERROR: " + describe(*error));
        return;
    }
    if (context_.isInWaitingForVPNProfileInstallUserAction()) return;
    loadAndStart(false);
}

void IPSec_VPNConnectionProvider::loadAndStart(bool reapplyCredentials) {
    std::weak_ptr<bool> alive = alive_;
    vpnManager.loadFromPreferences([this, alive, reapplyCredentials](const std::optional<PlatformVPNError>& error) {
        if (!alive.lock()) return;
        if (error) {
            logLine("loadFromPreferencesWithCompletionHandler ERROR: " + describe(*error));
            return;
        }
        if (!isProfileConfigured()) return;
        if (!reapplyCredentials) {
            startTunnel();
            return;
        }
        PlatformVPNProtocol protocol = *vpnManager.protocol();
        if (!applyCredentials(protocol)) return;
        vpnManager.setProtocol(protocol);
        vpnManager.saveToPreferences([this, alive](const std::optional<PlatformVPNError>& e) {
            if (!alive.lock()) return;
            if (e) logLine("saveToPreferencesWithCompletionHandler ERROR: " + describe(*e));
            else startTunnel();
        });
    });
}

bool IPSec_VPNConnectionProvider::isProfileConfigured() const {
    if (vpnManager.protocol() && vpnManager.connectionStatus() != PlatformVPNStatus::invalid) return true;
    logLine("protocol not configured!");
    return false;
}

void IPSec_VPNConnectionProvider::startTunnel() {
    if (!lastVPNConfig || !lastVPNConfig->username || !lastVPNConfig->password) {
        // Starting without credentials would only prompt the system for them.
        logLine("startVPNTunnelAndReturnError ERROR: no credentials for the profile");
        return;
    }
    if (onConfigLoadedCallback) onConfigLoadedCallback();
    if (onAboutToStartConnectionCallback) onAboutToStartConnectionCallback();
    auto error = vpnManager.startVPNTunnel(PlatformVPNStartOptions{*lastVPNConfig->username, *lastVPNConfig->password});
    if (error) logLine("startVPNTunnelAndReturnError ERROR: " + describe(*error));
    else logLine("VPN Connection started");
}

PlatformVPNProtocol IPSec_VPNConnectionProvider::newProtocolConfiguration() const {
    PlatformVPNProtocol p;
    p.kind = PlatformVPNProtocolKind::IPSec;
    return p;
}

PlatformVPNProtocol IPSec_VPNConnectionProvider::makeProtocolConfiguration(const ManagerServerConfig& config) {
    lastVPNConfig = config;
    PlatformVPNProtocol p = newProtocolConfiguration();
    applyCredentials(p);
    p.authenticationMethod = 0;
    p.localIdentifier = "";
    p.remoteIdentifier = serverHostName();
    p.useExtendedAuthentication = true;
    p.disconnectOnSleep = false;
    return p;
}

void IPSec_VPNConnectionProvider::applyClientIdentity(PlatformVPNProtocol& protocol) const {
    std::ifstream in(clientCertificatePath(), std::ios::binary);
    if (!in) return;
    protocol.identityData.assign(std::istreambuf_iterator<char>(in), {});
    protocol.identityDataPassword = kIdentityDataPassword;
}

bool IPSec_VPNConnectionProvider::applyCredentials(PlatformVPNProtocol& protocol) const {
    if (!lastVPNConfig) {
        logLine("applyCredentials -- no server configuration");
        return false;
    }
    protocol.serverAddress = serverHostName();
    logLine("serverAddress: " + protocol.serverAddress);
    protocol.username = lastVPNConfig->username.value_or("");
    protocol.passwordReference = lastVPNConfig->passwordReference.value_or("");
    return true;
}

std::string IPSec_VPNConnectionProvider::clientCertificatePath() const {
    return context_.resourcesDirectory() + "/clientCert.p12";
}

IKEv2_VPNConnectionProvider::IKEv2_VPNConnectionProvider(PlatformVPNManager& manager,
                                                         const PlatformIKEv2Context& context)
    : IPSec_VPNConnectionProvider(manager, context),
      serverCertificateCommonName("*." + context.vpnServersDomainSuffix()) {
    type_ = VPNTypesIKEv2;
}

PlatformVPNProtocol IKEv2_VPNConnectionProvider::newProtocolConfiguration() const {
    PlatformVPNProtocol p;
    p.kind = PlatformVPNProtocolKind::IKEv2;
    return p;
}

PlatformVPNProtocol IKEv2_VPNConnectionProvider::makeProtocolConfiguration(const ManagerServerConfig& config) {
    PlatformVPNProtocol p = IPSec_VPNConnectionProvider::makeProtocolConfiguration(config);
    p.serverCertificateIssuerCommonName = serverCertificateIssuerCommonName;
    p.serverCertificateCommonName = serverCertificateCommonName;
    return p;
}

bool IKEv2_VPNConnectionProvider::applyCredentials(PlatformVPNProtocol& protocol) const {
    if (!IPSec_VPNConnectionProvider::applyCredentials(protocol)) return false;
    protocol.remoteIdentifier = serverHostName();
    return true;
}

std::string IKEv2_VPNConnectionProvider::clientCertificatePath() const {
    return context_.resourcesDirectory() + "/certificate.p12";
}

}  // namespace hw
