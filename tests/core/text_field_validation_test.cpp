#include <gtest/gtest.h>

#include "core/application_support_directory.h"
#include "core/text_field_validation.h"
#include "support/capture_log.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <sys/stat.h>

namespace hw::test {
namespace {

TEST(TextFieldValidation, FollowsTheTypeTable) {
    const std::tuple<std::uint32_t, const char*, bool> rows[] = {
        {0, "anything", true}, {1, "User@Example.COM", true}, {1, "user@example.com.", false}, {2, "", true},
        {2, "nope", false},    {3, "12345", false},           {3, "123456", true},
        // Three characters outside the basic plane are six UTF-16 units.
        {3, "\xF0\x9F\x94\x91\xF0\x9F\x94\x91\xF0\x9F\x94\x91", true},
        {3, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", false},
        {4, "", false},        {4, " ", true},                {5, "", true},  {6, "", false}, {6, "x", true},
        {4000000000u, "", false}};
    for (const auto& [type, text, valid] : rows) {
        EXPECT_EQ(textFieldValidates(type, text), valid) << "type " << type << " text '" << text << "'";
    }
}

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
