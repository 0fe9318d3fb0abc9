#pragma once
#include <optional>

namespace hw {

// The map as drawn inside its view, aspect kept. Qt's geometry: y down,
// origin at the view's top-left.
struct DrawnMap {
    double startX = 0;
    double startY = 0;
    double width = 0;
    double height = 0;
};

// Where the chosen location's flag goes on the map; fractions count from the
// drawn map's top-left.
struct FlagPlacement {
    static constexpr double kRequiredFlagSize = 39.0;
    static constexpr double kFlagLoadingIndicatorSize = 51.0;

    DrawnMap map;
    // The layout constants of the first design, kept for comparison with it.
    double flagPaddingRight = 0;
    double flagPaddingTop = 0;
    double flagLoadingIndicatorRight = 0;
    double flagLoadingIndicatorTop = 0;
    // The flag's centre in the view; the ring and the connected mark share it.
    double centreX = 0;
    double centreY = 0;
};

// A fraction of the map's size: present, finite and within 0..1.
bool isUsableFlagFraction(const std::optional<double>& fraction);

// Nothing when a size is zero, negative or not finite.
std::optional<DrawnMap> drawnMapRect(double viewWidth, double viewHeight, double imageWidth, double imageHeight);

// Nothing when the map is empty or a fraction is not usable.
std::optional<FlagPlacement> flagPlacement(const DrawnMap& map, const std::optional<double>& flagPx,
                                           const std::optional<double>& flagPy,
                                           double ringSize = FlagPlacement::kFlagLoadingIndicatorSize);

}  // namespace hw
