#include "platform/url_opener.h"

#include <algorithm>
#include <cctype>

#include "platform/log.h"

namespace hw {

namespace {

std::string lowerScheme(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return {};
    std::string scheme(url.substr(0, colon));
    if (!std::isalpha(static_cast<unsigned char>(scheme[0]))) return {};
    for (char& c : scheme) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '+' && c != '-' && c != '.') return {};
        c = static_cast<char>(std::tolower(u));
    }
    return scheme;
}

}  // namespace

bool URLOpener::isOpenable(std::string_view url) {
    // Spaces and control characters would be "repaired" by the desktop's
    // tolerant parser into an address nobody wrote.
    if (std::any_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; }))
        return false;
    const std::string scheme = lowerScheme(url);
    const std::string_view rest = url.substr(std::min(url.size(), scheme.size() + 1));
    if (scheme == "http" || scheme == "https") return rest.size() > 2 && rest.substr(0, 2) == "//" && rest[2] != '/';
    if (scheme == "mailto") return !rest.empty();
    return false;
}

bool URLOpener::openURL(std::string_view url) {
    if (!isOpenable(url)) {
        const std::string scheme = lowerScheme(url);
        log::warning("URLOpener", "refused to open a link with scheme '" + (scheme.empty() ? std::string("none") : scheme) + "'");
        return false;
    }
    return openAllowedURL(std::string(url));
}

}  // namespace hw
