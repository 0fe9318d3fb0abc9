#include "app/settings_window_port_adapter.h"

#include "controllers/settings_entire_page_widget.h"
#include "core/global_constants.h"
#include "hub/service_layer.h"
#include "services/links_manager.h"

namespace hw {

SettingsWindowPortAdapter::SettingsWindowPortAdapter(const SettingsWindowAssembly& assembly, ShellCommands& shell)
    : widget_(std::make_unique<SettingsWindowWidget>(assembly.settings, assembly.layout)) {
    ServiceLayer& hub = assembly.hub;
    auto link = [&hub](std::optional<std::string> (LinksManager::*read)() const) {
        return [&hub, read]() -> std::optional<std::string> {
            const auto& links = hub.linksManager();
            return links ? ((*links).*read)() : std::nullopt;
        };
    };
    controller_ = std::make_unique<SettingsWindowViewController>(
        assembly.context, *widget_, *widget_,
        SettingsWindowDependencies{assembly.settings,
                                   shell,
                                   assembly.mainQueue,
                                   assembly.background,
                                   [&hub] { return hub.wi_fi_InfoHelper(); },
                                   [&hub] { return hub.checkingIfNewAppVersionAvailable(); },
                                   {link(&LinksManager::supportTicketURL), link(&LinksManager::knowledgeBaseURL),
                                    link(&LinksManager::speedTestURL)},
                                   GlobalConstants::supportEmail()},
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
