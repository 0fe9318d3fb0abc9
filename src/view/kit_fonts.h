#pragma once
#include <QFont>
#include <string_view>

namespace hw {

// A font by its design name ("Lato-Semibold", "Lato-Black", ...): family
// "Lato" at the named weight; sizes are pixels equal to the design's points.
QFont kitFont(std::string_view name, double size);

// Lato at a weight (400 regular, 600 semibold, 700 bold, 900 black).
QFont latoFont(int weight, double size);

}  // namespace hw
