#pragma once
#include <string>
#include <utility>

#include "core/color.h"

namespace hw {

// One link: the visible label, its target and its colour (plain blue unless given).
struct URLModel {
    URLModel(std::string url, std::string urlLabel, Color urlColor = Color{0, 0, 1, 1})
        : url(std::move(url)), urlLabel(std::move(urlLabel)), urlColor(urlColor) {}

    std::string url;
    std::string urlLabel;
    Color urlColor;
};

}  // namespace hw
