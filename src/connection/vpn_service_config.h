#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/helper_message.h"

namespace hw {

// One entry of a system VPN service's configuration; numbers are 32-bit.
struct ServiceConfigEntry {
    std::string key;
    std::variant<std::string, std::int32_t> value;
    bool operator==(const ServiceConfigEntry&) const = default;
};
// Entries in the order the service is configured with them.
using ServiceConfigDictionary = std::vector<ServiceConfigEntry>;

// Keys and values of the system VPN service configuration. Stored services
// carry these texts, so they never change.
namespace sc {
inline constexpr char kSCPropNetPPPCommRemoteAddress[] = "CommRemoteAddress";
inline constexpr char kSCPropNetPPPAuthName[] = "AuthName";
inline constexpr char kSCPropNetPPPAuthPassword[] = "AuthPassword";
inline constexpr char kSCPropNetPPPAuthPasswordEncryption[] = "AuthPasswordEncryption";
inline constexpr char kSCValNetPPPAuthPasswordEncryptionKeychain[] = "Keychain";
inline constexpr char kSCPropNetPPPACSPEnabled[] = "ACSPEnabled";
inline constexpr char kSCPropNetPPPIPCPCompressionVJ[] = "IPCPCompressionVJ";
inline constexpr char kSCPropNetPPPLCPEchoEnabled[] = "LCPEchoEnabled";
inline constexpr char kSCPropNetPPPLCPEchoFailure[] = "LCPEchoFailure";
inline constexpr char kSCPropNetPPPLCPEchoInterval[] = "LCPEchoInterval";
inline constexpr char kSCPropNetPPPCommDisplayTerminalWindow[] = "CommDisplayTerminalWindow";
inline constexpr char kSCPropNetPPPCommRedialCount[] = "CommRedialCount";
inline constexpr char kSCPropNetPPPCommRedialEnabled[] = "CommRedialEnabled";
inline constexpr char kSCPropNetPPPCommRedialInterval[] = "CommRedialInterval";
inline constexpr char kSCPropNetPPPCommUseTerminalScript[] = "CommUseTerminalScript";
inline constexpr char kSCPropNetPPPDialOnDemand[] = "DialOnDemand";
inline constexpr char kSCPropNetPPPDisconnectOnFastUserSwitch[] = "DisconnectOnFastUserSwitch";
inline constexpr char kSCPropNetPPPDisconnectOnIdle[] = "DisconnectOnIdle";
inline constexpr char kSCPropNetPPPDisconnectOnIdleTimer[] = "DisconnectOnIdleTimer";
inline constexpr char kSCPropNetPPPDisconnectOnLogout[] = "DisconnectOnLogout";
inline constexpr char kSCPropNetPPPDisconnectOnSleep[] = "DisconnectOnSleep";
inline constexpr char kSCPropNetPPPIdleReminder[] = "IdleReminder";
inline constexpr char kSCPropNetPPPIdleReminderTimer[] = "IdleReminderTimer";
inline constexpr char kSCPropNetPPPVerboseLogging[] = "VerboseLogging";
inline constexpr char kSCPropNetPPPLogfile[] = "Logfile";
inline constexpr char kSCPropNetPPPCCPEnabled[] = "CCPEnabled";
inline constexpr char kSCPropNetPPPCCPMPPE128Enabled[] = "CCPMPPE128Enabled";
inline constexpr char kSCPropNetPPPCCPMPPE40Enabled[] = "CCPMPPE40Enabled";
inline constexpr char kSCPropNetIPSecAuthenticationMethod[] = "AuthenticationMethod";
inline constexpr char kSCValNetIPSecAuthenticationMethodSharedSecret[] = "SharedSecret";
inline constexpr char kSCPropNetIPSecSharedSecretEncryption[] = "SharedSecretEncryption";
inline constexpr char kSCValNetIPSecSharedSecretEncryptionKeychain[] = "Keychain";
inline constexpr char kSCPropNetIPSecSharedSecret[] = "SharedSecret";
inline constexpr char kSCPropNetIPv4ConfigMethod[] = "ConfigMethod";
inline constexpr char kSCValNetIPv4ConfigMethodPPP[] = "PPP";
inline constexpr char kSCPropNetOverridePrimary[] = "OverridePrimary";
inline constexpr char kPPPLogFile[] = "/var/log/haven_way.log";
}  // namespace sc

// The description of one system VPN service (L2TP over IPsec, PPTP) and of
// the other tunnels' endpoints. Absent and empty strings are told apart.
class VPNServiceConfig {
public:
    std::int64_t type = 0;
    std::optional<std::string> name;
    std::optional<std::string> endpointPrefix;
    std::optional<std::string> endpointSuffix;
    std::optional<std::string> endpointIPAddress;
    std::optional<std::string> username;
    std::optional<std::string> password;
    std::optional<std::string> sharedSecret;
    std::optional<std::string> _endpoint;
    std::optional<std::string> _serviceID;
    HelperDictionary _openVPNParameters;

    void setEndpoint(std::optional<std::string> endpoint) { _endpoint = std::move(endpoint); }
    const std::optional<std::string>& serviceID() const { return _serviceID; }
    void setServiceID(std::optional<std::string> id) { _serviceID = std::move(id); }

    // The address to dial: the server's address when one is given, else the
    // explicit endpoint or the host name.
    std::optional<std::string> endpoint() const;
    // The explicit endpoint, else the host name (prefix then suffix).
    std::optional<std::string> endpoint_FQDN() const;
    bool is(std::int64_t t) const { return type == t; }
    std::string humanType() const;
    // For logs: the password and the shared secret are masked.
    std::string description() const;

    // The configuration dictionaries of the service; the password and the
    // shared secret are referenced by the service ID, never included.
    ServiceConfigDictionary L2TP_PPPConfig() const;
    ServiceConfigDictionary PPTP_PPPConfig() const;
    ServiceConfigDictionary L2TPIPSecConfig() const;
    static ServiceConfigDictionary L2TPIPv4Config();

private:
    std::optional<std::string> hostName() const;
};

}  // namespace hw
