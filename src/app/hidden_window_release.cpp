#include "app/hidden_window_release.h"

#include <algorithm>
#include <string>

#include "platform/log.h"
#include "view/kit_window.h"

namespace hw {

namespace {

// The web sign-in page draws through a surface of the window's own; it is
// left as Qt made it.
bool holdsWebPage(const QWidget& window) {
    const auto children = window.findChildren<QWidget*>();
    return std::any_of(children.begin(), children.end(), [](const QWidget* w) {
        return w->inherits("QWebEngineView") || w->inherits("QQuickWidget");
    });
}

}  // namespace

void HiddenWindowRelease::hidden(QWidget* window) {
    if (!window || std::find(hidden_.begin(), hidden_.end(), window) != hidden_.end()) return;
    hidden_.emplace_back(window);
}

void HiddenWindowRelease::release() {
    int released = 0;
    for (const auto& window : hidden_) {
        auto* kit = qobject_cast<KitWindow*>(window.data());
        if (!kit || !kit->isHidden() || !kit->windowHandle() || (keeps_ && keeps_(kit)) || holdsWebPage(*kit)) continue;
        kit->releaseNativeWindow();
        ++released;
    }
    hidden_.clear();
    if (released > 0) log::debug("shell", "hidden windows released their native windows: " + std::to_string(released));
}

}  // namespace hw
