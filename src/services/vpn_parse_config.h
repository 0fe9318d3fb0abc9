#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"

namespace hw {

class VPNConnection;

// The server configuration of one location. The account's credentials are
// copied in before a connect; they live in memory only and never reach a
// store or a log line.
class VPNParseConfig {
public:
    std::string objectId;
    std::string name;
    std::string countryCode;
    std::string dnsPrefix;
    std::optional<std::string> l2tpSharedKey;
    std::optional<std::string> username;
    std::optional<std::string> password;
    std::string vpnServerIPAddress;
    std::optional<std::string> ovpnConfigWithDNSName;
    std::optional<std::string> ovpnConfigWithIPAddress;
    std::vector<std::string> protocols;
    std::shared_ptr<VPNConnection> vpnConnection;

    // From a backend "VPNConfig" object's fields; nothing when the object has
    // no usable DNS prefix (a host name label).
    static std::shared_ptr<VPNParseConfig> fromJSON(const std::string& objectId, const JSON& fields);
    // The same from a field lookup (absent: nullptr), so that thousands of
    // objects are read without copying each one's fields first.
    using FieldLookup = const JSON* (*)(const void* object, const char* key);
    static std::shared_ptr<VPNParseConfig> fromFields(const std::string& objectId, const void* object, FieldLookup field);

    static const char* connectionName();
    // dnsPrefix + "." + suffix.
    std::string serverHostName(const std::string& domainSuffix) const;
    // The configuration by address when the server was resolved, else by name.
    std::optional<std::string> ovpnConfig() const;

    // Records the resolved address and writes it into every "remote" line of
    // the configuration by name. A text that is not an IPv4 or IPv6 address
    // is refused (false): it would end up inside openvpn's configuration.
    bool setVPNServerIPAddress(const std::string& address);
    // Forget the resolved server so the engine resolves it again.
    void resetResolvedServer();
};

}  // namespace hw
