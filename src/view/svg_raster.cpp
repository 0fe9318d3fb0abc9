#include "view/svg_raster.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>
#include <cstring>

namespace hw {
namespace {

constexpr char kMagic[4] = {'H', 'W', 'P', 'X'};
constexpr qsizetype kHeader = 12;
// Far above any window's picture: a damaged resource cannot ask for gigabytes.
constexpr quint32 kMaxSide = 4096;

}  // namespace

QImage rasterizeSvg(const QString& path, QSize box, qreal devicePixelRatio) {
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) return {};
    const QSize size = renderer.defaultSize().scaled(box, Qt::KeepAspectRatio);
    QImage image(size * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(image.size())));
    return image;
}

QString prerenderedPath(const QString& resourcePath, QSize box, int scale) {
    QString name = resourcePath;
    if (name.startsWith(QStringLiteral(":/"))) name.remove(0, 2);
    return QStringLiteral(":/prerendered/%1.%2x%3@%4x").arg(name).arg(box.width()).arg(box.height()).arg(scale);
}

QByteArray encodePrerendered(const QImage& image) {
    const QImage pixels = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QByteArray out(kMagic, sizeof kMagic);
    for (const quint32 side : {quint32(pixels.width()), quint32(pixels.height())})
        for (int shift = 0; shift < 32; shift += 8) out.append(char((side >> shift) & 0xff));
    for (int y = 0; y < pixels.height(); ++y)
        out.append(reinterpret_cast<const char*>(pixels.constScanLine(y)), qsizetype(pixels.width()) * 4);
    return out;
}

QImage decodePrerendered(const QByteArray& data) {
    if (data.size() < kHeader || std::memcmp(data.constData(), kMagic, sizeof kMagic) != 0) return {};
    auto side = [&data](int at) {
        quint32 v = 0;
        for (int i = 0; i < 4; ++i) v |= quint32(quint8(data[at + i])) << (8 * i);
        return v;
    };
    const quint32 width = side(4), height = side(8);
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide ||
        data.size() != kHeader + qsizetype(width) * height * 4)
        return {};
    QImage image(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(image.scanLine(y), data.constData() + kHeader + qsizetype(y) * width * 4, std::size_t(width) * 4);
    return image;
}

QImage prerenderedSvg(const QString& resourcePath, QSize box, qreal devicePixelRatio) {
    const int scale = int(devicePixelRatio);
    if (scale < 1 || scale != devicePixelRatio || !resourcePath.startsWith(QStringLiteral(":/"))) return {};
    QFile file(prerenderedPath(resourcePath, box, scale));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return decodePrerendered(file.readAll());
}

}  // namespace hw
