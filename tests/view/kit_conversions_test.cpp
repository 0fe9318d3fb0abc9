#include <gtest/gtest.h>

#include "view/kit_color.h"
#include "view/kit_geometry.h"

namespace hw::test {
namespace {

TEST(KitColor, KeepsAlphaLast) {
    struct Row {
        const char* text;
        int r, g, b, a;
    };
    for (const Row& row : {Row{"#FFFFFF33", 255, 255, 255, 0x33}, Row{"#25aae7", 0x25, 0xaa, 0xe7, 255},
                           Row{"#11223344", 0x11, 0x22, 0x33, 0x44}, Row{"#f00", 255, 0, 0, 255},
                           Row{"25aae7", 0, 0, 0, 255}}) {
        const QColor c = kitColor(row.text);
        EXPECT_EQ((std::array{c.red(), c.green(), c.blue(), c.alpha()}), (std::array{row.r, row.g, row.b, row.a}))
            << row.text;
    }
}

TEST(KitGeometry, FlipsRectanglesAndPointsInAParent) {
    // 20 high at y-up 10 inside 100: its top edge is 30 from the bottom, so 70 from the top.
    EXPECT_EQ(flipRectInParent(QRectF(5, 10, 40, 20), 100), QRectF(5, 70, 40, 20));
    EXPECT_EQ(flipPointInParent(QPointF(3, 0), 100), QPointF(3, 100));
    EXPECT_EQ(flipRectInParent(flipRectInParent(QRectF(1, 2, 3, 4), 50), 50), QRectF(1, 2, 3, 4));
}

TEST(KitGeometry, FlipsOnTheScreensFromThePrimaryScreensBottom) {
    const QRectF primary(0, 0, 1600, 1000);
    EXPECT_EQ(flipRectOnScreen(QRectF(100, 0, 300, 200), primary), QRectF(100, 800, 300, 200));
    EXPECT_EQ(flipPointOnScreen(QPointF(0, 1000), primary), QPointF(0, 0));
    // A screen above the primary one has negative Qt y.
    EXPECT_EQ(flipRectOnScreen(QRectF(0, 1100, 10, 10), primary), QRectF(0, -110, 10, 10));
}

TEST(KitGeometry, ClockwiseTurnIsPositiveInQtAndWindowsCentreInTheAvailableArea) {
    EXPECT_DOUBLE_EQ(rotationDegreesFromRadians(-6.283185307179586), 360.0);
    EXPECT_DOUBLE_EQ(rotationDegreesFromRadians(3.14159265358979323846 / 2), -90.0);
    EXPECT_EQ(centeredOrigin(QSize(400, 300), QRect(0, 30, 1600, 970)), QPoint(600, 365));
    EXPECT_EQ(centeredOrigin(QSize(400, 300), QRect(1600, 0, 1000, 800)), QPoint(1900, 250));
}

TEST(KitGeometry, FramesBeyondTheAreaComeBackInsideWithTheirSize) {
    const QRect area(0, 30, 1280, 870);
    struct Case {
        QRect frame, kept;
    } cases[] = {
        {{-239, 21, 239, 518}, {0, 30, 239, 518}},      // left of a main window at the left edge
        {{100, 200, 239, 518}, {100, 200, 239, 518}},   // inside: untouched
        {{1200, 700, 239, 518}, {1041, 382, 239, 518}}, // past the right and bottom edges
        {{-50, -50, 1400, 1000}, {0, 30, 1400, 1000}},  // larger than the area: top-left inside
    };
    for (const auto& c : cases) EXPECT_EQ(keptInArea(c.frame, area), c.kept) << c.frame.x() << "," << c.frame.y();
}

}  // namespace
}  // namespace hw::test
