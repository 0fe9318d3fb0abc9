#include "services/notifications_data.h"

#include "platform/log.h"
#include "services/form_encoding.h"

namespace hw {

NotificationsData NotificationsData::fromJSON(const JSON& result) {
    NotificationsData data;
    if (auto text = result["toptext"].string(); text && !text->empty()) {
        TopNotificationBarData top;
        top.title = result["toptextbold"].stringValue();
        top.link = result["toplink"].stringValue();
        top.fullText = *text;
        top.style = result["style"].string();
        if (top.style && top.style->empty()) top.style.reset();
        data.top = std::move(top);
    }
    if (auto text = result["bottomtext"].string(); text && !text->empty()) {
        BottomNotificationBarData bottom;
        bottom.title = result["bottomtextbold"].stringValue();
        bottom.footerLink = result["bottomlink"].stringValue();
        bottom.footerLinkedText = *text;
        const auto icon = result["bottomicon"];
        if (icon["__type"].string() == std::optional<std::string>("File")) {
            auto url = icon["url"].stringValue();
            if (url.rfind("https://", 0) == 0 && isWebURL(url)) {
                bottom.footerIconURL = url;
                bottom.footerIconName = icon["name"].stringValue();
            }
        }
        data.bottom = std::move(bottom);
    }
    return data;
}

void requestNotificationsData(ParseClient& parse, const std::string& platform, const std::string& version,
                              std::function<void(std::optional<NotificationsData>, OptionalParseError)> completion) {
    log::info("ParseConfigService", "PARSE call -- getNotificationsDataV2 started..");
    parse.callFunction("getNotificationsDataV2",
                       JSON::dictionaryLiteral({{"platform", platform}, {"version", version}}),
                       [completion](JSON result, OptionalParseError error) {
                           if (error) {
                               log::warning("ParseConfigService", "getNotificationsDataV2 failed with code " +
                                                                      std::to_string(error->code));
                               completion(std::nullopt, std::move(error));
                               return;
                           }
                           if (result.type() != JSON::Type::dictionary) {
                               ParseError e;
                               e.code = kParseErrorInvalidJSON;
                               e.message = "the notification data is not a dictionary";
                               completion(std::nullopt, e);
                               return;
                           }
                           completion(NotificationsData::fromJSON(result), std::nullopt);
                       });
}

}  // namespace hw
