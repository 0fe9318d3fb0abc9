#include <gtest/gtest.h>

#include <string>

#include "core/string_validation.h"

namespace hw {
namespace {

TEST(ValidEmail, PatternTable) {
    struct Row {
        std::string text;
        bool valid;
    };
    const Row rows[] = {
        {"user@example.com", true},
        {"a+tag@sub.domain.example.org", true},
        {"o'brien@example.ie", true},
        {"\"quoted\\\"name\"@example.com", true},
        {"\"quoted name\"@example.com", false},  // the pattern admits no bare blank, even quoted
        {"user@[192.168.1.20]", true},
        {"user@[256.1.1.1]", false},
        {"user@localhost", false},
        {"us er@example.com", false},
        {"user@example.com ", false},
        {"user@example.com\n", false},
        {"user.@example.com", false},
        {"user@-example.com", false},
        {"user@example..com", false},
        {"@example.com", false},
        {"", false},
        {"\u00fcser@example.com", false},
        {std::string("user\0@example.com", 17), false},
        {"user@exa\xffmple.com", false},
    };
    for (const auto& row : rows) EXPECT_EQ(validEmail(row.text), row.valid) << '[' << row.text << ']';
}

TEST(ValidEmail, LongInputIsRejectedWithoutBlowingUp) {
    EXPECT_FALSE(validEmail(std::string(200'000, 'a')));
    EXPECT_FALSE(validEmail("\"" + std::string(100'000, 'a')));
    EXPECT_TRUE(validEmail(std::string(300, 'a').append("@example.com")));
}

}  // namespace
}  // namespace hw
