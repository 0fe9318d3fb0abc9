#include "core/string_validation.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <cstdint>

#include <memory>

#include "platform/log.h"

namespace hw {
namespace {

// ICU's matcher keeps its backtracking state on the heap, so very long input
// cannot overflow the stack as a recursive engine would.
constexpr char16_t kPattern[] =
    uR"re((?:[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+(?:\.[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+)*|"(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])*")@(?:(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9](?:[a-z0-9-]*[a-z0-9])?|\[(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?|[a-z0-9-]*[a-z0-9]:(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x5a\x53-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])+)\]))re";

const icu::RegexPattern* emailPattern() {
    static const std::unique_ptr<icu::RegexPattern> pattern = [] {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError{};
        std::unique_ptr<icu::RegexPattern> p(
            icu::RegexPattern::compile(icu::UnicodeString(kPattern), UREGEX_CASE_INSENSITIVE, parseError, status));
        if (U_FAILURE(status)) {
            log::error("validEmail", std::string("pattern does not compile: ") + u_errorName(status));
            p.reset();
        }
        return p;
    }();
    return pattern.get();
}

bool isValidUtf8(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    // Preflight conversion reports malformed input as an error.
    u_strFromUTF8(nullptr, 0, nullptr, text.data(), static_cast<int32_t>(text.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || status == U_STRING_NOT_TERMINATED_WARNING || U_SUCCESS(status);
}

}  // namespace

bool validEmail(std::string_view text) {
    const icu::RegexPattern* pattern = emailPattern();
    if (!pattern || text.size() > static_cast<std::size_t>(INT32_MAX) || !isValidUtf8(text)) return false;
    const icu::UnicodeString input =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
    if (U_FAILURE(status)) return false;
    const bool matched = matcher->matches(status);
    return U_SUCCESS(status) && matched;
}

}  // namespace hw
