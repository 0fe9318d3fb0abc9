// The update window in each of its states, alone and as a sheet.
#include <QWidget>

#include "demo_rig.h"
#include "shell_rig.h"
#include "shots.h"
#include "windows/update/recording_auto_update_view.h"
#include "windows/update/widgets/auto_update_window_widget.h"

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

// Restart where the application cannot replace its own folder (here a
// system path): the window says so and offers no Try Again.
HW_SHOT("update.cannot-install", [](ShotStage& stage) {
    auto& rig = stage.window<UpdateRig>();
    rig.downloadTo(100);
    rig.download.last().finish();
    rig.factory->queue.advance(1000);
    rig.controller->onUpdateButtonClick();
});

// The demo's main window with the shell's update sheet over it.
class SheetOnMainWindow final : public QWidget {
public:
    SheetOnMainWindow() { shell.hub.appModel().newAppVersionString = "2.0.0"; }
    std::unique_ptr<test::MainWindowTestbed> main = demoMainWindow(80, 80);
    ShellRig shell{false};
};

HW_SHOT("update.sheet-on-main-window", [](ShotStage& stage) {
    auto& rig = stage.window<SheetOnMainWindow>();
    stage.afterShown([&rig] { rig.shell.delegate->startAutoUpdater(*rig.main->widget); });
}, true);

}  // namespace
}  // namespace hw::shots
