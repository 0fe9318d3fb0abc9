#include "view/color_fill_views.h"

#include <QPaintEvent>
#include <QPainter>

#include "view/kit_color.h"

namespace hw {

ColorFillView::ColorFillView(const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {
    setAttribute(Qt::WA_OpaquePaintEvent, color.alpha() == 255);
}

void ColorFillView::setFillColor(const QColor& color) {
    color_ = color;
    setAttribute(Qt::WA_OpaquePaintEvent, color.alpha() == 255);
    update();
}

void ColorFillView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), color_);
}

CustomNSView::CustomNSView(QWidget* parent) : ColorFillView(kitColor("#25aae7"), parent) {}

LoadingProgressOverlay::LoadingProgressOverlay(QWidget* parent) : ColorFillView(kitColor("#25aae7"), parent) {}

OverlayForLocationsTable::OverlayForLocationsTable(QWidget* parent) : ColorFillView(kitColor("#000000"), parent) {}

AutoUpdateModalOverlay::AutoUpdateModalOverlay(QWidget* parent) : ColorFillView(kitColor("#000000"), parent) {}

OnBoardingPageItemBackgroundView::OnBoardingPageItemBackgroundView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

}  // namespace hw
