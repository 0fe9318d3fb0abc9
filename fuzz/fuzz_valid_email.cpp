#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/color.h"
#include "core/string_validation.h"

// Text typed into forms and colour texts from the backend.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    hw::validEmail(text);
    const hw::Color c = hw::Color::fromRgba(text);
    if (c.alpha < 0 || c.alpha > 1) __builtin_trap();
    return 0;
}
