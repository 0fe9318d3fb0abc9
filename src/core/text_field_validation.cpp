#include "core/text_field_validation.h"

#include <unicode/unistr.h>

#include "core/string_validation.h"

namespace hw {

namespace {

std::size_t utf16Length(std::string_view text) {
    return static_cast<std::size_t>(
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size()))).length());
}

}  // namespace

bool textFieldValidates(std::uint32_t validationType, std::string_view text) {
    switch (validationType) {
        case 0:
        case 5: return true;
        case 1: return validEmail(text);
        case 2: return text.empty() || validEmail(text);
        case 3: return utf16Length(text) > 5;
        default: return !text.empty();
    }
}

}  // namespace hw
