#include "windows/shared/flag_placement.h"

#include <cmath>

namespace hw {

namespace {
bool usableSize(double v) { return std::isfinite(v) && v > 0; }
}  // namespace

bool isUsableFlagFraction(const std::optional<double>& fraction) {
    return fraction && std::isfinite(*fraction) && *fraction >= 0.0 && *fraction <= 1.0;
}

std::optional<DrawnMap> drawnMapRect(double vw, double vh, double iw, double ih) {
    if (!usableSize(vw) || !usableSize(vh) || !usableSize(iw) || !usableSize(ih)) return std::nullopt;
    DrawnMap m;
    if (vw / vh > iw / ih) {
        m.height = vh;
        m.width = iw / ih * vh;
        m.startX = vw / 2 - m.width / 2;
    } else {
        m.width = vw;
        m.height = ih / iw * vw;
        m.startY = vh / 2 - m.height / 2;
    }
    return m;
}

std::optional<FlagPlacement> flagPlacement(const DrawnMap& map, const std::optional<double>& flagPx,
                                           const std::optional<double>& flagPy, double ringSize) {
    if (!usableSize(map.width) || !usableSize(map.height)) return std::nullopt;
    if (!isUsableFlagFraction(flagPx) || !isUsableFlagFraction(flagPy)) return std::nullopt;
    const double s = FlagPlacement::kRequiredFlagSize;
    FlagPlacement p;
    p.map = map;
    p.flagPaddingRight = -(map.startX + map.width - *flagPx * map.width + s / 2);
    p.flagPaddingTop = -(map.startY + *flagPy * map.height + s / 2);
    p.flagLoadingIndicatorRight = p.flagPaddingRight - ringSize / 2 + s / 2;
    p.flagLoadingIndicatorTop = p.flagPaddingTop - ringSize / 2 + s / 2;
    p.centreX = map.startX + *flagPx * map.width;
    p.centreY = map.startY + *flagPy * map.height;
    return p;
}

}  // namespace hw
