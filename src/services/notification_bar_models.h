#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/backend/parse_file.h"

namespace hw {

class ParseClient;
struct TopNotificationBarData;
struct BottomNotificationBarData;

// A run of characters (grapheme clusters) inside a bar's text.
struct CharacterRange {
    std::size_t location = 0;
    std::size_t length = 0;
    bool operator==(const CharacterRange&) const = default;
};

// The server-fed bar at the top of the details pane.
class TopNotificationBarModel {
public:
    TopNotificationBarModel(std::string title, std::string link, std::string fullText,
                            std::optional<std::string> style)
        : title(std::move(title)), link(std::move(link)), fullText(std::move(fullText)), style(std::move(style)) {}

    const std::string title;  // the words shown in bold
    const std::string link;
    std::string fullText;
    const std::optional<std::string> style;

    const std::string& displayedText() const { return fullText; }
    std::optional<std::size_t> boldTextOffset() const;
    // The bold run with the blanks around the title taken in; never past the text.
    CharacterRange boldTextRange() const;
};

// The server-fed line at the foot of the details pane.
class BottomNotificationBarModel {
public:
    BottomNotificationBarModel(std::string title, std::string footerLink, std::string footerLinkedText,
                               ParseFilePtr footerIcon)
        : title(std::move(title)),
          footerLink(std::move(footerLink)),
          footerLinkedText(std::move(footerLinkedText)),
          footerIcon(std::move(footerIcon)) {}

    const std::string title;  // the linked words
    const std::string footerLink;
    std::string footerLinkedText;
    const ParseFilePtr footerIcon;

    std::optional<std::size_t> linkedTitleOffset() const;
    // Never past the text.
    CharacterRange linkedTitleRange() const;
};

std::shared_ptr<TopNotificationBarModel> makeTopNotificationBarModel(const TopNotificationBarData& data);
// The icon file is bound to the client so its data can be fetched; none without one.
std::shared_ptr<BottomNotificationBarModel> makeBottomNotificationBarModel(const BottomNotificationBarData& data,
                                                                           ParseClient* parse);

}  // namespace hw
