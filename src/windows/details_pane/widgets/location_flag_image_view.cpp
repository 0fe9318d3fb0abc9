#include "windows/details_pane/widgets/location_flag_image_view.h"

#include <QPainter>
#include <QPainterPath>

#include "view/kit_color.h"
#include "windows/shared/remote_image_loader.h"

namespace hw {

RemoteFileImageView::RemoteFileImageView(RemoteImageLoader& images, QWidget* parent)
    : QWidget(parent), images_(images), self_(std::make_shared<RemoteFileImageView*>(this)) {}

RemoteFileImageView::~RemoteFileImageView() = default;

void RemoteFileImageView::setFile(const ParseFilePtr& file) {
    file_ = file;
    if (!file) return;
    std::weak_ptr<RemoteFileImageView*> weak = self_;
    images_.load(file, [weak](ImagePtr image) {
        auto self = weak.lock();
        if (!self || !image || !image->isValid()) return;
        // The copy owns its pixels: the decoded image may be dropped from the cache.
        (*self)->setImage(QImage(image->rgba.data(), image->width, image->height, image->width * 4,
                                 QImage::Format_RGBA8888)
                              .copy());
    });
}

void RemoteFileImageView::setImage(const QImage& image) {
    image_ = image;
    update();
}

void RemoteFileImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    drawImage(p);
}

void RemoteFileImageView::drawImage(QPainter& painter) {
    const QSizeF fitted = QSizeF(image_.size()).scaled(size(), Qt::KeepAspectRatio);
    painter.drawImage(QRectF(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted), image_);
}

void LocationFlagImageView::drawImage(QPainter& painter) {
    const QRectF ring(0, 0, width(), height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(kitColor("#e8e8e8"));
    painter.drawEllipse(ring);
    QPainterPath clip;
    clip.addEllipse(ring.adjusted(1, 1, -1, -1));
    painter.setClipPath(clip);
    const QSizeF fitted = QSizeF(image().size()).scaled(ring.adjusted(1, 1, -1, -1).size(), Qt::KeepAspectRatioByExpanding);
    painter.drawImage(QRectF(ring.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted), image());
}

}  // namespace hw
