#include "services/analytics_service.h"

#include "core/global_constants.h"
#include "json/json.h"
#include "platform/log.h"
#include "services/form_encoding.h"

namespace hw {
namespace {
constexpr std::string_view kLog = "AnalyticsService";
}

AnalyticsService::AnalyticsService(ApplicationModel& model, HttpClient& http)
    : trackerURL(GlobalConstants::analyticsTrackerURL()), model_(model), http_(http) {}

AnalyticsService::~AnalyticsService() = default;

void AnalyticsService::sendEvent(const std::string& name, const std::optional<Parameters>& parameters) {
    if (!model_.sendAnalyticsData()) return;
    std::map<std::string, JSON> params;
    std::string described;
    if (parameters) {
        for (const auto& [key, value] : *parameters) {
            params[key] = JSON(value);
            described += " " + key + "=" + value;
        }
    }
    log::info(kLog, "sendEvent: " + name + (described.empty() ? "" : " --" + described));
    if (!isWebURL(trackerURL)) {
        log::warning(kLog, "deliverAnalyticsEvent() response - Error: no tracker address");
        return;
    }
    HttpRequest request;
    request.method = "POST";
    request.url = trackerURL;
    request.ignoreCache = true;
    request.headers = {{"Content-Type", "application/json"}};
    auto body = JSON::dictionaryLiteral({{"event", name},
                                         {"parameters", JSON(params)},
                                         {"platform", model_.platform},
                                         {"appVersion", model_.appVersion}});
    request.body = body.rawString(JSONEncoding::utf8, JSONWritingOptions::none).value_or("{}");
    std::weak_ptr<bool> alive = alive_;
    http_.send(std::move(request), [alive](HttpResponse response) {
        if (alive.expired()) return;
        const bool ok = !response.error && response.status >= 200 && response.status < 300;
        log::info(kLog, ok ? "deliverAnalyticsEvent() response - SUCCESS" : "deliverAnalyticsEvent() response - Error");
    });
}

}  // namespace hw
