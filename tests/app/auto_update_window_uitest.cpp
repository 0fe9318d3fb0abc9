// The real update window offscreen: as a sheet through the shell, and end to
// end against the testbed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <filesystem>

#include "app/app_delegate_fixture.h"
#include "app/auto_update_window_factory.h"
#include "app/auto_update_window_widget.h"
#include "app/recording_auto_update_view.h"
#include "platform/qt/qt_file_download.h"
#include "platform/qt/qt_main_queue.h"
#include "support/fake_file_download.h"
#include "support/kit_controller_fixture.h"
#include "support/qt_test_app.h"
#include "support/recording_process_launcher.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/widget_test_app.h"
#include "testbed/testbed_env.h"
#include "view/kit_controls.h"
#include "view/kit_window.h"

namespace hw {
namespace {

AutoUpdateWindowWidget* shownUpdateWindow() {
    for (auto* w : QApplication::topLevelWidgets()) {
        if (auto* u = qobject_cast<AutoUpdateWindowWidget*>(w); u && u->isVisible()) return u;
    }
    return nullptr;
}

// The main window as the shell sees it, on a real kit window.
class KitMainWindow final : public test::RecordingMainWindow {
public:
    explicit KitMainWindow(test::Journal& journal) : RecordingMainWindow("main", journal) { disconnectShown = true; }
    WindowView* windowView() override { return &kit; }
    KitWindow kit;
};

class UpdateSheet : public test::AppDelegateTest, private test::WidgetAppFirst {
protected:
    void SetUp() override {
        configure = [this](AppDelegateEnvironment& e) {
            auto main = std::make_unique<KitMainWindow>(journal);
            kitMain = main.get();
            e.windows.main = std::move(main);
            e.makeAutoUpdateWindowController =
                autoUpdateWindowMaker(factory->queue, model(), download, launcher, "/usr/bin/havenway");
        };
        make();
    }
    test::FakeFileDownload download;
    test::RecordingProcessLauncher launcher;
    KitMainWindow* kitMain = nullptr;
};

TEST_F(UpdateSheet, ThePanesRoadShowsAWindowModalSheetWhoseEndReachesTheMainWindow) {
    kitMain->kit.resize(800, 600);
    kitMain->kit.show();
    ShellCommands& shell = *delegate;
    shell.startAutoUpdater(kitMain->kit);
    auto* sheet = shownUpdateWindow();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), &kitMain->kit);
    EXPECT_EQ(QApplication::activeModalWidget(), sheet);

    sheet->installButton()->click();
    EXPECT_TRUE(journaled("main.performIntentionalDisconnect")) << "downloading kept the tunnel";
    EXPECT_EQ(download.running(), 1u);
    sheet->cancelButton()->click();
    EXPECT_TRUE(test::spinUntil([&] { return journaled("main.autoUpdateSheetDidEnd"); }, 5000));
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->parentWidget(), nullptr) << "the main window would own the controller's dialog";
    EXPECT_EQ(download.running(), 0u);

    shell.startAutoUpdater(kitMain->kit);
    ASSERT_EQ(shownUpdateWindow(), sheet) << "one window for the process";
    EXPECT_EQ(sheet->installButton()->text(), "Install") << "shown again from the offer";
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(sheet, &escape);
    EXPECT_TRUE(test::spinUntil([&] { return count("main.autoUpdateSheetDidEnd") == 2; }, 5000))
        << "Escape left the overlay up";
}

TEST(UpdateWindowEndToEnd, InstallDownloadsFromTheTestbedAndRestartHandsTheScriptTheArchive) {
    test::widgetTestApp();
    auto env = test::TestbedEnv::load();
    if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << test::TestbedEnv::path();
    env->exportToEnvironment();
    test::KitControllerFixture fixture;
    test::TempDir dir;
    namespace fs = std::filesystem;
    const std::string bundle = dir.file("Havenway");
    fs::create_directories(bundle + "/bin");
    fs::create_directories(bundle + "/share/havenway");
    fs::copy_file(std::string(HW_SOURCE_DIR) + "/resources/install-update.sh",
                  bundle + "/share/havenway/install-update.sh");
    test::TempDir::write(bundle + "/bin/havenway", "#!/bin/sh\n");
    fs::permissions(bundle + "/bin/havenway", fs::perms::owner_all);
    test::ScopedEnv data("HAVENWAY_DATA_DIR", dir.file("data").c_str());

    fixture.model.appAutoUpdateDownloadURL = env->webUrl() + "/downloads/havenway-update.zip";
    fixture.model.newAppVersionString = "2.0.0";
    QtMainQueue queue;
    QtFileDownload download(queue);
    test::RecordingProcessLauncher launcher;
    test::RecordingAutoUpdateShell shell;
    auto controller = autoUpdateWindowMaker(queue, fixture.model, download, launcher, bundle + "/bin/havenway")(shell);
    controller->showWindow();
    auto* window = shownUpdateWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->confirmUpdateMessage()->text(), "Havenway update v2.0.0\nis available.");

    int highest = 0;
    QObject::connect(window->progressIndicator(), &QProgressBar::valueChanged, [&](int v) { highest = std::max(highest, v); });
    window->installButton()->click();
    ASSERT_TRUE(test::spinUntil([&] { return window->installButton()->text() == "Restart"; }, 20000))
        << window->statusMessage()->text().toStdString();
    EXPECT_EQ(highest, 100);
    EXPECT_EQ(window->statusMessage()->text(), "Ready to install.");
    EXPECT_TRUE(window->installButton()->isEnabled());

    window->installButton()->click();
    ASSERT_EQ(launcher.launches.size(), 1u);
    const auto& l = launcher.launches[0];
    EXPECT_EQ(l.executable, bundle + "/share/havenway/install-update.sh");
    EXPECT_EQ(l.arguments, (std::vector<std::string>{dir.file("data") + "/auto-update.zip", bundle}));
    EXPECT_EQ(test::TempDir::mode(l.arguments[0]), 0600u);
    ProcessLauncher::Environment expected;
    for (const char* name : {"PATH", "USER", "HOME", "SHELL"}) {
        if (const char* v = std::getenv(name)) expected.emplace_back(name, v);
    }
    EXPECT_EQ(l.environment, expected);
    EXPECT_EQ(shell.calls, std::vector<std::string>{"performQuitApplicationFromStatusBar"});
    EXPECT_FALSE(window->isVisible()) << "Restart left the window up";
}

}  // namespace
}  // namespace hw
