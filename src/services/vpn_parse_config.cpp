#include "services/vpn_parse_config.h"

#include <map>
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

std::optional<std::string> optionalText(const JSON* value) {
    if (!value) return std::nullopt;
    return value->string();
}

}  // namespace

std::shared_ptr<VPNParseConfig> VPNParseConfig::fromJSON(const std::string& objectId, const JSON& fields) {
    std::map<std::string, JSON> copies;
    for (const char* key : {"name", "countryCode", "dnsPrefix", "l2tpSharedKey", "ovpnConfigWithDNSName", "protocols"})
        copies.emplace(key, fields[key]);
    return fromFields(objectId, &copies, [](const void* object, const char* key) -> const JSON* {
        const auto& map = *static_cast<const std::map<std::string, JSON>*>(object);
        const auto it = map.find(key);
        return it == map.end() ? nullptr : &it->second;
    });
}

std::shared_ptr<VPNParseConfig> VPNParseConfig::fromFields(const std::string& objectId, const void* object,
                                                           FieldLookup field) {
    const JSON* prefixField = field(object, "dnsPrefix");
    auto prefix = prefixField ? prefixField->string() : std::nullopt;
    if (!prefix || !validHostLabel(*prefix)) return nullptr;
    auto config = std::make_shared<VPNParseConfig>();
    config->objectId = objectId;
    if (const JSON* name = field(object, "name")) config->name = name->stringValue();
    if (const JSON* code = field(object, "countryCode")) config->countryCode = code->stringValue();
    config->dnsPrefix = std::move(*prefix);
    config->l2tpSharedKey = optionalText(field(object, "l2tpSharedKey"));
    config->ovpnConfigWithDNSName = optionalText(field(object, "ovpnConfigWithDNSName"));
    if (const JSON* protocols = field(object, "protocols"); protocols && protocols->type() == JSON::Type::array) {
        for (const auto& p : protocols->arrayValue()) {
            if (auto s = p.string()) config->protocols.push_back(std::move(*s));
        }
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
