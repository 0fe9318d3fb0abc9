#include "controllers/sign_up_fields_validation.h"

#include <gtest/gtest.h>

namespace hw {
namespace {

TEST(SignUpFieldsValidation, ShowsOnlyTheFirstFailingCheck) {
    struct Row {
        const char* email;
        const char* password;
        std::optional<bool> terms;
        const char* upper;  // none: valid
        const char* lower;
    };
    const Row rows[] = {
        {"   ", "secret1", true, "Invalid Account Details", "Email address field cannot be empty."},
        {"", "", true, "Invalid Account Details", "Email address field cannot be empty."},
        {"me@x.io", "12345", false, "Invalid Account Details", "Password should contain at least 6 characters."},
        {"me@x.io", "123456", false, "Please agree to the Terms of Service\nto continue", ""},
        {"me@x.io", "123456", true, nullptr, nullptr},
        {"me@x.io", "123456", std::nullopt, nullptr, nullptr},  // the login window has no box
        {"ME@X.IO", "123456", true, nullptr, nullptr},
        {"me@x.io.", "123456", true, "Invalid Email", "Please provide a valid email address (e.g. name@example.com)"},
        {"me@x.io", "", true, "Please enter your desired password.", ""},
        {"me@x.io", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80", true, nullptr, nullptr},  // 6 UTF-16 units
        {"me@x.io", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80", true, "Invalid Account Details",
         "Password should contain at least 6 characters."},
        {"me@x.io\n", "123456", true, "Invalid Email", "Please provide a valid email address (e.g. name@example.com)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.email) + " / " + row.password);
        const SignUpFieldsCheck check = validateSignUpFields(row.email, row.password, row.terms);
        if (!row.upper) {
            EXPECT_FALSE(check.error);
        } else {
            ASSERT_TRUE(check.error);
            EXPECT_EQ(*check.error, (SignUpValidationMessage{row.upper, row.lower}));
        }
    }
}

TEST(SignUpFieldsValidation, TrimsSpacesAndTabsOnlyFromBothFields) {
    const SignUpFieldsCheck check = validateSignUpFields(" \tme@x.io\t ", "  pass word ", true);
    EXPECT_EQ(check.email, "me@x.io");
    EXPECT_EQ(check.password, "pass word");
    EXPECT_EQ(trimSpacesAndTabs("\n a \n"), "\n a \n");
    EXPECT_EQ(trimSpacesAndTabs(" \t "), "");
}

}  // namespace
}  // namespace hw
