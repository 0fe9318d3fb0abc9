#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

// Standard base64 with padding, for the adapters' own files.
namespace hw::b64 {

std::string encode(const Bytes& data);
// Nothing when the text is not canonical base64 (bad character, length or padding).
std::optional<Bytes> decode(std::string_view text);

}  // namespace hw::b64
