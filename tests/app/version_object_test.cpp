#include <gtest/gtest.h>

#include "app/version_object.h"
#include "support/capture_log.h"

namespace hw {
namespace {

TEST(VersionObject, ParsesLikeTheBundleVersion) {
    struct Row {
        std::string text;
        std::int64_t major, medium, minor;
        bool parsed;
    };
    for (const Row& r : {Row{"2.5.3", 2, 5, 3, true}, Row{"2.5", 4, 1, 0, false}, Row{"2.5.3.7", 2, 5, 3, true},
                         Row{"2.x.3", 2, 0, 3, true}, Row{"2.5.3-beta", 2, 5, 3, true}, Row{" 7..-1", 7, 0, -1, true},
                         Row{"99999999999.0.0", 2147483647, 0, 0, true}, Row{"", 4, 1, 0, false}}) {
        const VersionObject v(r.text);
        EXPECT_EQ(v.major, r.major) << r.text;
        EXPECT_EQ(v.medium, r.medium) << r.text;
        EXPECT_EQ(v.minor, r.minor) << r.text;
        EXPECT_EQ(v.parsed(), r.parsed) << r.text;
    }
}

TEST(VersionObject, ComparesPartByPartSoNoDowngradeIsOffered) {
    struct Row {
        std::string installed, announced;
        bool lower;
    };
    for (const Row& r : {Row{"2.5.3", "2.5.4", true}, Row{"2.5.4", "2.5.4", false}, Row{"3.0.0", "2.0.0", false},
                         Row{"3.0.0", "2.9.9", false}, Row{"2.0.5", "1.5.0", false}, Row{"2.6.0", "1.5.9", false},
                         Row{"1.9.9", "2.0.0", true}, Row{"1.0.0", "2.5", false}, Row{"1.0.0", "", false}}) {
        EXPECT_EQ(isInstalledVersionLower(r.installed, r.announced), r.lower) << r.installed << " < " << r.announced;
    }
}

}  // namespace
}  // namespace hw
