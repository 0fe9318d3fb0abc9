#pragma once
#include <string_view>

namespace hw {

// A colour as four components in [0, 1], independent of any drawing library.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    // "#" and 3, 4, 6 or 8 hex digits, alpha last when present ("#rgb",
    // "#rgba", "#rrggbb", "#rrggbbaa"); any other text gives opaque black.
    static Color fromRgba(std::string_view text);

    bool operator==(const Color&) const = default;
};

}  // namespace hw
