#include "platform/qt/qt_image_codec.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <cstring>
#include <limits>

namespace hw {

ImagePtr QtImageCodec::decode(const Bytes& data) const {
    if (data.empty() || data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return nullptr;
    QImage decoded = QImage::fromData(data.data(), static_cast<int>(data.size()));
    if (decoded.isNull()) return nullptr;
    const QImage rgba = decoded.convertToFormat(QImage::Format_RGBA8888);
    if (rgba.isNull()) return nullptr;
    auto image = std::make_shared<Image>();
    image->width = rgba.width();
    image->height = rgba.height();
    const std::size_t rowBytes = static_cast<std::size_t>(image->width) * 4;
    image->rgba.resize(rowBytes * static_cast<std::size_t>(image->height));
    // QImage pads rows to 32 bits; RGBA rows are already aligned, but copy row
    // by row so that a padded layout can never shift the pixels.
    for (int y = 0; y < image->height; ++y) {
        std::memcpy(image->rgba.data() + rowBytes * static_cast<std::size_t>(y), rgba.constScanLine(y), rowBytes);
    }
    return image;
}

std::optional<Bytes> QtImageCodec::encodePNG(const Image& image) const {
    if (!image.isValid() || image.width > std::numeric_limits<int>::max() / 4) return std::nullopt;
    QImage source(image.rgba.data(), image.width, image.height, image.width * 4, QImage::Format_RGBA8888);
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly)) return std::nullopt;
    if (!source.save(&buffer, "PNG")) return std::nullopt;
    return Bytes(png.begin(), png.end());
}

}  // namespace hw
