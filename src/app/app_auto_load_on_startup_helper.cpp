#include "app/app_auto_load_on_startup_helper.h"

#include "platform/log.h"

namespace hw {

AppAutoLoadOnStartupHelper::AppAutoLoadOnStartupHelper(LoginItems& items, std::string applicationPath)
    : items_(items), applicationPath_(std::move(applicationPath)) {}

std::string AppAutoLoadOnStartupHelper::lastComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> AppAutoLoadOnStartupHelper::itemRefInLoginItems() {
    auto snapshot = items_.snapshot();
    if (!snapshot) return std::nullopt;
    std::optional<std::string> found;
    const std::string ownName = lastComponent(applicationPath_);
    for (const auto& item : *snapshot) {
        if (!item.program) continue;
        if (*item.program == applicationPath_) {
            if (!found) found = item.id;
            else items_.remove(item.id);
            continue;
        }
        log::debug("AppAutoLoadOnStartupHelper", lastComponent(*item.program));
        if (lastComponent(*item.program) == ownName) items_.remove(item.id);
    }
    return found;
}

bool AppAutoLoadOnStartupHelper::isLaunchAtStartup() { return itemRefInLoginItems().has_value(); }

void AppAutoLoadOnStartupHelper::toggleLaunchAtStartup() {
    if (auto entry = itemRefInLoginItems()) items_.remove(*entry);
    else items_.add(applicationPath_, true);
}

}  // namespace hw
