#include "app/version_object.h"

#include <cctype>
#include <climits>
#include <tuple>
#include <vector>

#include "platform/log.h"

namespace hw {
namespace {

// Leading blanks, an optional sign, then digits up to the first other
// character; no digits reads 0; out-of-range values clamp to 32 bits.
std::int64_t intValue(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<std::int64_t>(INT_MAX) + 1) value = static_cast<std::int64_t>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return value;
}

}  // namespace

VersionObject::VersionObject(const std::string& inputVersion) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = inputVersion.find('.', start);
        pieces.push_back(inputVersion.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (pieces.size() < 3) return;
    major = intValue(pieces[0]);
    medium = intValue(pieces[1]);
    minor = intValue(pieces[2]);
    parsed_ = true;
}

bool VersionObject::compareIfVersionIsLowerThanWithAnotherVersion(const VersionObject& other) const {
    // A higher earlier part must end the comparison, or 2.6.0 would count as
    // lower than 1.5.9 and a downgrade would be offered.
    return std::tie(major, medium, minor) < std::tie(other.major, other.medium, other.minor);
}

bool isInstalledVersionLower(const std::string& installed, const std::string& announced) {
    const VersionObject other(announced);
    if (!other.parsed()) {
        log::warning("VersionObject", "announced version has not three parts; no update offered");
        return false;
    }
    return VersionObject(installed).compareIfVersionIsLowerThanWithAnotherVersion(other);
}

}  // namespace hw
