#include "windows/login/auth_error_detail_layout.h"

#include <gtest/gtest.h>

namespace hw {
namespace {

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(ErrorDetailLayout, SplitsAndSizesTheDetail) {
    const std::string w9 = "abcdefghi";  // with its blank, ten characters
    const std::string forty = (repeat(w9 + " ", 3) + w9).append("1");
    const std::string thumbs = repeat("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 40);  // 40 characters, far more bytes
    struct Row {
        std::string detail;
        AuthErrorDetailLayout expected;
    };
    const Row rows[] = {
        {forty, {false, forty, "", std::nullopt, std::nullopt}},
        {forty + "2", {true, repeat(w9 + " ", 3), w9 + "12 ", 11.0, 0.0}},
        {(repeat(w9 + " ", 7) + w9).append("a"), {true, repeat(w9 + " ", 4), (repeat(w9 + " ", 3) + w9).append("a "), 11.0, 0.0}},
        {(repeat(w9 + " ", 7) + w9).append("ab"), {true, repeat(w9 + " ", 4), (repeat(w9 + " ", 3) + w9).append("ab "), 10.0, 3.0}},
        {std::string(40, 'x').append(" ok"), {true, "", std::string(40, 'x').append(" ok "), 11.0, 0.0}},
        // A short word after a long one stays on the second line.
        {(repeat(w9 + " ", 3) + std::string(20, 'y')).append(" a"),
         {true, repeat(w9 + " ", 3), std::string(20, 'y').append(" a "), 11.0, 0.0}},
        // A double blank gives an empty word.
        {(w9 + "  " + repeat(w9 + " ", 3)).append("z"), {true, w9 + "  " + repeat(w9 + " ", 2), w9 + " z ", 11.0, 0.0}},
        {" ", {false, " ", "", std::nullopt, std::nullopt}},
        {thumbs, {false, thumbs, "", std::nullopt, std::nullopt}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.detail);
        EXPECT_EQ(layoutErrorDetail(row.detail), row.expected);
    }
}

TEST(ErrorTitleOffset, CentresTheTitleOnlyForABlankDetail) {
    for (const char* blank : {"", "  "}) EXPECT_EQ(errorTitleTopOffset(blank), 13.0);
    for (const char* detail : {"   ", "x"}) EXPECT_EQ(errorTitleTopOffset(detail), 5.0);
}

}  // namespace
}  // namespace hw
