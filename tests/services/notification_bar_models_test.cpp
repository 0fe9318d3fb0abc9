// Bold and linked ranges of the notification bar records.
#include <gtest/gtest.h>

#include "services/notification_bar_models.h"

namespace hw {
namespace {

TEST(NotificationBarModels, BoldRangeOfTheTopBar) {
    struct Row {
        const char* name;
        std::string title, fullText;
        CharacterRange expected;
    };
    const Row rows[] = {
        {"blanks around", "Premium!", "Get it now: Premium! for less", {11, 10}},
        {"title first", "Hello", "Hello world", {0, 6}},
        {"title first, blank two after", "Hello", "Hello, you", {0, 7}},
        {"absent title", "Gone", "Nothing to see here", {0, 5}},
        // Ranges never run past the text.
        {"absent in a short text", "Longer title", "Short", {0, 5}},
        {"empty", "", "", {0, 0}},
        {"title ends the text", "end", "the end", {3, 4}},
        {"no blank before, title ends the text", "end", "the-end", {4, 3}},
        {"wide characters count once", "🇳🇱 NL", "Go 🇳🇱 NL now", {2, 6}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TopNotificationBarModel bar(row.title, "https://x", row.fullText, std::nullopt);
        EXPECT_EQ(bar.boldTextRange(), row.expected);
        EXPECT_EQ(bar.displayedText(), row.fullText);
    }
}

TEST(NotificationBarModels, LinkedRangeOfTheBottomBar) {
    const std::pair<const char*, CharacterRange> rows[] = {
        {"Tell your friends. Invite now and save", {19, 10}}, {"Tell your friends about us, please", {0, 10}}, {"Hi", {0, 2}}};
    for (const auto& [text, range] : rows) {
        EXPECT_EQ(BottomNotificationBarModel("Invite now", "l", text, nullptr).linkedTitleRange(), range) << text;
    }
}

}  // namespace
}  // namespace hw
