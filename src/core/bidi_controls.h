#pragma once

namespace hw {

// The marks, embeddings, overrides and isolates that reorder the text around
// them: in a name from outside they make "abc<U+202E>gnp.exe" read "abcexe.png".
constexpr bool isBidiControl(char32_t c) {
    return c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace hw
