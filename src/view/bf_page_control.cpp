#include "view/bf_page_control.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace hw {

QSizeF PageDotsLayout::intrinsicSize(long pages, double diameter, double spacing) {
    // No pages measure nothing wide, not minus one spacing.
    if (pages <= 0) return {0, diameter};
    return {double(pages) * diameter + double(pages - 1) * spacing, diameter};
}

std::vector<QRectF> PageDotsLayout::dotRects(long pages, double diameter, double spacing, const QRectF& bounds) {
    std::vector<QRectF> rects;
    if (pages <= 0) return rects;
    const QSizeF size = intrinsicSize(pages, diameter, spacing);
    const double x0 = std::floor(bounds.x() + (bounds.width() - size.width()) / 2.0);
    const double y0 = std::floor(bounds.y() + (bounds.height() - size.height()) / 2.0);
    rects.reserve(std::size_t(pages));
    for (long i = 0; i < pages; ++i) rects.emplace_back(x0 + double(i) * (diameter + spacing), y0, diameter, diameter);
    return rects;
}

BFPageControl::BFPageControl(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void BFPageControl::setNumberOfPages(long pages) {
    pages_ = pages;
    relayout();
}

void BFPageControl::setIndicatorDiameterSize(double diameter) {
    diameter_ = diameter;
    relayout();
}

void BFPageControl::setIndicatorMargin(double margin) {
    margin_ = margin;
    relayout();
}

void BFPageControl::relayout() {
    updateGeometry();
    update();
}

void BFPageControl::setCurrentPage(long page) {
    current_ = page;
    update();
}

void BFPageControl::setDrawingBlock(DrawingBlock block) {
    drawingBlock_ = std::move(block);
    update();
}

void BFPageControl::setColors(const QColor& selected, const QColor& unselected, const QColor& highlight) {
    selected_ = selected;
    unselected_ = unselected;
    highlight_ = highlight;
    update();
}

std::vector<QRectF> BFPageControl::dotRects() const { return PageDotsLayout::dotRects(pages_, diameter_, margin_, rect()); }

long BFPageControl::dotAt(const QPointF& point) const {
    const auto rects = dotRects();
    for (std::size_t i = 0; i < rects.size(); ++i)
        if (rects[i].contains(point)) return long(i);
    return -1;
}

QSize BFPageControl::sizeHint() const {
    return PageDotsLayout::intrinsicSize(pages_, diameter_, margin_).toSize();
}

void BFPageControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto rects = dotRects();
    for (std::size_t i = 0; i < rects.size(); ++i) {
        const bool selected = long(i) == current_;
        const bool highlighted = long(i) == pressed_;
        painter.save();
        if (drawingBlock_) {
            drawingBlock_(painter, rects[i], *this, selected, highlighted);
        } else {
            painter.setPen(Qt::NoPen);
            painter.setBrush(highlighted ? highlight_ : selected ? selected_ : unselected_);
            painter.drawEllipse(rects[i]);
        }
        painter.restore();
    }
}

void BFPageControl::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton ? dotAt(event->position()) : -1;
    update();
    if (pressed_ < 0) QWidget::mousePressEvent(event);
}

void BFPageControl::mouseMoveEvent(QMouseEvent* event) {
    if (dotAt(event->position()) >= 0) setCursor(Qt::PointingHandCursor); else unsetCursor();
    QWidget::mouseMoveEvent(event);
}

void BFPageControl::mouseReleaseEvent(QMouseEvent* event) {
    const long pressed = std::exchange(pressed_, -1);
    update();
    if (pressed < 0 || event->button() != Qt::LeftButton || dotAt(event->position()) != pressed) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    setCurrentPage(pressed);
    if (delegate) delegate->pageControlDidSelectPageAtIndex(*this, pressed);
}

}  // namespace hw
