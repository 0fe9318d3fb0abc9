#include "app/app_delegate.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "texts/locale_data.h"

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

void AppDelegate::tellUpdateWasRefused() {
    const std::string title = LocaleData::auto_update_refused_title();
    log::warning(kLog, title + ": the install script refused the archive and started this version again; its reason is in " +
                           paths::logsDir() + "/install-update.log");
    std::weak_ptr<bool> alive = alive_;
    // After the first window, on its own: a sheet would go with a login
    // window that the sign-in closes.
    queue_.post([this, alive, title] {
        if (alive.expired() || terminating_) return;
        alerts_.present(nullptr,
                        ShellAlert{title, LocaleData::fill(LocaleData::auto_update_refused_text(), model().appVersion),
                                   LocaleData::notification_popup_ok_button(), ""},
                        [](int) {});
    });
}

bool AppDelegate::connectButtonIsInDisconnectOrEmptyState() {
    return windows_.main && windows_.main->connectButtonIsInDisconnectOrEmptyState();
}

void AppDelegate::performIntentionalDisconnect() {
    if (windows_.main) windows_.main->performIntentionalDisconnect();
}

}  // namespace hw
