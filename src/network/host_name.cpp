#include "network/host_name.h"

#include <cctype>
#include <charconv>

#include "platform/ip_address.h"

namespace hw {

namespace {

bool validName(const std::string& name) {
    if (name.empty() || name.size() > 253) return false;
    std::size_t label = 0;
    char prev = '.';
    for (char c : name) {
        if (c == '.') {
            if (label == 0 || prev == '-') return false;
            label = 0;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') {
            if (c == '-' && label == 0) return false;
            if (++label > 63) return false;
        } else {
            return false;
        }
        prev = c;
    }
    return prev != '-';
}

bool validPort(const std::string& text) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value > 0 && value <= 65535;
}

}  // namespace

bool isValidHostName(const std::string& host) {
    auto colon = host.rfind(':');
    if (colon == std::string::npos) return validName(host);
    return validName(host.substr(0, colon)) && validPort(host.substr(colon + 1));
}

bool isValidProbeURL(const std::string& url) {
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7f) return false;
    }
    std::string rest;
    if (url.rfind("https://", 0) == 0) rest = url.substr(8);
    else if (url.rfind("http://", 0) == 0) rest = url.substr(7);
    else return false;
    auto end = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, end);
    if (authority.find('@') != std::string::npos) return false;
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        if (close == std::string::npos || !isIPAddress(authority.substr(1, close - 1))) return false;
        std::string after = authority.substr(close + 1);
        return after.empty() || (after.front() == ':' && validPort(after.substr(1)));
    }
    return isValidHostName(authority);
}

}  // namespace hw
