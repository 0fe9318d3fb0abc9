#include "core/trusted_network_item.h"

#include <nlohmann/json.hpp>

namespace hw {
namespace {

constexpr char hexDigits[] = "0123456789abcdef";

std::string toHex(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(hexDigits[c >> 4]);
        out.push_back(hexDigits[c & 0x0f]);
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> fromHex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
    }
    return out;
}

bool isValidUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

}  // namespace

Bytes archiveTrustedNetworks(const std::vector<TrustedNetworkItem>& items) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& item : items) {
        nlohmann::json entry = nlohmann::json::object();
        // Octets that are not UTF-8 would be altered by JSON text: keep them in hex.
        if (isValidUtf8(item.SSID)) {
            entry["SSID"] = item.SSID;
        } else {
            entry["SSIDHex"] = toHex(item.SSID);
        }
        entry["BSSID"] = item.BSSID;
        list.push_back(std::move(entry));
    }
    const std::string text = list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return Bytes(text.begin(), text.end());
}

std::optional<std::vector<TrustedNetworkItem>> unarchiveTrustedNetworks(const Bytes& data) {
    const nlohmann::json root = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (!root.is_array()) return std::nullopt;
    std::vector<TrustedNetworkItem> items;
    items.reserve(root.size());
    for (const auto& entry : root) {
        if (!entry.is_object()) return std::nullopt;
        const auto bssid = entry.find("BSSID");
        if (bssid == entry.end() || !bssid->is_string()) return std::nullopt;
        TrustedNetworkItem item;
        item.BSSID = bssid->get<std::string>();
        const auto ssid = entry.find("SSID");
        const auto ssidHex = entry.find("SSIDHex");
        if (ssid != entry.end() && ssidHex == entry.end() && ssid->is_string()) {
            item.SSID = ssid->get<std::string>();
        } else if (ssidHex != entry.end() && ssid == entry.end() && ssidHex->is_string()) {
            auto octets = fromHex(ssidHex->get<std::string>());
            if (!octets) return std::nullopt;
            item.SSID = std::move(*octets);
        } else {
            return std::nullopt;
        }
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace hw
