#include "view/base_window_view_controller.h"

#include <utility>

#include "texts/locale_data.h"

namespace hw {

BaseWindowViewController::BaseWindowViewController(const BaseControllerContext& context, WindowView& window)
    : NSWindowMoveable(window), context_(context) {}

BaseWindowViewController::~BaseWindowViewController() { windowView_.setCloseHandler(nullptr); }

WindowView& BaseWindowViewController::window() {
    loadWindowIfNeeded();
    return windowView_;
}

void BaseWindowViewController::loadWindowIfNeeded() {
    if (loaded_) return;
    loaded_ = true;
    windowView_.setCloseHandler([this] { windowWillClose(); });
    prepareWindowMoveObservers();
    changeWindowTitleName();
    setupAfterAwakeFromNib();
    setupComponents();
    customizeComponents();
}

void BaseWindowViewController::changeWindowTitleName() {
    windowView_.setTitle(windowName_.empty() ? model().appProductName
                                             : windowName_ + " \u2014 " + model().appProductName);
}

void BaseWindowViewController::showWindow() {
    loadWindowIfNeeded();
    windowView_.show();
    setupAfterOpening();
}

void BaseWindowViewController::orderFront() {
    loadWindowIfNeeded();
    windowView_.show();
}

void BaseWindowViewController::orderOut() {
    loadWindowIfNeeded();
    windowView_.orderOut();
}

void BaseWindowViewController::close() {
    // A window that was never needed has nothing to close.
    if (loaded_) windowView_.close();
}

void BaseWindowViewController::windowWillClose() {
    if (onWindowClosedNotification) {
        // A copy: the notification may replace itself.
        auto notify = onWindowClosedNotification;
        notify(*this);
    }
    setupBeforeClosing();
}

void BaseWindowViewController::alertWithTitle(const std::string& title, const std::string& message,
                                              std::function<void()> onDismiss) {
    AlertRequest request{title, message, {LocaleData::notification_popup_ok_button()}};
    request.modality = AlertModality::Application;
    window().alerts().presentAlert(request, [onDismiss = std::move(onDismiss)](int response) {
        if (response == kAlertFirstButtonReturn && onDismiss) onDismiss();
    });
}

void BaseWindowViewController::beginSheet(AlertRequest request, std::function<void(int)> completion) {
    request.modality = AlertModality::Sheet;
    window().alerts().presentAlert(request, std::move(completion));
}

void BaseWindowViewController::sendAnalyticsEvent(const std::string& name,
                                                  const std::optional<AnalyticsParameters>& parameters) const {
    if (context_.analytics) context_.analytics(name, parameters);
}

}  // namespace hw
