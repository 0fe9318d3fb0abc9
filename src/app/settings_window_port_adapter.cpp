#include "app/settings_window_port_adapter.h"

#include "windows/settings/widgets/settings_entire_page_widget.h"

namespace hw {

SettingsWindowPortAdapter::SettingsWindowPortAdapter(const SettingsWindowAssembly& assembly, ShellCommands& shell)
    : widget_(std::make_unique<SettingsWindowWidget>(assembly.settings, assembly.layout)) {
    controller_ = std::make_unique<SettingsWindowViewController>(
        assembly.context, *widget_, *widget_,
        settingsDependenciesFromHub(assembly.hub, assembly.settings, shell, assembly.mainQueue, assembly.background),
        widget_->entirePage());
    widget_->setController(controller_.get());
    controller_->onWindowClosedNotification = [this](BaseWindowViewController&) {
        if (onWindowClosedNotification) onWindowClosedNotification();
    };
}

SettingsWindowPortAdapter::~SettingsWindowPortAdapter() {
    widget_->setController(nullptr);
    controller_.reset();
}

}  // namespace hw
