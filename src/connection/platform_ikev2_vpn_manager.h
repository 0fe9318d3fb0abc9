#pragma once
#include <functional>
#include <optional>
#include <string>

namespace hw {

// The system's own VPN profile store, as the platform IKEv2 providers use it:
// one profile of the application, loaded, saved, removed, started and
// stopped. Completions and status notices may come on any thread.

enum class PlatformVPNStatus { invalid = 0, disconnected = 1, connecting = 2, connected = 3, reasserting = 4,
                               disconnecting = 5 };

enum class PlatformVPNProtocolKind { IPSec, IKEv2 };

struct PlatformVPNError {
    std::string description;
    std::string domain;
    int code = 0;
};

// The protocol settings of the profile.
struct PlatformVPNProtocol {
    PlatformVPNProtocolKind kind = PlatformVPNProtocolKind::IPSec;
    std::string serverAddress;
    std::string username;
    std::string passwordReference;
    int authenticationMethod = 0;  // 0: no client certificate or shared secret
    std::string localIdentifier;
    std::string remoteIdentifier;
    bool useExtendedAuthentication = false;
    bool disconnectOnSleep = true;
    std::string serverCertificateIssuerCommonName;
    std::string serverCertificateCommonName;
    std::string identityData;
    std::string identityDataPassword;
};

struct PlatformVPNStartOptions {
    std::string username;
    std::string password;
};

class PlatformVPNManager {
public:
    using Completion = std::function<void(const std::optional<PlatformVPNError>& error)>;
    virtual ~PlatformVPNManager() = default;

    virtual void loadFromPreferences(Completion completion) = 0;
    virtual void saveToPreferences(Completion completion) = 0;
    virtual void removeFromPreferences(Completion completion) = 0;

    virtual const std::optional<PlatformVPNProtocol>& protocol() const = 0;
    virtual void setProtocol(std::optional<PlatformVPNProtocol> protocol) = 0;
    virtual void setLocalizedDescription(const std::string& description) = 0;
    virtual void setEnabled(bool enabled) = 0;

    virtual PlatformVPNStatus connectionStatus() const = 0;
    virtual std::optional<PlatformVPNError> startVPNTunnel(const std::optional<PlatformVPNStartOptions>& options) = 0;
    virtual void stopVPNTunnel() = 0;

    // One observer per token; a second registration replaces the first.
    virtual void addStatusObserver(const void* token, std::function<void()> onChange) = 0;
    virtual void removeStatusObserver(const void* token) = 0;
};

}  // namespace hw
