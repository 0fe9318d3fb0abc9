#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <fstream>
#include <set>
#include <string>

#include "platform/qt/qt_image_codec.h"

namespace hw {
namespace {

Image gradient(int w, int h) {
    Image image;
    image.width = w;
    image.height = h;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            image.rgba.insert(image.rgba.end(), {static_cast<std::uint8_t>(x * 40), static_cast<std::uint8_t>(y * 60),
                                                 200, static_cast<std::uint8_t>(x == 0 ? 255 : 128)});
        }
    }
    return image;
}

TEST(QtImageCodec, PngRoundTripKeepsEveryPixelIncludingAlpha) {
    QtImageCodec codec;
    // Odd width: rows that are not a multiple of 4 pixels must not shift.
    const Image original = gradient(5, 3);
    const auto png = codec.encodePNG(original);
    ASSERT_TRUE(png);
    ASSERT_GE(png->size(), 8u);
    EXPECT_EQ((*png)[1], 'P');
    const ImagePtr back = codec.decode(*png);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back, original);
}

// The image plugins this process has loaded, by file name.
std::set<std::string> loadedPlugins() {
    std::set<std::string> names;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (const auto at = line.find("/imageformats/"); at != std::string::npos) names.insert(line.substr(at + 14));
    }
    return names;
}

TEST(QtImageCodec, APngIsWrittenAndReadWithNoImagePluginAndAnotherFormatLoadsOnlyItsOwn) {
    QtImageCodec codec;
    const auto before = loadedPlugins();
    ASSERT_NE(codec.decode(*codec.encodePNG(gradient(3, 3))), nullptr);
    EXPECT_EQ(loadedPlugins(), before) << "a plugin was loaded to write or read a PNG";
    // One pixel, made elsewhere.
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89\0\0\0\x0d"
                          "IDAT\x78\x9c\x63\x10\x50\x30\x70\0\0\x01\x45\0\xa1\x51\x86\x26\x4f\0\0\0\0IEND\xae\x42\x60\x82", 70);
    ASSERT_NE(codec.decode(Bytes(png.begin(), png.end())), nullptr);
    EXPECT_EQ(loadedPlugins(), before) << "a plugin was loaded to guess a PNG's format";
    const std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00"
                          "\x00\x02\x02D\x01\x00;", 35);
    codec.decode(Bytes(gif.begin(), gif.end()));
    const std::string jpegStart("\xff\xd8\xff\xe0", 4);
    EXPECT_EQ(codec.decode(Bytes(jpegStart.begin(), jpegStart.end())), nullptr);  // cut short
    for (const auto& name : loadedPlugins()) {
        if (before.count(name)) continue;
        EXPECT_TRUE(name == "libqgif.so" || name == "libqjpeg.so") << name << " was loaded for a GIF or a JPEG";
    }
}

TEST(QtImageCodec, RefusesWhatIsNoImage) {
    QtImageCodec codec;
    EXPECT_EQ(codec.decode({}), nullptr);
    const std::string html = "<html><body>not found</body></html>";
    EXPECT_EQ(codec.decode(Bytes(html.begin(), html.end())), nullptr);
    auto png = *codec.encodePNG(gradient(4, 4));
    png.resize(png.size() / 3);  // truncated
    EXPECT_EQ(codec.decode(png), nullptr);
    Image wrongSize = gradient(2, 2);
    wrongSize.rgba.pop_back();
    EXPECT_FALSE(codec.encodePNG(wrongSize));
    EXPECT_FALSE(codec.encodePNG(Image{}));
}

}  // namespace
}  // namespace hw
