#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hw {

// Every user-visible English text, by key (texts/locale_texts.inc). Each key
// is also a class member function, so a misspelt key fails to compile.
class LocaleData {
public:
    // The text under a key known only at run time; none, and a log line, for
    // a key the catalogue does not hold.
    static std::optional<std::string> text(std::string_view key);

    // Puts value in place of every "%@" of format. Plain substitution: the
    // value is copied as it is and never read as a format itself.
    static std::string fill(std::string_view format, std::string_view value);

    // Every key, in table order.
    static std::span<const std::string_view> keys();

#define HW_TEXT(key, ...) static const std::string& key();
#include "texts/locale_texts.inc"
#undef HW_TEXT
};

}  // namespace hw
