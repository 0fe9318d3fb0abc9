#include "app/auto_update_window_factory.h"

#include <cstdlib>

#include "core/application_support_directory.h"
#include "windows/update/widgets/auto_update_window_widget.h"

namespace hw {

AutoUpdateWindowMaker autoUpdateWindowMaker(MainQueue& queue, ApplicationModel& model, FileDownload& download,
                                            ProcessLauncher& launcher, std::string executablePath) {
    return [&queue, &model, &download, &launcher, executablePath](AutoUpdateShell& shell) {
        AutoUpdateWindowEnvironment env{
            queue, model, shell, [] { return std::make_unique<AutoUpdateWindowWidget>(); },
            [&queue, &download, &launcher, executablePath](const std::string& host, const std::string& channel,
                                                           std::int64_t percentile) {
                AUUpdaterPorts ports{queue, download, launcher, executablePath, applicationSupportDirectory,
                                     [](const char* name) -> const char* { return std::getenv(name); }};
                return std::make_unique<AUUpdater>(std::move(ports), host, channel, percentile);
            }};
        return std::make_unique<AutoUpdateWindowController>(std::move(env));
    };
}

}  // namespace hw
