#include <gtest/gtest.h>

#include "core/grapheme_text.h"

namespace hw::test {
namespace {

// "é" as e and a combining acute; a family of four joined by zero-width joiners; a flag.
const std::string kCombined = "e\xCC\x81";
const std::string kFamily = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xE2\x80\x8D\xF0\x9F\x91\xA6";
const std::string kFlag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";

TEST(GraphemeText, CountsUserPerceivedCharacters) {
    EXPECT_EQ(characterCount(""), 0u);
    EXPECT_EQ(characterCount("a" + kCombined + "b"), 3u);
    EXPECT_EQ(characterCount(kFamily + " " + kFlag), 3u);
}

TEST(GraphemeText, CharacterAtOffsetAnswersOneWholeCharacter) {
    const std::tuple<std::string, std::int64_t, std::string> rows[] = {
        {kFamily + " x", 1, " "}, {kFamily + " x", 0, kFamily}, {"a" + kCombined + "b", 1, kCombined},
        {"abc", 3, ""},           {"abc", -1, ""},              {"abc", 1000000000000, ""}};
    for (const auto& [text, offset, want] : rows) EXPECT_EQ(characterAtOffset(text, offset), want) << offset;
}

TEST(GraphemeText, RangesOfSubstringFindsTheFirstOccurrenceOnCharacterBoundaries) {
    const std::tuple<std::string, std::string, std::optional<std::size_t>> rows[] = {
        {"abcabc", "bc", 1},
        {kFamily + kFlag + " Sale now", "Sale", 3},
        {"caf" + kCombined + " open", "open", 5},
        // Inside one character is no match; a later whole one is.
        {"caf" + kCombined + " cafe", "cafe", 5},
        {"caf" + kCombined, "e", std::nullopt},
        {kFlag + "x", "\xF0\x9F\x87\xA9", std::nullopt},
        {"abc", "", std::nullopt},
        {"abc", "abcd", std::nullopt}};
    for (const auto& [text, needle, want] : rows) EXPECT_EQ(rangesOfSubstring(text, needle), want) << needle;
}

TEST(GraphemeText, CharacterRangesBecomeUtf16RangesForQt) {
    // The flag is four UTF-16 units, the family eleven.
    EXPECT_EQ(utf16RangeOfCharacters(kFlag + "ab", 1, 1), (Utf16Range{4, 1}));
    EXPECT_EQ(utf16RangeOfCharacters(kFamily + "ab", 0, 2), (Utf16Range{0, 12}));
    // A range running past the end (a bold range one longer than its word) is clipped.
    EXPECT_EQ(utf16RangeOfCharacters("abc", 1, 10), (Utf16Range{1, 2}));
    EXPECT_EQ(utf16RangeOfCharacters("abc", 7, 2), (Utf16Range{3, 0}));
}

}  // namespace
}  // namespace hw::test
