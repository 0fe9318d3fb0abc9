#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace hw {

// Digests of data answer the raw digest (16, 20 or 32 bytes); digests of text
// are taken over its UTF-8 bytes and answer lower-case hex.
Bytes MD5(std::span<const std::uint8_t> data);
Bytes SHA1(std::span<const std::uint8_t> data);
Bytes SHA256(std::span<const std::uint8_t> data);
std::string MD5(std::string_view utf8);
std::string SHA1(std::string_view utf8);
std::string SHA256(std::string_view utf8);

// Two lower-case hex digits per byte, in byte order.
std::string toHexString(std::span<const std::uint8_t> bytes);

// Bytes of the text in UTF-8 (our strings are UTF-8 already).
inline std::size_t UTF8Length(std::string_view utf8) { return utf8.size(); }

}  // namespace hw
