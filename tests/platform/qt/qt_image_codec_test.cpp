#include <gtest/gtest.h>

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
