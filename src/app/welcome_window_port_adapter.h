#pragma once
#include <memory>

#include "app/shell_window_ports.h"
#include "controllers/welcome_window_view_controller.h"
#include "controllers/welcome_window_widget.h"

namespace hw {

// The application's quit key on a window of its own.
void installQuitShortcut(QWidget& window, std::function<void()> onQuit);

// The onboarding pages as the application carries them.
std::optional<std::string> readBundledOnBoardingPages();

// The shell's view of the welcome window: owns the widget and its controller.
class WelcomeWindowPortAdapter final : public ShellWindowPort {
public:
    WelcomeWindowPortAdapter(const BaseControllerContext& context, ShellCommands& shell);
    ~WelcomeWindowPortAdapter() override;

    WelcomeWindowWidget& widget() { return *widget_; }
    WelcomeWindowViewController& controller() { return *controller_; }

    void showWindow() override;
    void orderOut() override { controller_->orderOut(); }
    void close() override { controller_->close(); }
    bool isVisible() const override { return widget_->isVisible(); }
    AlertView* sheetAlerts() override { return &widget_->alerts(); }

private:
    std::unique_ptr<WelcomeWindowWidget> widget_;
    std::unique_ptr<WelcomeWindowViewController> controller_;
};

}  // namespace hw
