#pragma once
#include <atomic>
#include <cstdio>
#include <string>

#include "platform/image_codec.h"

namespace hw::test {

// Decodes "IMG:<w>x<h>" (and its own "PNG:<w>x<h>") into a w×h image whose
// bytes are all 7; anything else is no image. Counts decodes.
class FakeImageCodec final : public ImageCodec {
public:
    ImagePtr decode(const Bytes& data) const override {
        ++decodes;
        const std::string text(data.begin(), data.end());
        if (!text.starts_with("IMG:") && !text.starts_with("PNG:")) return nullptr;
        int w = 0;
        int h = 0;
        if (std::sscanf(text.c_str() + 4, "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0 || w > 64 || h > 64) return nullptr;
        return std::make_shared<Image>(image(w, h));
    }
    std::optional<Bytes> encodePNG(const Image& image) const override {
        if (failEncode || !image.isValid()) return std::nullopt;
        return bytes("PNG:" + std::to_string(image.width) + "x" + std::to_string(image.height));
    }
    static Image image(int w, int h) {
        Image i;
        i.width = w;
        i.height = h;
        i.rgba.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 7);
        return i;
    }
    static Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

    mutable std::atomic<int> decodes{0};
    bool failEncode = false;
};

}  // namespace hw::test
