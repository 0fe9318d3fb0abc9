#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Texts counted in user-perceived characters (grapheme clusters), the way
// the notification bars place their bold and linked words. Texts are UTF-8.
namespace hw {

std::size_t characterCount(std::string_view text);

// The character at the offset as a text; empty outside the text.
std::string characterAtOffset(std::string_view text, std::int64_t offset);

// The character offset where needle first occurs in text, matched on
// character boundaries; none when it does not occur. An empty needle is never found.
std::optional<std::size_t> rangesOfSubstring(std::string_view text, std::string_view needle);

// A range of characters as UTF-16 units, for QString and QTextCursor; clipped to the text.
struct Utf16Range {
    std::size_t location = 0;
    std::size_t length = 0;
    bool operator==(const Utf16Range&) const = default;
};
Utf16Range utf16RangeOfCharacters(std::string_view text, std::size_t location, std::size_t length);

}  // namespace hw
