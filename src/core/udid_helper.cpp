#include "core/udid_helper.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "core/global_constants.h"
#include "core/hashing.h"
#include "platform/log.h"

namespace hw {
namespace {

constexpr int kEthernetType = 1;  // ARPHRD_ETHER, Wi-Fi included

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// Parses "aa:bb:cc:dd:ee:ff"; nothing for anything else.
std::optional<std::array<unsigned, 6>> parseMac(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    std::array<unsigned, 6> bytes{};
    for (std::size_t i = 0; i < 6; ++i) {
        if (i > 0 && text[i * 3 - 1] != ':') return std::nullopt;
        unsigned value = 0;
        for (std::size_t j = 0; j < 2; ++j) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i * 3 + j])));
            if (c >= '0' && c <= '9') value = value * 16 + static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') value = value * 16 + static_cast<unsigned>(c - 'a' + 10);
            else return std::nullopt;
        }
        bytes[i] = value;
    }
    return bytes;
}

// A unicast address that names one device.
bool usable(const std::array<unsigned, 6>& mac) {
    const bool allZero = std::all_of(mac.begin(), mac.end(), [](unsigned b) { return b == 0; });
    const bool multicast = (mac[0] & 0x01) != 0;  // broadcast included
    return !allZero && !multicast;
}

bool locallyAdministered(const std::array<unsigned, 6>& mac) { return (mac[0] & 0x02) != 0; }

std::string compact(const std::array<unsigned, 6>& mac) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned b : mac) {
        out.push_back(digits[(b >> 4) & 0xf]);
        out.push_back(digits[b & 0xf]);
    }
    return out;
}

}  // namespace

bool UDIDHelper::isPlaceholderSerial(std::string_view serial) {
    static constexpr std::string_view placeholders[] = {
        "to be filled by o.e.m.", "to be filled by oem", "default string", "default_string", "none", "null",
        "system serial number", "chassis serial number", "serial number", "not specified", "not applicable",
        "not available", "n/a", "na", "oem", "o.e.m.", "unknown", "invalid", "empty", "0123456789",
        "123456789", "1234567890", "system product name",
    };
    const std::string s = lowered(serial);
    if (s.empty()) return true;
    // "0", "0000000", "XXXXXXXX", "........": one character repeated.
    if (std::all_of(s.begin(), s.end(), [&](char c) { return c == s.front(); })) return true;
    return std::find(std::begin(placeholders), std::end(placeholders), s) != std::end(placeholders);
}

std::string UDIDHelper::serialNumber() const {
    if (auto serial = system_.productSerial()) {
        std::string s = *serial;
        const auto isBlank = [](unsigned char c) { return std::isspace(c) != 0; };
        while (!s.empty() && isBlank(s.back())) s.pop_back();
        s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), isBlank));
        const bool printable = std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x20 && c != 0x7f; });
        if (printable && !isPlaceholderSerial(s)) return s;
    }
    // Containers, VMs and network namespaces often show no physical
    // interface; the backend refuses an empty identifier.
    if (std::string mac = getDeviceNetworkMACaddress(); !mac.empty()) return mac;
    return machineIdentifier();
}

std::string UDIDHelper::machineIdentifier() const {
    const auto id = system_.machineId();
    if (!id) {
        log::warning("UDIDHelper", "no machine-id either: no device identifier");
        return {};
    }
    log::info("UDIDHelper", "device identifier taken from the machine-id");
    return SHA1(std::string(GlobalConstants::bundleIdentifier) + ":" + lowered(*id));
}

std::string UDIDHelper::getDeviceNetworkMACaddress() const {
    struct Candidate {
        int tier;
        std::string name;
        std::array<unsigned, 6> mac;
    };
    std::optional<Candidate> best;
    for (const NetworkInterfaceInfo& info : system_.networkInterfaces()) {
        if (info.isVirtual || info.hardwareType != kEthernetType) continue;
        std::optional<Candidate> candidate;
        if (auto perm = parseMac(info.permanentAddress); perm && usable(*perm)) {
            candidate = Candidate{0, info.name, *perm};
        } else if (auto current = parseMac(info.address); current && usable(*current)) {
            const bool stable = info.addressIsPermanent && !locallyAdministered(*current);
            candidate = Candidate{stable ? 0 : 1, info.name, *current};
        }
        if (!candidate) continue;
        if (!best || candidate->tier < best->tier || (candidate->tier == best->tier && candidate->name < best->name)) {
            best = std::move(candidate);
        }
    }
    if (!best) {
        log::warning("UDIDHelper", "no physical network interface with a hardware address");
        return {};
    }
    return compact(best->mac);
}

}  // namespace hw
