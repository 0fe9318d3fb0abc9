#pragma once
#include <functional>
#include <optional>
#include <string>

#include "json/json.h"
#include "platform/backend/parse_client.h"

namespace hw {

// The notification bars as "getNotificationsDataV2" answers them; the pane
// builds its bar records from these.
struct TopNotificationBarData {
    std::string title;     // "toptextbold"
    std::string link;      // "toplink"
    std::string fullText;  // "toptext"
    std::optional<std::string> style;
};

struct BottomNotificationBarData {
    std::string title;             // "bottomtextbold"
    std::string footerLink;        // "bottomlink"
    std::string footerLinkedText;  // "bottomtext"
    // The icon file ("bottomicon"): its address, https only; empty when none.
    std::string footerIconURL;
    std::string footerIconName;
};

struct NotificationsData {
    std::optional<TopNotificationBarData> top;
    std::optional<BottomNotificationBarData> bottom;

    // A bar is there only when its whole line is a non-empty text.
    static NotificationsData fromJSON(const JSON& result);
};

// Calls "getNotificationsDataV2"; the completion runs once, with the data or
// an error.
void requestNotificationsData(ParseClient& parse, const std::string& platform, const std::string& version,
                              std::function<void(std::optional<NotificationsData>, OptionalParseError)> completion);

}  // namespace hw
