#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/file_download.h"
#include "platform/process_launcher.h"
#include "windows/update/auto_update_window_controller.h"

namespace hw {

using AutoUpdateWindowMaker = std::function<std::unique_ptr<AutoUpdateWindowController>(AutoUpdateShell&)>;

// The update window in its Qt dialog, its updater on the given ports. Each
// reference must outlive what the maker makes.
AutoUpdateWindowMaker autoUpdateWindowMaker(MainQueue& queue, ApplicationModel& model, FileDownload& download,
                                            ProcessLauncher& launcher, std::string executablePath);

}  // namespace hw
