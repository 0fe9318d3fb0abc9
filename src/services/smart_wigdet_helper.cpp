#include "services/smart_wigdet_helper.h"

#include "json/json.h"
#include "platform/log.h"
#include "services/form_encoding.h"

namespace hw {
namespace {
constexpr std::string_view kLog = "SmartWigdetHelper";
constexpr std::size_t kMaxField = 2048;
}  // namespace

SmartWigdetHelper::SmartWigdetHelper(HttpClient& http) : http_(http) {}
SmartWigdetHelper::~SmartWigdetHelper() = default;

void SmartWigdetHelper::requestSmartWidgetData(const std::string& applicationID, const std::string& sessionToken,
                                               std::function<void(SmartWidgetReply)> onCompleted,
                                               std::function<void(const std::string& reason)> onError) {
    auto failed = [onError](const std::string& reason) {
        if (onError) onError(reason);
    };
    if (!smartWidgetURL || !isWebURL(*smartWidgetURL)) {
        log::warning(kLog, "requestSmartWidgetData() -- no widget address configured");
        failed("no widget address configured");
        return;
    }
    HttpRequest request;
    request.method = "POST";
    request.url = *smartWidgetURL;
    request.ignoreCache = true;
    request.headers = {{"X-Parse-Application-Id", applicationID},
                       {"X-Parse-Session-Token", sessionToken},
                       {"Content-Type", "application/x-www-form-urlencoded"}};
    std::weak_ptr<bool> alive = alive_;
    http_.send(std::move(request), [alive, onCompleted, failed](HttpResponse response) {
        if (alive.expired()) return;
        if (response.error) {
            log::warning(kLog, "requestSmartWidgetData() response - Error: " + response.error->message);
            failed(response.error->message);
            return;
        }
        auto json = JSON::parse(response.body);
        if (response.status < 200 || response.status >= 300 || json.type() != JSON::Type::dictionary) {
            log::warning(kLog, "requestSmartWidgetData() unexpected answer, status " + std::to_string(response.status));
            failed("");
            return;
        }
        auto field = [&json](const char* key) {
            auto s = json[key].stringValue();
            return s.size() > kMaxField ? std::string() : s;
        };
        SmartWidgetReply reply{field("link"), field("title"), field("image"), field("subtitle"), field("link_text")};
        if (!reply.link.empty() && !isWebURL(reply.link)) reply.link.clear();
        if (!reply.image.empty() && !isWebURL(reply.image)) reply.image.clear();
        log::info(kLog, "requestSmartWidgetData() -- widget data received");
        if (onCompleted) onCompleted(std::move(reply));
    });
}

}  // namespace hw
