#include "windows/sign_up/sign_up_fields_validation.h"

#include "core/grapheme_text.h"
#include "core/text_field_validation.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

constexpr std::uint32_t kEmailType = 1;
constexpr std::uint32_t kPasswordType = 3;

// The tab and Unicode's space separators (Zs), as UTF-8: whitespace without
// line breaks. A pasted address often ends in a no-break space.
constexpr std::string_view kBlanks[] = {
    "\t",           " ",            "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
    "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87",
    "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

}  // namespace

std::string trimSpacesAndTabs(std::string_view text) {
    auto strip = [&text](bool front) {
        for (std::string_view blank : kBlanks) {
            if (front ? text.starts_with(blank) : text.ends_with(blank)) {
                text = front ? text.substr(blank.size()) : text.substr(0, text.size() - blank.size());
                return true;
            }
        }
        return false;
    };
    while (strip(true)) {
    }
    while (strip(false)) {
    }
    return std::string(text);
}

SignUpFieldsCheck validateSignUpFields(std::string_view email, std::string_view password,
                                       std::optional<bool> termsAgreed) {
    SignUpFieldsCheck out;
    out.email = trimSpacesAndTabs(email);
    out.password = trimSpacesAndTabs(password);
    const bool emailValid = textFieldValidates(kEmailType, out.email);
    const bool passwordValid = textFieldValidates(kPasswordType, out.password);

    if (emailValid && passwordValid) {
        if (!termsAgreed || *termsAgreed) return out;
        out.error = SignUpValidationMessage{LocaleData::free_trial_sign_up_terms_of_service_agree_error(),
                                            LocaleData::free_trial_sign_up_terms_of_service_agree_error_lower()};
        return out;
    }
    if (characterCount(out.email) == 0) {
        out.error = SignUpValidationMessage{LocaleData::free_trial_sign_up_empty_email_field_error(),
                                            LocaleData::free_trial_sign_up_empty_email_field_error_lower()};
    } else if (!emailValid) {
        out.error = SignUpValidationMessage{LocaleData::free_trial_sign_up_email_format_error(),
                                            LocaleData::free_trial_sign_up_email_format_error_lower()};
    } else if (characterCount(out.password) == 0) {
        out.error = SignUpValidationMessage{LocaleData::free_trial_sign_up_empty_password_field_error(),
                                            LocaleData::free_trial_sign_up_empty_password_field_error_lower()};
    } else {
        out.error = SignUpValidationMessage{LocaleData::free_trial_sign_up_password_min_length_error(),
                                            LocaleData::free_trial_sign_up_password_min_length_error_lower()};
    }
    return out;
}

}  // namespace hw
