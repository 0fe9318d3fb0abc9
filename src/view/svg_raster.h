#pragma once
#include <QImage>
#include <QSize>
#include <QString>

namespace hw {

// An SVG file drawn as QIcon would draw it into the box (its proportions
// kept), at the pixel ratio; null when the file cannot be drawn.
QImage rasterizeSvg(const QString& path, QSize box, qreal devicePixelRatio);

// Pictures the build drew ahead of time with rasterizeSvg, for the boxes and
// whole ratios a window asks for before it first shows: the first window then
// parses and draws no SVG. Stored under :/prerendered/ as the picture's raw
// pixels, named after the resource, the box and the ratio.
QString prerenderedPath(const QString& resourcePath, QSize box, int scale);
QByteArray encodePrerendered(const QImage& image);
// Null unless data is one whole picture as encodePrerendered writes it.
QImage decodePrerendered(const QByteArray& data);
// Null when there is none for that box and ratio, or it does not read whole.
QImage prerenderedSvg(const QString& resourcePath, QSize box, qreal devicePixelRatio);

}  // namespace hw
