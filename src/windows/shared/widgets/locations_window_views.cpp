#include "windows/shared/widgets/locations_window_views.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "view/kit_color.h"
#include "view/kit_fonts.h"
#include "view/kit_geometry.h"

namespace hw {

LocationsWindowSearchBarBackground::LocationsWindowSearchBarBackground(QWidget* parent) : QWidget(parent) {}

void LocationsWindowSearchBarBackground::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kitColor(kFill));
    p.drawRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
}

LocationItemFlagImage::LocationItemFlagImage(QWidget* parent) : QWidget(parent) {}

void LocationItemFlagImage::setImage(const QImage& image) {
    image_ = image;
    update();
}

void LocationItemFlagImage::drawFlag(QPainter& p, const QRectF& ring, const QImage& image) {
    if (image.isNull()) return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setPen(Qt::NoPen);
    p.setBrush(kitColor(kRingColor));
    p.drawEllipse(ring);
    const QRectF inner = ring.adjusted(1, 1, -1, -1);
    QPainterPath clip;
    clip.addEllipse(inner);
    p.setClipPath(clip);
    p.drawImage(inner, image);
    p.restore();
}

void LocationItemFlagImage::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter p(this);
    // The ring keeps its place at the bottom-left corner whatever the view's size.
    drawFlag(p, flipRectInParent(QRectF(0, 0, kRing, kRing), height()), image_);
}

AutomaticLocationTooltipTextView::AutomaticLocationTooltipTextView(QWidget* parent) : QLabel(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setFont(kitFont("Lato-Regular", 12));
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, kitColor("#e8e8e8"));
    setPalette(palette);
}

AutomaticLocationTooltipView::AutomaticLocationTooltipView(QWidget* parent)
    : QWidget(parent), text_(new AutomaticLocationTooltipTextView(this)) {}

void AutomaticLocationTooltipView::setText(const QString& text) {
    text_->setText(text);
    resizeEvent(nullptr);
}

void AutomaticLocationTooltipView::resizeEvent(QResizeEvent*) { text_->setGeometry(rect().adjusted(12, 8, -12, -8)); }

void AutomaticLocationTooltipView::mousePressEvent(QMouseEvent* event) {
    if (!mouseDownHandler) {
        QWidget::mousePressEvent(event);
        return;
    }
    auto handler = mouseDownHandler;
    handler();
    event->accept();
}

void AutomaticLocationTooltipView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kitColor("#4b4e51"), 1));
    p.setBrush(kitColor("#1c1d1f"));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}

}  // namespace hw
