#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "helper/ike/vici_message.h"

// Whatever decodes must re-encode and decode to the same bytes; the frame
// reader must never hand out more than it was fed.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    if (auto packet = hw::ike::decodeViciPacket(in)) {
        auto frame = hw::ike::encodeViciPacket(*packet);
        // The wire form is canonical, so a decoded packet encodes to its input.
        if (!frame || std::string_view(*frame).substr(4) != in) std::abort();
        auto again = hw::ike::decodeViciPacket(std::string_view(*frame).substr(4));
        if (!again) std::abort();
        auto frame2 = hw::ike::encodeViciPacket(*again);
        if (!frame2 || *frame2 != *frame) std::abort();
    }
    hw::ike::ViciFrameReader reader;
    std::size_t total = 0;
    for (std::size_t i = 0; i < size; i += 7) {
        reader.feed(in.substr(i, 7));
        while (auto p = reader.next()) total += p->size() + 4;
    }
    if (total > size) std::abort();
    return 0;
}
