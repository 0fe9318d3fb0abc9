#include "view/kit_fonts.h"

#include <array>
#include <cmath>
#include <utility>

namespace hw {

QFont latoFont(int weight, double size) {
    QFont font(QStringLiteral("Lato"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Weight(weight));
    font.setPixelSize(std::max(1, int(std::lround(size))));
    return font;
}

QFont kitFont(std::string_view name, double size) {
    static constexpr std::array<std::pair<std::string_view, int>, 9> weights{{
        {"Thin", 100}, {"Hairline", 100}, {"Light", 300}, {"Regular", 400}, {"Medium", 500},
        {"Semibold", 600}, {"Bold", 700}, {"Heavy", 800}, {"Black", 900},
    }};
    int weight = 400;
    if (const auto dash = name.find('-'); dash != std::string_view::npos) {
        const auto style = name.substr(dash + 1);
        for (const auto& [styleName, w] : weights)
            if (style == styleName) weight = w;
    }
    return latoFont(weight, size);
}

}  // namespace hw
