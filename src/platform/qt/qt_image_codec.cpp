#include "platform/qt/qt_image_codec.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

namespace hw {

namespace {

// Named from the first bytes: left to guess, Qt loads every image plugin
// installed (and the libraries under them) to ask each one.
const char* formatOf(const Bytes& data) {
    const auto starts = [&](std::string_view magic) {
        return data.size() >= magic.size() && std::memcmp(data.data(), magic.data(), magic.size()) == 0;
    };
    if (starts("\x89PNG\r\n\x1a\n")) return "PNG";
    if (starts("\xff\xd8\xff")) return "JPEG";
    if (starts("GIF87a") || starts("GIF89a")) return "GIF";
    return nullptr;
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

}  // namespace

ImagePtr QtImageCodec::decode(const Bytes& data) const {
    if (data.empty() || data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return nullptr;
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, formatOf(data));
    // Even with the format named, guessing would first ask every plugin.
    reader.setAutoDetectImageFormat(!reader.format().size());
    const QImage decoded = reader.read();
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
    // Written here rather than by QImage::save, which loads every image plugin
    // installed, for good, to ask whether one writes PNG better.
    if (!image.isValid() || image.width > std::numeric_limits<int>::max() / 4) return std::nullopt;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4;
    const std::size_t rows = static_cast<std::size_t>(image.height);
    if (rows > (static_cast<std::size_t>(std::numeric_limits<int>::max()) - 16) / (rowBytes + 1)) return std::nullopt;
    QByteArray scanlines;
    scanlines.reserve(static_cast<qsizetype>(rows * (rowBytes + 1)));
    for (std::size_t y = 0; y < rows; ++y) {
        scanlines.append('\0');  // no filter
        scanlines.append(reinterpret_cast<const char*>(image.rgba.data() + y * rowBytes), static_cast<qsizetype>(rowBytes));
    }
    QByteArray deflated = qCompress(scanlines);
    if (deflated.size() < 4) return std::nullopt;
    deflated.remove(0, 4);  // Qt's length in front of the zlib stream

    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const auto put32 = [](Bytes& out, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
    };
    const auto chunk = [&](const char* type, const std::uint8_t* data, std::size_t size) {
        put32(png, static_cast<std::uint32_t>(size));
        const std::size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data, data + size);
        put32(png, crc32(png.data() + start, png.size() - start));
    };
    Bytes header;
    put32(header, static_cast<std::uint32_t>(image.width));
    put32(header, static_cast<std::uint32_t>(image.height));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter set, no interlace
    chunk("IHDR", header.data(), header.size());
    chunk("IDAT", reinterpret_cast<const std::uint8_t*>(deflated.constData()), static_cast<std::size_t>(deflated.size()));
    chunk("IEND", nullptr, 0);
    return png;
}

}  // namespace hw
