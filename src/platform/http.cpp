#include "platform/http.h"

#include <strings.h>

namespace hw {

std::optional<std::string> HttpResponse::header(const std::string& name) const {
    for (const auto& [k, v] : headers) {
        if (strcasecmp(k.c_str(), name.c_str()) == 0) return v;
    }
    return std::nullopt;
}

std::string percentEncode(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace hw
