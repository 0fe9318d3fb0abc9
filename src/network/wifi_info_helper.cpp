#include "network/wifi_info_helper.h"

#include "core/bidi_controls.h"
#include "platform/log.h"

namespace hw {

namespace {
// The code point of the well-formed sequence of n octets at i.
char32_t codePointAt(const std::string& text, std::size_t i, std::size_t n) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    char32_t c = at(i) & (0xff >> (n + 1));
    for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (at(i + k) & 0x3f);
    return c;
}

// The length of the well-formed UTF-8 sequence at i (RFC 3629), or 0.
std::size_t utf8SequenceAt(const std::string& text, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = at(i);
    std::size_t n = 0;
    // The second octet's range: narrower after E0, ED, F0 and F4 (no overlong
    // forms, no surrogates, nothing past U+10FFFF).
    unsigned char low = 0x80, high = 0xbf;
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        if (c == 0xe0) low = 0xa0;
        if (c == 0xed) high = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        if (c == 0xf0) low = 0x90;
        if (c == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (i + n > text.size() || at(i + 1) < low || at(i + 1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xbf) return 0;
    return n;
}
}  // namespace

std::string printableSSID(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c));
            ++i;
        } else if (const std::size_t n = utf8SequenceAt(text, i)) {
            // A bidi control would reorder the rest of the log line.
            if (isBidiControl(codePointAt(text, i, n))) out.push_back('?');
            else out.append(text, i, n);
            i += n;
        } else {
            // An octet that is not UTF-8 would make the log a binary file.
            out.push_back('?');
            ++i;
        }
    }
    return out;
}

WiFiScan WiFi_InfoHelperObjC::scanForAvailableNetworks() {
    auto found = wifi_.scan();
    if (found.timedOut)
        log::error("wifi", "scan timed out: NetworkManager did not answer; " + std::to_string(found.networks.size()) +
                               " networks listed");
    for (const auto& e : found.networks) {
        log::info("wifi", "SSID: " + (e.ssid ? printableSSID(*e.ssid) : std::string("(none)")) +
                              ", BSSID: " + (e.bssid ? printableSSID(*e.bssid) : std::string("(none)")) + ".");
    }
    return found;
}

void WiFi_InfoHelperObjC::noteNetworkSeen(const WiFiLook& look, const std::optional<std::string>& wayOut,
                                          bool needsProtection) {
    std::lock_guard lock(mutex_);
    known_.store(look.answered);
    if (wayOut) {
        if (lastWayOut_ && *lastWayOut_ != *wayOut) {
            log::info("wifi", "the way out moved from " + printableSSID(*lastWayOut_) + " to " + printableSSID(*wayOut) +
                                  ": a change of network");
            changed_.store(true);
        }
        lastWayOut_ = wayOut;
    }
    if (!look.answered) return;
    needsProtection = needsProtection && look.network;
    // Back on an open network after Wi-Fi was off, or after a protected one:
    // the same SSID is no reason to leave it unprotected.
    if (needsProtection && lastNeededProtection_ && !*lastNeededProtection_) {
        log::info("wifi", "a network to protect after one that needed none, or none at all: a change of network");
        changed_.store(true);
    }
    lastNeededProtection_ = needsProtection;
    if (!look.network) return;
    if (lastSSID_ && *lastSSID_ != look.network->ssid) changed_.store(true);
    lastSSID_ = look.network->ssid;
}

}  // namespace hw
