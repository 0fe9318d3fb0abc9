#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/json_settings_store.h"

// Whatever a settings file holds, reading it never crashes, and what it yields
// writes back into a file that reads back in full.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto contents = hw::parseSettingsFile(text);
    if (!contents) return 0;
    const auto again = hw::parseSettingsFile(hw::renderSettingsFile(contents->values));
    if (!again || !again->rejectedKeys.empty() || again->values.size() != contents->values.size()) std::abort();
    return 0;
}
