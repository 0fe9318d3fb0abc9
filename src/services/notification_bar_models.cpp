#include "services/notification_bar_models.h"

#include <algorithm>

#include "core/grapheme_text.h"
#include "json/json.h"
#include "platform/backend/parse_client.h"
#include "services/notifications_data.h"

namespace hw {

namespace {

// Server texts may name words that are not there or end early: a range
// that ran past the text would style characters that do not exist.
CharacterRange clamped(CharacterRange range, std::size_t count) {
    range.location = std::min(range.location, count);
    range.length = std::min(range.length, count - range.location);
    return range;
}

}  // namespace

std::optional<std::size_t> TopNotificationBarModel::boldTextOffset() const { return rangesOfSubstring(fullText, title); }

CharacterRange TopNotificationBarModel::boldTextRange() const {
    const std::size_t titleCount = characterCount(title);
    const std::size_t textCount = characterCount(fullText);
    const std::size_t length = titleCount + 1;
    CharacterRange range{0, length};
    if (auto offset = boldTextOffset()) {
        const std::size_t i = *offset;
        if (i == 0) {
            // The blank looked for is the second character after the title.
            if (textCount >= length + 1 && characterAtOffset(fullText, static_cast<std::int64_t>(length)) == " ")
                range = {0, length + 1};
        } else {
            const std::size_t start =
                characterAtOffset(fullText, static_cast<std::int64_t>(i) - 1) == " " ? i - 1 : i;
            range = {start, length};
            if (textCount >= i + length &&
                characterAtOffset(fullText, static_cast<std::int64_t>(i + titleCount)) == " ")
                range.length = length + 1;
        }
    }
    return clamped(range, textCount);
}

std::optional<std::size_t> BottomNotificationBarModel::linkedTitleOffset() const {
    return rangesOfSubstring(footerLinkedText, title);
}

CharacterRange BottomNotificationBarModel::linkedTitleRange() const {
    return clamped({linkedTitleOffset().value_or(0), characterCount(title)}, characterCount(footerLinkedText));
}

std::shared_ptr<TopNotificationBarModel> makeTopNotificationBarModel(const TopNotificationBarData& data) {
    return std::make_shared<TopNotificationBarModel>(data.title, data.link, data.fullText, data.style);
}

std::shared_ptr<BottomNotificationBarModel> makeBottomNotificationBarModel(const BottomNotificationBarData& data,
                                                                           ParseClient* parse) {
    ParseFilePtr icon;
    if (parse && !data.footerIconURL.empty()) {
        icon = parse->fileFromJSON(JSON::dictionaryLiteral(
            {{"__type", "File"}, {"name", data.footerIconName}, {"url", data.footerIconURL}}));
    }
    return std::make_shared<BottomNotificationBarModel>(data.title, data.footerLink, data.footerLinkedText,
                                                        std::move(icon));
}

}  // namespace hw
