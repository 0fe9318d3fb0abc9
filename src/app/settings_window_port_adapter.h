#pragma once
#include <memory>

#include "app/shell_window_ports.h"
#include "windows/settings/settings_window_view_controller.h"
#include "windows/settings/widgets/settings_window_widget.h"

namespace hw {

class BackgroundQueue;
class MainQueue;
class ServiceLayer;

// What the settings window is made of, besides the shell it reports to.
struct SettingsWindowAssembly {
    BaseControllerContext context;
    UserDefaultsController& settings;
    MainQueue& mainQueue;
    BackgroundQueue& background;
    ServiceLayer& hub;
    SettingsLayout layout = SettingsLayout::Tabbed;
};

// The shell's view of the settings window: owns the window and its
// controller and hands each call on.
class SettingsWindowPortAdapter final : public SettingsWindowPort {
public:
    SettingsWindowPortAdapter(const SettingsWindowAssembly& assembly, ShellCommands& shell);
    ~SettingsWindowPortAdapter() override;

    SettingsWindowWidget& widget() { return *widget_; }
    SettingsWindowViewController& controller() { return *controller_; }

    void showWindow() override { controller_->showWindow(); }
    void orderFront() override { controller_->orderFront(); }
    void orderOut() override { controller_->orderOut(); }
    void close() override { controller_->close(); }
    bool isVisible() const override { return widget_->isVisible(); }
    AlertView* sheetAlerts() override { return &widget_->alerts(); }
    void centerOnScreen() override { controller_->window().center(); }
    void setupComponents() override { controller_->setupComponents(); }
    void selectPane(const std::string& identifier) override { controller_->selectPaneWithIdentifier(identifier); }
    WindowView* windowView() override { return widget_.get(); }
    void autoUpdateSheetDidEnd() override { controller_->autoUpdaterSheetEnded(); }

private:
    std::unique_ptr<SettingsWindowWidget> widget_;
    std::unique_ptr<SettingsWindowViewController> controller_;
};

}  // namespace hw
