#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/application_model.h"
#include "platform/http.h"

namespace hw {

// Sends analytics events to the tracker, only while the user allows it.
class AnalyticsService {
public:
    using Parameters = std::map<std::string, std::string>;

    AnalyticsService(ApplicationModel& model, HttpClient& http);
    ~AnalyticsService();

    // The tracker; the remote configuration may replace it.
    std::string trackerURL;

    void sendEvent(const std::string& name, const std::optional<Parameters>& parameters = std::nullopt);

private:
    ApplicationModel& model_;
    HttpClient& http_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace hw
