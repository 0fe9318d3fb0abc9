#pragma once
// The shell on a hub of fakes with its bare windows; never shown itself.
#include <QWidget>

#include "app/app_delegate.h"
#include "app/auto_update_window_factory.h"
#include "app/bare_shell_windows.h"
#include "app/kit_shell_alerts.h"
#include "app/shell_doubles.h"
#include "support/fake_file_download.h"
#include "support/fake_hub_factory.h"
#include "support/recording_process_launcher.h"

namespace hw::shots {

class ShellRig final : public QWidget {
public:
    explicit ShellRig(bool launched = true) {
        AppDelegateEnvironment e{hub, factory->store, factory->queue, services, makeBareShellWindows(nullptr), alerts,
                                 notifications};
        e.makeAutoUpdateWindowController =
            autoUpdateWindowMaker(factory->queue, hub.appModel(), download, launcher, "/usr/bin/havenway");
        delegate = std::make_unique<AppDelegate>(std::move(e));
        if (launched) delegate->applicationDidFinishLaunching();
        factory->queue.runUntilIdle();
    }
    ~ShellRig() override { delegate.reset(); }
    static KitWindow& window(ShellWindowPort* port) { return dynamic_cast<BareShellWindow&>(*port).window(); }

    std::shared_ptr<test::FakeHubFactory> factory = std::make_shared<test::FakeHubFactory>();
    ServiceLayer hub{factory};
    test::Journal journal;
    test::FakeShellServices services{journal};
    KitShellAlerts alerts;
    test::FakeUserNotificationCenter notifications;
    test::FakeFileDownload download;
    test::RecordingProcessLauncher launcher;
    std::unique_ptr<AppDelegate> delegate;
};

}  // namespace hw::shots
