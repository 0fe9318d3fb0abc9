#include <gtest/gtest.h>

#include "core/application_support_directory.h"
#include "core/text_field_validation.h"
#include "support/capture_log.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <sys/stat.h>

namespace hw::test {
namespace {

struct ValidationCase {
    std::uint32_t type;
    const char* text;
    bool valid;
};

class TextFieldValidation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(TextFieldValidation, FollowsTheTypeTable) {
    EXPECT_EQ(textFieldValidates(GetParam().type, GetParam().text), GetParam().valid)
        << "type " << GetParam().type << " text '" << GetParam().text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextFieldValidation,
    ::testing::Values(ValidationCase{0, "anything", true},
                      ValidationCase{1, "User@Example.COM", true}, ValidationCase{1, "user@example.com.", false},
                      ValidationCase{2, "", true}, ValidationCase{2, "nope", false}, ValidationCase{3, "12345", false},
                      ValidationCase{3, "123456", true},
                      // Three characters outside the basic plane are six UTF-16 units.
                      ValidationCase{3, "\xF0\x9F\x94\x91\xF0\x9F\x94\x91\xF0\x9F\x94\x91", true},
                      ValidationCase{3, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", false}, ValidationCase{4, "", false},
                      ValidationCase{4, " ", true}, ValidationCase{5, "", true}, ValidationCase{6, "", false},
                      ValidationCase{6, "x", true}, ValidationCase{4000000000u, "", false}));

TEST(ApplicationSupportDirectory, IsMadePrivateOrAnswersNone) {
    TempDir dir;
    ScopedEnv env("HAVENWAY_DATA_DIR", (dir.path() + "/data/havenway").c_str());
    const auto made = applicationSupportDirectory();
    ASSERT_EQ(made, dir.path() + "/data/havenway");
    struct stat st {};
    ASSERT_EQ(::stat(made->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    auto log = CaptureLog::install();
    env.set("HAVENWAY_DATA_DIR", "/proc/self/no-such-place/havenway");
    EXPECT_FALSE(applicationSupportDirectory().has_value());
    log::setSink(nullptr);
}

}  // namespace
}  // namespace hw::test
