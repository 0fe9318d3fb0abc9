#include "core/grapheme_text.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace hw {

namespace {

// UTF-16 offsets of every character boundary, 0 and the end included.
struct Boundaries {
    icu::UnicodeString text;
    std::vector<std::int32_t> at;
};

Boundaries boundariesOf(std::string_view utf8) {
    Boundaries b;
    b.text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) {
        for (std::int32_t i = 0; i <= b.text.length(); ++i) b.at.push_back(i);
        return b;
    }
    it->setText(b.text);
    for (std::int32_t pos = it->first(); pos != icu::BreakIterator::DONE; pos = it->next()) b.at.push_back(pos);
    if (b.at.empty()) b.at.push_back(0);
    return b;
}

}  // namespace

std::size_t characterCount(std::string_view text) { return boundariesOf(text).at.size() - 1; }

std::string characterAtOffset(std::string_view text, std::int64_t offset) {
    const Boundaries b = boundariesOf(text);
    if (offset < 0 || static_cast<std::size_t>(offset) + 1 >= b.at.size()) return {};
    const auto i = static_cast<std::size_t>(offset);
    std::string out;
    b.text.tempSubStringBetween(b.at[i], b.at[i + 1]).toUTF8String(out);
    return out;
}

std::optional<std::size_t> rangesOfSubstring(std::string_view text, std::string_view needle) {
    if (needle.empty()) return std::nullopt;
    const Boundaries b = boundariesOf(text);
    const icu::UnicodeString n =
        icu::UnicodeString::fromUTF8(icu::StringPiece(needle.data(), static_cast<std::int32_t>(needle.size())));
    // A match counts only when it starts and ends between characters: "e"
    // is not inside "é" written as e and a combining accent.
    for (std::int32_t from = 0;;) {
        const std::int32_t found = b.text.indexOf(n, from);
        if (found < 0) return std::nullopt;
        const auto start = std::lower_bound(b.at.begin(), b.at.end(), found);
        const bool startsOnBoundary = start != b.at.end() && *start == found;
        const bool endsOnBoundary = std::binary_search(b.at.begin(), b.at.end(), found + n.length());
        if (startsOnBoundary && endsOnBoundary) return static_cast<std::size_t>(start - b.at.begin());
        from = found + 1;
    }
}

Utf16Range utf16RangeOfCharacters(std::string_view text, std::size_t location, std::size_t length) {
    const Boundaries b = boundariesOf(text);
    const std::size_t count = b.at.size() - 1;
    const std::size_t first = std::min(location, count);
    const std::size_t last = std::min(count, first + std::min(length, count - first));
    return {static_cast<std::size_t>(b.at[first]), static_cast<std::size_t>(b.at[last] - b.at[first])};
}

}  // namespace hw
