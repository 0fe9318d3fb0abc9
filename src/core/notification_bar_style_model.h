#pragma once
#include <string>
#include <string_view>
#include <utility>

#include "core/color.h"

namespace hw {

// The look of one kind of notification bar. Colours arrive as "#" texts and
// are parsed once here; the icon is the name of an image resource.
struct NotificationBarStyleModel {
    NotificationBarStyleModel(std::string styleName, std::string_view backgroundColor,
                              std::string_view borderColor, std::string_view textColor, std::string icon)
        : styleName(std::move(styleName)),
          backgroundColor(Color::fromRgba(backgroundColor)),
          borderColor(Color::fromRgba(borderColor)),
          textColor(Color::fromRgba(textColor)),
          icon(std::move(icon)) {}

    std::string styleName;
    Color backgroundColor;
    Color borderColor;
    Color textColor;
    std::string icon;
};

}  // namespace hw
