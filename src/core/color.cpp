#include "core/color.h"

#include <array>
#include <cstddef>

namespace hw {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Color Color::fromRgba(std::string_view text) {
    const Color black{};
    if (text.empty() || text.front() != '#') return black;
    const std::string_view digits = text.substr(1);
    const std::size_t n = digits.size();
    if (n != 3 && n != 4 && n != 6 && n != 8) return black;
    for (char c : digits) {
        if (hexDigit(c) < 0) return black;
    }

    const bool shortForm = n <= 4;
    const std::size_t width = shortForm ? 1 : 2;
    const double scale = shortForm ? 15.0 : 255.0;
    std::array<double, 4> parts{0, 0, 0, 1};
    for (std::size_t i = 0; i * width < n; ++i) {
        int value = 0;
        for (std::size_t j = 0; j < width; ++j) value = value * 16 + hexDigit(digits[i * width + j]);
        parts[i] = value / scale;
    }
    return Color{parts[0], parts[1], parts[2], parts[3]};
}

}  // namespace hw
