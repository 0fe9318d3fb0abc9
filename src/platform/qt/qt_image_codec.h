#pragma once
#include "platform/image_codec.h"

namespace hw {

// ImageCodec on QImage. Needs no application object; thread-safe.
class QtImageCodec final : public ImageCodec {
public:
    ImagePtr decode(const Bytes& data) const override;
    std::optional<Bytes> encodePNG(const Image& image) const override;
};

}  // namespace hw
