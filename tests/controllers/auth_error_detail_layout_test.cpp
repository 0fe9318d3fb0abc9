#include "controllers/auth_error_detail_layout.h"

#include <gtest/gtest.h>

namespace hw {
namespace {

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

struct DetailRow {
    const char* name;
    std::string detail;
    AuthErrorDetailLayout expected;
};
void PrintTo(const DetailRow& row, std::ostream* os) { *os << row.name; }


class ErrorDetailLayout : public ::testing::TestWithParam<DetailRow> {};

TEST_P(ErrorDetailLayout, SplitsAndSizesTheDetail) { EXPECT_EQ(layoutErrorDetail(GetParam().detail), GetParam().expected); }

const std::string w9 = "abcdefghi";  // nine characters; with its blank, ten
const std::string forty = w9 + " " + w9 + " " + w9 + " " + w9 + "1";  // 40
const std::string eightyWords = repeat(w9 + " ", 7) + w9 + "ab";       // 81 characters

INSTANTIATE_TEST_SUITE_P(
    Rows, ErrorDetailLayout,
    ::testing::Values(
        DetailRow{"Forty", forty, {false, forty, "", std::nullopt, std::nullopt}},
        DetailRow{"FortyOne", forty + "2",
                  {true, w9 + " " + w9 + " " + w9 + " ", w9 + "12 ", 11.0, 0.0}},
        DetailRow{"Eighty", repeat(w9 + " ", 7) + w9 + "a",
                  {true, repeat(w9 + " ", 4), repeat(w9 + " ", 3) + w9 + "a ", 11.0, 0.0}},
        DetailRow{"EightyOne", eightyWords,
                  {true, repeat(w9 + " ", 4), repeat(w9 + " ", 3) + w9 + "ab ", 10.0, 3.0}},
        DetailRow{"LongFirstWord", std::string(40, 'x') + " ok",
                  {true, "", std::string(40, 'x') + " ok ", 11.0, 0.0}},
        DetailRow{"ShortWordAfterLongStaysOnSecondLine", repeat(w9 + " ", 3) + std::string(20, 'y') + " a",
                  {true, repeat(w9 + " ", 3), std::string(20, 'y') + " a ", 11.0, 0.0}},
        DetailRow{"DoubleBlankGivesAnEmptyWord", w9 + "  " + repeat(w9 + " ", 3) + "z",
                  {true, w9 + "  " + repeat(w9 + " ", 2), w9 + " z ", 11.0, 0.0}},
        DetailRow{"OneBlank", " ", {false, " ", "", std::nullopt, std::nullopt}},
        // 40 user-perceived characters, far more bytes.
        DetailRow{"EmojiCountOnce", repeat("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 40),
                  {false, repeat("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 40), "", std::nullopt, std::nullopt}},
        DetailRow{"CombiningMarksCountOnce", repeat("e\xCC\x81", 40),
                  {false, repeat("e\xCC\x81", 40), "", std::nullopt, std::nullopt}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorTitleOffset, CentresTheTitleOnlyForABlankDetail) {
    EXPECT_EQ(errorTitleTopOffset(""), 13.0);
    EXPECT_EQ(errorTitleTopOffset(" "), 13.0);
    EXPECT_EQ(errorTitleTopOffset("  "), 13.0);
    EXPECT_EQ(errorTitleTopOffset("   "), 5.0);
    EXPECT_EQ(errorTitleTopOffset("x"), 5.0);
}

}  // namespace
}  // namespace hw
