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

struct AtCase {
    std::string text;
    std::int64_t offset;
    std::string expected;
};

class CharacterAtOffset : public ::testing::TestWithParam<AtCase> {};

TEST_P(CharacterAtOffset, AnswersOneWholeCharacter) {
    EXPECT_EQ(characterAtOffset(GetParam().text, GetParam().offset), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, CharacterAtOffset,
                         ::testing::Values(AtCase{kFamily + " x", 1, " "},
                                           AtCase{kFamily + " x", 0, kFamily},
                                           AtCase{"a" + kCombined + "b", 1, kCombined},
                                           AtCase{"abc", 3, ""},
                                           AtCase{"abc", -1, ""},
                                           AtCase{"abc", 1000000000000, ""}));

struct FindCase {
    std::string text;
    std::string needle;
    std::optional<std::size_t> expected;
};

class RangesOfSubstring : public ::testing::TestWithParam<FindCase> {};

TEST_P(RangesOfSubstring, FindsTheFirstOccurrenceOnCharacterBoundaries) {
    EXPECT_EQ(rangesOfSubstring(GetParam().text, GetParam().needle), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RangesOfSubstring,
    ::testing::Values(FindCase{"abcabc", "bc", 1},
                      FindCase{kFamily + kFlag + " Sale now", "Sale", 3},
                      FindCase{"caf" + kCombined + " open", "open", 5},
                      // Inside one character is no match; a later whole one is.
                      FindCase{"caf" + kCombined + " cafe", "cafe", 5},
                      FindCase{"caf" + kCombined, "e", std::nullopt},
                      FindCase{kFlag + "x", "\xF0\x9F\x87\xA9", std::nullopt},
                      FindCase{"abc", "", std::nullopt},
                      FindCase{"abc", "abcd", std::nullopt}));

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
