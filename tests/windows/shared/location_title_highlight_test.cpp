#include <gtest/gtest.h>

#include "windows/shared/widgets/location_title_highlight.h"

namespace hw {
namespace {

TEST(LocationTitleHighlight, FirstCaseInsensitiveMatchInUtf16Units) {
    struct Row {
        const char* what;
        QString title;
        QString search;
        std::optional<TitleMatch> match;
    };
    const std::vector<Row> rows{
        {"same case", "Japan", "Jap", TitleMatch{0, 3}},
        {"other case", "Netherlands", "AN", TitleMatch{7, 2}},
        {"first of two", "Banana", "an", TitleMatch{1, 2}},
        {"no match", "Germany", "xyz", std::nullopt},
        {"empty search", "Germany", "", std::nullopt},
        {"longer than the title", "Peru", "Peruvian", std::nullopt},
        // Units, not characters: the flag before the name is two surrogate pairs.
        {"astral characters before", QString::fromUtf8("\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5 Japan"), "jap",
         TitleMatch{5, 3}},
        {"accented", QString::fromUtf8("Cura\xC3\xA7" "ao"), QString::fromUtf8("\xC3\x87" "A"), TitleMatch{4, 2}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(locationTitleMatch(r.title, r.search), r.match);
    }
}

}  // namespace
}  // namespace hw
