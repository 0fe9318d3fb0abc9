#include "controllers/sign_up_fields_validation.h"

#include "core/grapheme_text.h"
#include "core/text_field_validation.h"
#include "texts/locale_data.h"

namespace hw {
namespace {

constexpr std::uint32_t kEmailType = 1;
constexpr std::uint32_t kPasswordType = 3;

}  // namespace

std::string trimSpacesAndTabs(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
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
