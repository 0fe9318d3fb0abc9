#include "connection/vpn_service_config.h"

#include "core/vpn_types.h"
#include "texts/locale_data.h"

namespace hw {

namespace {

std::string orNull(const std::optional<std::string>& s) { return s ? *s : "(null)"; }
std::string masked(const std::optional<std::string>& s) {
    if (!s) return "(null)";
    return s->empty() ? std::string() : std::string("********");
}

ServiceConfigDictionary pppHead(const VPNServiceConfig& c) {
    using namespace sc;
    return {
        {kSCPropNetPPPCommRemoteAddress, c.endpoint().value_or("")},
        {kSCPropNetPPPAuthName, c.username.value_or("")},
        {kSCPropNetPPPAuthPassword, c._serviceID.value_or("")},
        {kSCPropNetPPPAuthPasswordEncryption, kSCValNetPPPAuthPasswordEncryptionKeychain},
    };
}

ServiceConfigDictionary pppTail() {
    using namespace sc;
    return {
        {kSCPropNetPPPACSPEnabled, 1},
        {kSCPropNetPPPIPCPCompressionVJ, 0},
        {kSCPropNetPPPLCPEchoEnabled, 1},
        {kSCPropNetPPPLCPEchoFailure, 15},
        {kSCPropNetPPPLCPEchoInterval, 20},
        {kSCPropNetPPPCommDisplayTerminalWindow, 0},
        {kSCPropNetPPPCommRedialCount, 1},
        {kSCPropNetPPPCommRedialEnabled, 0},
        {kSCPropNetPPPCommRedialInterval, 5},
        {kSCPropNetPPPCommUseTerminalScript, 0},
        {kSCPropNetPPPDialOnDemand, 0},
        {kSCPropNetPPPDisconnectOnFastUserSwitch, 1},
        {kSCPropNetPPPDisconnectOnIdle, 0},
        {kSCPropNetPPPDisconnectOnIdleTimer, 600},
        {kSCPropNetPPPDisconnectOnLogout, 1},
        {kSCPropNetPPPDisconnectOnSleep, 0},
        {kSCPropNetPPPIdleReminder, 0},
        {kSCPropNetPPPIdleReminderTimer, 1800},
        {kSCPropNetPPPVerboseLogging, 0},
        {kSCPropNetPPPLogfile, kPPPLogFile},
    };
}

}  // namespace

std::optional<std::string> VPNServiceConfig::hostName() const {
    if (!endpointPrefix && !endpointSuffix) return std::nullopt;
    std::string host = endpointPrefix.value_or("") + endpointSuffix.value_or("");
    if (host.empty()) return std::nullopt;
    return host;
}

std::optional<std::string> VPNServiceConfig::endpoint() const {
    if (endpointIPAddress && endpointIPAddress->empty()) return _endpoint ? _endpoint : hostName();
    return endpointIPAddress;
}

std::optional<std::string> VPNServiceConfig::endpoint_FQDN() const { return _endpoint ? _endpoint : hostName(); }

std::string VPNServiceConfig::humanType() const {
    return type == VPNTypesL2TP ? LocaleData::settings_window_vpn_protocols_l2tp_clean_label() : "Unknown";
}

std::string VPNServiceConfig::description() const {
    return "<[" + humanType() + "] name=" + orNull(name) + " endpointPrefix=" + orNull(endpointPrefix) +
           " endpoint=" + orNull(endpoint()) + " endpointSuffix=" + orNull(endpointSuffix) +
           " username=" + orNull(username) + " password=" + masked(password) +
           " sharedSecret=" + masked(sharedSecret) + ">";
}

ServiceConfigDictionary VPNServiceConfig::L2TP_PPPConfig() const {
    auto d = pppHead(*this);
    auto tail = pppTail();
    d.insert(d.end(), tail.begin(), tail.end());
    return d;
}

ServiceConfigDictionary VPNServiceConfig::PPTP_PPPConfig() const {
    using namespace sc;
    auto d = pppHead(*this);
    d.push_back({kSCPropNetPPPCCPEnabled, 1});
    d.push_back({kSCPropNetPPPCCPMPPE128Enabled, 1});
    d.push_back({kSCPropNetPPPCCPMPPE40Enabled, 0});
    auto tail = pppTail();
    d.insert(d.end(), tail.begin(), tail.end());
    return d;
}

ServiceConfigDictionary VPNServiceConfig::L2TPIPSecConfig() const {
    using namespace sc;
    return {
        {kSCPropNetIPSecAuthenticationMethod, kSCValNetIPSecAuthenticationMethodSharedSecret},
        {kSCPropNetIPSecSharedSecretEncryption, kSCValNetIPSecSharedSecretEncryptionKeychain},
        {kSCPropNetIPSecSharedSecret, _serviceID.value_or("") + ".SS"},
    };
}

ServiceConfigDictionary VPNServiceConfig::L2TPIPv4Config() {
    using namespace sc;
    return {
        {kSCPropNetIPv4ConfigMethod, kSCValNetIPv4ConfigMethodPPP},
        {kSCPropNetOverridePrimary, 1},
    };
}

}  // namespace hw
