#include "windows/sign_up/sign_up_fields_validation.h"

#include <gtest/gtest.h>

namespace hw {
namespace {

TEST(SignUpFieldsValidation, ShowsOnlyTheFirstFailingCheck) {
    const SignUpValidationMessage noEmail{"Invalid Account Details", "Email address field cannot be empty."};
    const SignUpValidationMessage shortPassword{"Invalid Account Details", "Password should contain at least 6 characters."};
    const SignUpValidationMessage badEmail{"Invalid Email", "Please provide a valid email address (e.g. name@example.com)"};
    struct Row {
        const char* email;
        const char* password;
        std::optional<bool> terms;  // none: the login window has no box
        std::optional<SignUpValidationMessage> error;
    };
    const Row rows[] = {
        {"   ", "secret1", true, noEmail},
        {"", "", true, noEmail},
        {"me@x.io", "12345", false, shortPassword},
        {"me@x.io", "123456", false, SignUpValidationMessage{"Please agree to the Terms of Service\nto continue", ""}},
        {"me@x.io", "123456", true, std::nullopt},
        {"me@x.io", "123456", std::nullopt, std::nullopt},
        {"me@x.io.", "123456", true, badEmail},
        {"me@x.io", "", true, SignUpValidationMessage{"Please enter your desired password.", ""}},
        {"me@x.io", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80", true, std::nullopt},  // 6 UTF-16 units
        {"me@x.io", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80", true, shortPassword},
        {"me@x.io\n", "123456", true, badEmail},  // only spaces and tabs are trimmed
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.email) + " / " + row.password);
        EXPECT_EQ(validateSignUpFields(row.email, row.password, row.terms).error, row.error);
    }
    const SignUpFieldsCheck check = validateSignUpFields(" \tme@x.io\t ", "  pass word ", true);
    EXPECT_EQ(check.email, "me@x.io");
    EXPECT_EQ(check.password, "pass word");
}

TEST(SignUpFieldsValidation, TrimsEveryBlankButNoLineBreakNorWhatMerelyEndsLikeOne) {
    const std::pair<std::string, std::string> rows[] = {
        {"me@x.io\xC2\xA0", "me@x.io"},                          // no-break space, as pasted
        {"\xE3\x80\x80\xE2\x80\xAF me@x.io\t\xE2\x80\x89", "me@x.io"},  // ideographic, narrow, thin
        {"me@x.io\n", "me@x.io\n"},
        {"\xE2\x80\xA8me@x.io", "\xE2\x80\xA8me@x.io"},  // line separator stays
        {"\xC3\xA0", "\xC3\xA0"},                          // "a" with grave: its last byte is not a space
        {"\xE2\x80\x8B", "\xE2\x80\x8B"},                // zero-width space is not a separator
    };
    for (const auto& [raw, want] : rows) EXPECT_EQ(trimSpacesAndTabs(raw), want) << raw;
    EXPECT_EQ(validateSignUpFields("me@x.io\xC2\xA0", "123456", true).error, std::nullopt);
}

}  // namespace
}  // namespace hw
