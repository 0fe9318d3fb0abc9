#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/linux_system_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    hw::parseOsRelease(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
