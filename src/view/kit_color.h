#pragma once
#include <QColor>
#include <string_view>

#include "core/color.h"

namespace hw {

// The only way the kit turns a colour into Qt's: never QColor(QString),
// whose eight-digit form reads alpha first.
inline QColor toQColor(const Color& color) {
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue), float(color.alpha));
}

// "#RRGGBBAA" and the shorter forms, alpha last.
inline QColor kitColor(std::string_view rgba) { return toQColor(Color::fromRgba(rgba)); }

}  // namespace hw
