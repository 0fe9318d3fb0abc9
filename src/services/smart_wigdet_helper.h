#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/http.h"

namespace hw {

// The information widget's fields as the web API answers them.
struct SmartWidgetReply {
    std::string link;
    std::string title;
    std::string image;
    std::string subtitle;
    std::string link_text;
};

// Requests the information widget from the service's web API, authorised by
// the backend session. The session token is never logged.
class SmartWigdetHelper {
public:
    explicit SmartWigdetHelper(HttpClient& http);
    ~SmartWigdetHelper();

    // The remote configuration's "smartWidgetURL"; nothing before it arrives.
    std::optional<std::string> smartWidgetURL;

    // onError gets a short reason (empty when the answer was not understood).
    void requestSmartWidgetData(const std::string& applicationID, const std::string& sessionToken,
                                std::function<void(SmartWidgetReply)> onCompleted,
                                std::function<void(const std::string& reason)> onError);

private:
    HttpClient& http_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
