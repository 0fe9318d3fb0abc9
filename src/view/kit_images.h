#pragma once
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QRectF>
#include <QSize>
#include <string_view>

class QPainter;

namespace hw {

// Images by their design names, from the application's resources (our own SVG drawings).
bool kitImageExists(std::string_view name);

// The image drawn at the size in device-independent pixels; its own size when
// empty. A missing name gives a null image and a log line.
QImage kitImage(std::string_view name, QSize size = {}, qreal devicePixelRatio = 1.0);

// The natural size of the drawing; empty when missing.
QSize kitImageSize(std::string_view name);

// A single-colour icon: the drawing's shape filled with the colour.
QImage kitTemplateImage(std::string_view name, const QColor& color, QSize size, qreal devicePixelRatio = 1.0);

// Draws the image scaled into the rectangle; false when missing.
bool drawKitImage(QPainter& painter, std::string_view name, const QRectF& target);

QIcon kitIcon(std::string_view name);
// The product's icon, at the sizes window managers show.
QIcon kitApplicationIcon();
// An SVG file drawn as QIcon would draw it into the box (its proportions kept),
// without loading the icon engine's plugin: the first window does not wait for it.
QPixmap svgPixmap(const QString& path, QSize box, qreal devicePixelRatio);

}  // namespace hw
