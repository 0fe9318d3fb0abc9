#include "view/kit_images.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>
#include <memory>

#include "platform/log.h"
#include "view/svg_raster.h"

static void initKitImages() { Q_INIT_RESOURCE(images); }

namespace hw {

namespace {

QString pathOf(std::string_view name) {
    return QStringLiteral(":/images/") + QString::fromUtf8(name.data(), qsizetype(name.size())) + QStringLiteral(".svg");
}

std::unique_ptr<QSvgRenderer> rendererFor(std::string_view name) {
    static const bool registered = (initKitImages(), true);
    (void)registered;
    const QString path = pathOf(name);
    if (!QFile::exists(path)) {
        log::warning("KitImages", "no image named '" + std::string(name) + "'");
        return nullptr;
    }
    auto renderer = std::make_unique<QSvgRenderer>(path);
    if (!renderer->isValid()) {
        log::warning("KitImages", "image '" + std::string(name) + "' cannot be drawn");
        return nullptr;
    }
    return renderer;
}

}  // namespace

bool kitImageExists(std::string_view name) {
    static const bool registered = (initKitImages(), true);
    (void)registered;
    return QFile::exists(pathOf(name));
}

QSize kitImageSize(std::string_view name) {
    const auto renderer = rendererFor(name);
    return renderer ? renderer->defaultSize() : QSize();
}

QImage kitImage(std::string_view name, QSize size, qreal devicePixelRatio) {
    const auto renderer = rendererFor(name);
    if (!renderer) return {};
    if (size.isEmpty()) size = renderer->defaultSize();
    QImage image(size * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer->render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

QImage kitTemplateImage(std::string_view name, const QColor& color, QSize size, qreal devicePixelRatio) {
    QImage image = kitImage(name, size, devicePixelRatio);
    if (image.isNull()) return image;
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), QSizeF(image.size()) / devicePixelRatio), color);
    return image;
}

bool drawKitImage(QPainter& painter, std::string_view name, const QRectF& target) {
    const auto renderer = rendererFor(name);
    if (!renderer) return false;
    renderer->render(&painter, target);
    return true;
}

QIcon kitIcon(std::string_view name) {
    const QImage image = kitImage(name, {}, 2.0);
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

QIcon kitApplicationIcon() {
    // The sizes task bars, window lists and Alt+Tab ask for, drawn once here
    // rather than through the SVG icon engine's plugin.
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128}) {
        const QImage image = kitImage("havenway", QSize(side, side));
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QPixmap svgPixmap(const QString& path, QSize box, qreal devicePixelRatio) {
    QImage image = prerenderedSvg(path, box, devicePixelRatio);
    if (image.isNull()) image = rasterizeSvg(path, box, devicePixelRatio);
    if (image.isNull()) return {};
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

}  // namespace hw
