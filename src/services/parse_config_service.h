#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/application_model.h"
#include "platform/backend/parse_client.h"
#include "platform/http.h"
#include "services/analytics_service.h"
#include "services/links_manager.h"
#include "services/notifications_data.h"
#include "services/smart_wigdet_helper.h"

namespace hw {

// The remote configuration into the state object and the services, the
// public-address lookup, the automatic location and the notification bars.
// Every completion runs once, on the main queue.
class ParseConfigService {
public:
    struct PublicAddressInfo {
        std::string address;
        std::string countryCode;
        std::string timeZone;  // the device's own zone when the reply had "time_zone"
        bool failed = false;
    };

    ParseConfigService(ApplicationModel& model, ParseClient& parse, HttpClient& http, LinksManager& links,
                       SmartWigdetHelper& widget, AnalyticsService& analytics);
    ~ParseConfigService();
    ParseConfigService(const ParseConfigService&) = delete;
    ParseConfigService& operator=(const ParseConfigService&) = delete;

    // The hub's answer to an expired session (error 209); see VPNConfigsService.
    std::function<void(std::function<void()> retry)> onParseSessionExpired;

    void loadParseConfig(std::function<void()> completed, std::function<void(OptionalParseError)> onError);
    // A required key is missing or of the wrong kind: fetch again.
    static bool isConfigIncomplete(const ParseConfig& config);
    void applyConfig(const ParseConfig& config, std::function<void()> completion);

    void requestPublicIPInfo(const std::string& url, std::function<void(PublicAddressInfo)> completion);
    static PublicAddressInfo readPublicIPInfo(const HttpResponse& response, const std::string& deviceTimeZone);
    // Answers nothing when the backend has no answer (the error is logged).
    void getAutomaticLocation(const std::string& address, const std::string& timeZone,
                              std::function<void(std::optional<std::string>)> completion);
    void requestNotificationsData(std::function<void(std::optional<NotificationsData>, OptionalParseError)> completion);

    // The zone of this machine ("Europe/Berlin"): TZ, then /etc/localtime, then
    // /etc/timezone; "UTC" when none says.
    static std::string deviceTimeZoneIdentifier();

private:
    void getAutomaticLocation(const std::string& address, const std::string& timeZone,
                              std::function<void(std::optional<std::string>)> completion, int sessionRetries);
    void applyMapFile(const JSON& value, bool dark);

    ApplicationModel& model_;
    ParseClient& parse_;
    HttpClient& http_;
    LinksManager& links_;
    SmartWigdetHelper& widget_;
    AnalyticsService& analytics_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
