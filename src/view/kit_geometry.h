#pragma once
#include <algorithm>

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>

// The one translation of the kit's y-up geometry (origin bottom-left, "+N"
// is higher) into Qt's y-down geometry (origin top-left).
namespace hw {

// A rectangle inside a parent of the given height.
inline QRectF flipRectInParent(const QRectF& yUp, qreal parentHeight) {
    return {yUp.x(), parentHeight - yUp.y() - yUp.height(), yUp.width(), yUp.height()};
}

inline QPointF flipPointInParent(const QPointF& yUp, qreal parentHeight) { return {yUp.x(), parentHeight - yUp.y()}; }

// A rectangle on the screens: y-up screen coordinates start at the bottom
// of the primary screen, whose Qt geometry is given.
inline QRectF flipRectOnScreen(const QRectF& yUp, const QRectF& primaryScreen) {
    return {yUp.x(), primaryScreen.y() + primaryScreen.height() - yUp.y() - yUp.height(), yUp.width(), yUp.height()};
}

inline QPointF flipPointOnScreen(const QPointF& yUp, const QRectF& primaryScreen) {
    return {yUp.x(), primaryScreen.y() + primaryScreen.height() - yUp.y()};
}

// A y-up rotation in radians (positive is anticlockwise) as Qt degrees
// (positive is clockwise): a turn of -2π is +360.
inline qreal rotationDegreesFromRadians(qreal yUpRadians) { return -yUpRadians * 180.0 / 3.14159265358979323846; }

// The top-left corner that centres a window of this size in the area.
inline QPoint centeredOrigin(const QSize& window, const QRect& area) {
    return {area.x() + (area.width() - window.width()) / 2, area.y() + (area.height() - window.height()) / 2};
}

// The frame moved, size kept, so that it lies inside the area; one larger than
// the area keeps its top-left corner there, where the title bar is.
inline QRect keptInArea(const QRect& frame, const QRect& area) {
    const int x = std::max(area.left(), std::min(frame.x(), area.x() + area.width() - frame.width()));
    const int y = std::max(area.top(), std::min(frame.y(), area.y() + area.height() - frame.height()));
    return {x, y, frame.width(), frame.height()};
}

}  // namespace hw
