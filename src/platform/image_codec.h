#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/settings_store.h"

namespace hw {

// A decoded bitmap: straight (not premultiplied) RGBA, 8 bits a channel,
// rows top to bottom without padding.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;

    bool isValid() const {
        return width > 0 && height > 0 &&
               rgba.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    }
    bool operator==(const Image&) const = default;
};

// Decoded images are shared, never copied: a map is megabytes.
using ImagePtr = std::shared_ptr<const Image>;

// Image decoding and PNG encoding. Callable from any thread: decoding runs
// off the main thread.
class ImageCodec {
public:
    virtual ~ImageCodec() = default;
    // Null when the bytes are no image the codec knows.
    virtual ImagePtr decode(const Bytes& data) const = 0;
    // Nothing when the image is invalid or cannot be encoded.
    virtual std::optional<Bytes> encodePNG(const Image& image) const = 0;
};

}  // namespace hw
