#include "helper/helper_validation.h"

#include <cstdio>

namespace hw::helper {

bool isInterfaceName(std::string_view text) {
    if (text.empty() || text.size() > 15 || text == "." || text == "..") return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        if (!ok) return false;
    }
    return text.front() != '-';
}

bool isStrictName(std::string_view text, std::size_t maxLength) {
    if (text.empty() || text.size() > maxLength || text.front() == '-') return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::string describeForLog(std::string_view value) {
    std::string out;
    for (char c : value.substr(0, 40)) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && c != '\\') {
            out.push_back(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02x", u);
            out += hex;
        }
    }
    if (value.size() > 40) out += "... (" + std::to_string(value.size()) + " bytes)";
    return "\"" + out + "\"";
}

}  // namespace hw::helper
