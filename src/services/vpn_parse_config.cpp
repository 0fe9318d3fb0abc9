#include "services/vpn_parse_config.h"

#include <sstream>

#include "core/global_constants.h"
#include "platform/ip_address.h"
#include "platform/log.h"

namespace hw {
namespace {

bool validHostLabel(const std::string& text) {
    if (text.empty() || text.size() > 253) return false;
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '.';
        if (!ok) return false;
    }
    return text.front() != '.' && text.front() != '-';
}

std::optional<std::string> optionalText(const JSON& value) {
    auto s = value.string();
    if (!s) return std::nullopt;
    return s;
}

}  // namespace

std::shared_ptr<VPNParseConfig> VPNParseConfig::fromJSON(const std::string& objectId, const JSON& fields) {
    auto prefix = fields["dnsPrefix"].string();
    if (!prefix || !validHostLabel(*prefix)) return nullptr;
    auto config = std::make_shared<VPNParseConfig>();
    config->objectId = objectId;
    config->name = fields["name"].stringValue();
    config->countryCode = fields["countryCode"].stringValue();
    config->dnsPrefix = *prefix;
    config->l2tpSharedKey = optionalText(fields["l2tpSharedKey"]);
    config->ovpnConfigWithDNSName = optionalText(fields["ovpnConfigWithDNSName"]);
    for (const auto& p : fields["protocols"].arrayValue()) {
        if (auto s = p.string()) config->protocols.push_back(*s);
    }
    return config;
}

const char* VPNParseConfig::connectionName() { return GlobalConstants::vpnConnectionName; }

std::string VPNParseConfig::serverHostName(const std::string& domainSuffix) const {
    return dnsPrefix + "." + domainSuffix;
}

std::optional<std::string> VPNParseConfig::ovpnConfig() const {
    return ovpnConfigWithIPAddress ? ovpnConfigWithIPAddress : ovpnConfigWithDNSName;
}

bool VPNParseConfig::setVPNServerIPAddress(const std::string& address) {
    if (!isIPAddress(address)) {
        log::warning("VPNParseConfig", "setVPNServerIPAddress refused a value that is not an IP address");
        return false;
    }
    vpnServerIPAddress = address;
    log::info("VPNParseConfig", "setVPNServerIPAddress for OpenVPN config to: " + address);
    if (!ovpnConfigWithDNSName) return true;
    std::istringstream in(*ovpnConfigWithDNSName);
    std::string out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string keyword;
        std::string host;
        words >> keyword >> host;
        if (keyword == "remote" && !host.empty()) {
            std::string rest;
            std::getline(words, rest);
            line = "remote " + address + rest;
        }
        out += line;
        out += '\n';
    }
    if (!ovpnConfigWithDNSName->empty() && ovpnConfigWithDNSName->back() != '\n' && !out.empty()) out.pop_back();
    ovpnConfigWithIPAddress = out;
    return true;
}

void VPNParseConfig::resetResolvedServer() {
    vpnServerIPAddress.clear();
    ovpnConfigWithIPAddress.reset();
}

}  // namespace hw
