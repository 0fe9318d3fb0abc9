#include "app/app_delegate.h"
#include "platform/log.h"

namespace hw {

namespace {
constexpr const char* kLog = "AppDelegate";
}  // namespace

AutoUpdateWindowController* AppDelegate::autoUpdateWindowController() {
    if (!autoUpdateWindowController_ && env_.makeAutoUpdateWindowController) {
        autoUpdateWindowController_ = env_.makeAutoUpdateWindowController(*this);
    }
    return autoUpdateWindowController_.get();
}

void AppDelegate::startAutoUpdater(WindowView& parent) {
    guarded([this, &parent] {
        ShellWindowPort* owner = nullptr;
        for (auto* window : allWindows()) {
            if (window->windowView() == &parent) owner = window;
        }
        auto* controller = autoUpdateWindowController();
        if (!controller) {
            log::warning(kLog, "no update window in this build");
            if (owner) owner->autoUpdateSheetDidEnd();
            return;
        }
        controller->setupAfterOpening();
        controller->beginSheet(parent, [owner, alive = std::weak_ptr<bool>(alive_)] {
            if (!alive.expired() && owner) owner->autoUpdateSheetDidEnd();
        });
    });
}

bool AppDelegate::connectButtonIsInDisconnectOrEmptyState() {
    return windows_.main && windows_.main->connectButtonIsInDisconnectOrEmptyState();
}

void AppDelegate::performIntentionalDisconnect() {
    if (windows_.main) windows_.main->performIntentionalDisconnect();
}

}  // namespace hw
