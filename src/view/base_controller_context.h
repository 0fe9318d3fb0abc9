#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "core/application_model.h"
#include "platform/url_opener.h"

namespace hw {

using AnalyticsParameters = std::map<std::string, std::string>;
// Bound by the shell to the analytics service's sendEvent; the kit never sees the hub.
using AnalyticsSink = std::function<void(const std::string& name, const std::optional<AnalyticsParameters>& parameters)>;

// What every window and view controller is built on. Each reference must outlive it.
struct BaseControllerContext {
    ApplicationModel& model;
    AnalyticsSink analytics;
    URLOpener& urlOpener;
};

}  // namespace hw
