// The update window in each of its states, alone and as a sheet.
#include <QWidget>

#include "app/app_delegate.h"
#include "app/auto_update_window_factory.h"
#include "app/auto_update_window_widget.h"
#include "app/bare_shell_windows.h"
#include "app/kit_shell_alerts.h"
#include "app/recording_auto_update_view.h"
#include "app/shell_doubles.h"
#include "shots.h"
#include "support/fake_file_download.h"
#include "support/fake_hub_factory.h"
#include "support/recording_process_launcher.h"

namespace hw::shots {
namespace {

// The window's controller on scripted ports; never shown itself.
class UpdateRig final : public QWidget {
public:
    UpdateRig() {
        model().newAppVersionString = "2.0.0";
        model().appAutoUpdateDownloadURL = "https://updates.test/havenway.zip";
        controller = autoUpdateWindowMaker(factory->queue, model(), download, launcher, "/usr/bin/havenway")(shell);
        controller->showWindow();
    }
    ~UpdateRig() override { controller.reset(); }
    ApplicationModel& model() { return hub.appModel(); }
    // Install pressed; the server answers 100 bytes and sends some of them.
    void downloadTo(int bytes) {
        controller->onUpdateButtonClick();
        download.last().respond(200, 100);
        download.last().block(bytes);
    }
    void fail() {
        download.last().fail();
        factory->queue.advance(5000);
        download.last().fail();
    }

    std::shared_ptr<test::FakeHubFactory> factory = std::make_shared<test::FakeHubFactory>();
    ServiceLayer hub{factory};
    test::FakeFileDownload download;
    test::RecordingProcessLauncher launcher;
    test::RecordingAutoUpdateShell shell;
    std::unique_ptr<AutoUpdateWindowController> controller;
};

HW_SHOT("update.confirm", [](ShotStage& stage) { stage.window<UpdateRig>(); });

HW_SHOT("update.downloading", [](ShotStage& stage) { stage.window<UpdateRig>().downloadTo(40); });

HW_SHOT("update.preparing", [](ShotStage& stage) {
    auto& rig = stage.window<UpdateRig>();
    rig.downloadTo(100);
    rig.download.last().finish();
    rig.factory->queue.runUntilIdle();
});

HW_SHOT("update.ready", [](ShotStage& stage) {
    auto& rig = stage.window<UpdateRig>();
    rig.downloadTo(100);
    rig.download.last().finish();
    rig.factory->queue.advance(1000);
});

HW_SHOT("update.failed", [](ShotStage& stage) {
    auto& rig = stage.window<UpdateRig>();
    rig.downloadTo(0);
    rig.fail();
});

// The shell with its bare main window, which the sheet drops from.
class SheetRig final : public QWidget {
public:
    SheetRig() {
        AppDelegateEnvironment e{hub, factory->store, factory->queue, services, makeBareShellWindows(nullptr), alerts,
                                 notifications};
        hub.appModel().newAppVersionString = "2.0.0";
        e.makeAutoUpdateWindowController =
            autoUpdateWindowMaker(factory->queue, hub.appModel(), download, launcher, "/usr/bin/havenway");
        delegate = std::make_unique<AppDelegate>(std::move(e));
        delegate->openMainWindow();
        main().setGeometry(80, 80, 760, 480);
    }
    ~SheetRig() override { delegate.reset(); }
    KitWindow& main() { return dynamic_cast<BareShellWindow&>(delegate->mainWindowController()).window(); }

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

HW_SHOT("update.sheet-on-main-window", [](ShotStage& stage) {
    auto& rig = stage.window<SheetRig>();
    stage.afterShown([&rig] { rig.delegate->startAutoUpdater(rig.main()); });
});

}  // namespace
}  // namespace hw::shots
