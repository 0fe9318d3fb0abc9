#include <gtest/gtest.h>

#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "view/kit_geometry.h"

namespace hw::test {
namespace {

struct ColorCase {
    const char* text;
    int r, g, b, a;
};

class KitColor : public ::testing::TestWithParam<ColorCase> {};

TEST_P(KitColor, KeepsAlphaLast) {
    const QColor c = kitColor(GetParam().text);
    EXPECT_EQ(c.red(), GetParam().r);
    EXPECT_EQ(c.green(), GetParam().g);
    EXPECT_EQ(c.blue(), GetParam().b);
    EXPECT_EQ(c.alpha(), GetParam().a);
}

INSTANTIATE_TEST_SUITE_P(Table, KitColor,
                         ::testing::Values(ColorCase{"#FFFFFF33", 255, 255, 255, 0x33},
                                           ColorCase{"#25aae7", 0x25, 0xaa, 0xe7, 255},
                                           ColorCase{"#11223344", 0x11, 0x22, 0x33, 0x44},
                                           ColorCase{"#f00", 255, 0, 0, 255},
                                           ColorCase{"25aae7", 0, 0, 0, 255}));

TEST(KitGeometry, FlipsRectanglesAndPointsInAParent) {
    // 20 high at y-up 10 inside 100: its top edge is 30 from the bottom, so 70 from the top.
    EXPECT_EQ(flipRectInParent(QRectF(5, 10, 40, 20), 100), QRectF(5, 70, 40, 20));
    EXPECT_EQ(flipPointInParent(QPointF(3, 0), 100), QPointF(3, 100));
    // Flipping twice gives the rectangle back.
    EXPECT_EQ(flipRectInParent(flipRectInParent(QRectF(1, 2, 3, 4), 50), 50), QRectF(1, 2, 3, 4));
}

TEST(KitGeometry, FlipsOnTheScreensFromThePrimaryScreensBottom) {
    const QRectF primary(0, 0, 1600, 1000);
    EXPECT_EQ(flipRectOnScreen(QRectF(100, 0, 300, 200), primary), QRectF(100, 800, 300, 200));
    EXPECT_EQ(flipPointOnScreen(QPointF(0, 1000), primary), QPointF(0, 0));
    // A screen above the primary one has negative Qt y.
    EXPECT_EQ(flipRectOnScreen(QRectF(0, 1100, 10, 10), primary), QRectF(0, -110, 10, 10));
}

TEST(KitGeometry, ClockwiseTurnIsPositiveInQt) {
    EXPECT_DOUBLE_EQ(rotationDegreesFromRadians(-6.283185307179586), 360.0);
    EXPECT_DOUBLE_EQ(rotationDegreesFromRadians(3.14159265358979323846 / 2), -90.0);
}

TEST(KitGeometry, CentresInTheAvailableArea) {
    EXPECT_EQ(centeredOrigin(QSize(400, 300), QRect(0, 30, 1600, 970)), QPoint(600, 365));
    EXPECT_EQ(centeredOrigin(QSize(400, 300), QRect(1600, 0, 1000, 800)), QPoint(1900, 250));
}

TEST(KitFonts, DesignNamesAreLatoWeights) {
    EXPECT_EQ(kitFont("Lato-Semibold", 13).weight(), 600);
    EXPECT_EQ(kitFont("Lato-Black", 20).weight(), 900);
    EXPECT_EQ(kitFont("Lato-Regular", 12).weight(), 400);
    EXPECT_EQ(kitFont("Lato-Black", 20).family(), "Lato");
    EXPECT_EQ(kitFont("Lato-Black", 20).pixelSize(), 20);
    EXPECT_EQ(kitFont("Lato-Regular", 12.5).pixelSize(), 13);
}

}  // namespace
}  // namespace hw::test
