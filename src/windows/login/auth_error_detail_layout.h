#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace hw {

// How the login window's error bar lays out its detail text. Lengths are
// user-perceived characters, so an emoji or an accented letter counts once.
struct AuthErrorDetailLayout {
    bool twoLines = false;
    std::string firstLine;
    std::string secondLine;
    // None: the bar keeps the size and spacing it had.
    std::optional<double> fontSize;
    std::optional<double> titleSpacing;
    bool operator==(const AuthErrorDetailLayout&) const = default;
};

inline constexpr std::size_t kErrorBarSingleLineMaxChars = 40;

// fitsOneLine: the bar shows the whole detail on its first line, however
// many characters it has.
AuthErrorDetailLayout layoutErrorDetail(std::string_view detail, bool fitsOneLine = false);

// The title sits in the middle of the bar when the detail says nothing.
double errorTitleTopOffset(std::string_view firstDetailLine);

}  // namespace hw
