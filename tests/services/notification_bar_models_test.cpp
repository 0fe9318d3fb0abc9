// Bold and linked ranges of the notification bar records.
#include <gtest/gtest.h>

#include "services/notification_bar_models.h"
#include "services/notifications_data.h"

namespace hw {
namespace {

TEST(NotificationBarModels, BoldRangeOfTheTopBar) {
    struct Row {
        const char* name;
        std::string title, fullText;
        CharacterRange expected;
    };
    const Row rows[] = {
        // An 8-character title at offset 12 of a 29-character text, blanks around it.
        {"blanks around", "Premium!", "Get it now: Premium! for less", {11, 10}},
        // A 5-character title first, then a blank and a letter: offset 6 is tested.
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
    BottomNotificationBarModel found("Invite now", "l", "Tell your friends. Invite now and save", nullptr);
    EXPECT_EQ(found.linkedTitleRange(), (CharacterRange{19, 10}));
    BottomNotificationBarModel absent("Invite now", "l", "Tell your friends about us, please", nullptr);
    EXPECT_EQ(absent.linkedTitleRange(), (CharacterRange{0, 10}));
    BottomNotificationBarModel shortText("Invite now", "l", "Hi", nullptr);
    EXPECT_EQ(shortText.linkedTitleRange(), (CharacterRange{0, 2}));
}

TEST(NotificationBarModels, BuiltFromTheBackendsData) {
    auto top = makeTopNotificationBarModel({"bold", "https://t", "some bold text", std::string("action")});
    EXPECT_EQ(top->style, std::optional<std::string>("action"));
    EXPECT_EQ(top->link, "https://t");
    auto bottom = makeBottomNotificationBarModel({"t", "https://b", "line", "https://cdn/icon.png", "icon.png"}, nullptr);
    EXPECT_EQ(bottom->footerLinkedText, "line");
    EXPECT_FALSE(bottom->footerIcon);  // no client to bind it to
}

}  // namespace
}  // namespace hw
