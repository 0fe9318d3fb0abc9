#include <gtest/gtest.h>

#include "core/color.h"

namespace hw {
namespace {

void expectColor(const char* text, double r, double g, double b, double a) {
    const Color c = Color::fromRgba(text);
    EXPECT_DOUBLE_EQ(c.red, r) << text;
    EXPECT_DOUBLE_EQ(c.green, g) << text;
    EXPECT_DOUBLE_EQ(c.blue, b) << text;
    EXPECT_DOUBLE_EQ(c.alpha, a) << text;
}

TEST(Color, ParsesEveryDigitCountWithAlphaLast) {
    expectColor("#52a1ff", 0x52 / 255.0, 0xa1 / 255.0, 1.0, 1.0);
    expectColor("#FFFFFF33", 1.0, 1.0, 1.0, 0x33 / 255.0);
    expectColor("#f80", 1.0, 8 / 15.0, 0.0, 1.0);
    expectColor("#f808", 1.0, 8 / 15.0, 0.0, 8 / 15.0);
    expectColor("#DD5b5B", 0xdd / 255.0, 0x5b / 255.0, 0x5b / 255.0, 1.0);
}

TEST(Color, AnythingElseIsOpaqueBlack) {
    for (const char* text : {"", "#", "52a1ff", "#52a1f", "#52a1ff0", "#52a1ff001", "#52g1ff", " #52a1ff",
                             "#52a1ff ", "#+2a1ff", "#0x2a1f", "##52a1f", "#52a1\xff"}) {
        EXPECT_EQ(Color::fromRgba(text), (Color{0, 0, 0, 1})) << text;
    }
}

}  // namespace
}  // namespace hw
