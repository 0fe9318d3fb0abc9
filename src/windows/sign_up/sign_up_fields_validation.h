#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace hw {

// The two lines of the error bar.
struct SignUpValidationMessage {
    std::string upper;
    std::string lower;
    bool operator==(const SignUpValidationMessage&) const = default;
};

struct SignUpFieldsCheck {
    std::string email;     // trimmed: the fields take these back, pass or fail
    std::string password;
    // The first check that failed; none when the form may be sent.
    std::optional<SignUpValidationMessage> error;
};

// Spaces and tabs only: a pasted line break is kept and then fails the check.
std::string trimSpacesAndTabs(std::string_view text);

// The sign-up form's checks in their order (terms, e-mail, password).
// termsAgreed is none where the form has no terms box. The terms message
// shows only when both fields pass, so a user fixes the fields first.
SignUpFieldsCheck validateSignUpFields(std::string_view email, std::string_view password,
                                       std::optional<bool> termsAgreed);

}  // namespace hw
