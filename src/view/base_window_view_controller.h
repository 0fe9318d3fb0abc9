#pragma once
#include <functional>
#include <optional>
#include <string>

#include "view/base_controller_context.h"
#include "view/ns_window_moveable.h"

namespace hw {

// Base of every window controller. The window is "loaded" the first time it
// is needed (shown, ordered out or read); the hooks then run in a fixed order:
// changeWindowTitleName, setupAfterAwakeFromNib, setupComponents,
// customizeComponents. Every showWindow runs setupAfterOpening after showing;
// every close runs onWindowClosedNotification, then setupBeforeClosing.
class BaseWindowViewController : public NSWindowMoveable {
public:
    BaseWindowViewController(const BaseControllerContext& context, WindowView& window);
    ~BaseWindowViewController() override;

    // Set by the shell; runs with the controller when its window is about to close.
    std::function<void(BaseWindowViewController&)> onWindowClosedNotification;

    ApplicationModel& model() const { return context_.model; }

    // The window, loaded first when it is not yet.
    WindowView& window();
    bool isWindowLoaded() const { return loaded_; }

    void showWindow();
    // Back on screen without the opening hooks: for a window whose opening
    // already ran while it was off the screen.
    void orderFront();
    // Hides the window; no close hooks run.
    void orderOut();
    void close();

    // An application-modal alert with one "OK" button; onDismiss runs when it is answered.
    void alertWithTitle(const std::string& title, const std::string& message,
                        std::function<void()> onDismiss = nullptr);
    // The same as a sheet on this window, with the buttons given; answers 1000, 1001, ...
    void beginSheet(AlertRequest request, std::function<void(int response)> completion);

    void sendAnalyticsEvent(const std::string& name,
                            const std::optional<AnalyticsParameters>& parameters = std::nullopt) const;

protected:
    void prepareWindowMoveObservers() override {}
    virtual void changeWindowTitleName();
    virtual void setupAfterAwakeFromNib() {}
    virtual void setupComponents() {}
    virtual void customizeComponents() {}
    virtual void setupAfterOpening() {}
    virtual void setupBeforeClosing() {}

    const BaseControllerContext& context() const { return context_; }
    // The window's own name, before the product's in its title, so that
    // task bars and window lists tell the windows apart; the main window has none.
    void setWindowName(std::string name) { windowName_ = std::move(name); }

private:
    void loadWindowIfNeeded();
    void windowWillClose();

    BaseControllerContext context_;
    std::string windowName_;
    bool loaded_ = false;
};

}  // namespace hw
