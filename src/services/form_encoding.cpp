#include "services/form_encoding.h"

namespace hw {

std::string formBody(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    for (const auto& [key, value] : fields) {
        if (!body.empty()) body += '&';
        body += percentEncode(key) + "=" + percentEncode(value);
    }
    return body;
}

bool isWebURL(std::string_view text) {
    std::string_view rest;
    if (text.size() > 7 && (text.substr(0, 7) == "http://" || text.substr(0, 7) == "HTTP://")) {
        rest = text.substr(7);
    } else if (text.size() > 8 && (text.substr(0, 8) == "https://" || text.substr(0, 8) == "HTTPS://")) {
        rest = text.substr(8);
    } else {
        return false;
    }
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7f) return false;  // no blanks or control characters anywhere
    }
    const auto hostEnd = rest.find_first_of("/?#");
    const auto host = rest.substr(0, hostEnd);
    return !host.empty() && host.front() != ':' && host.find('@') == std::string_view::npos;
}

}  // namespace hw
