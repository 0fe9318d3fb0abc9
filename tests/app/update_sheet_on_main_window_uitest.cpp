// The real update window offscreen: as a sheet on the real main window,
// reached the way the details pane reaches it (its update bar, the shell, the
// sheet, and the end back through the main window to the pane's overlay), and
// alone end to end against the testbed.
// The hub's headers come before Qt's, whose emit keyword they use as a name.
#include "app/offscreen_hub.h"
#include "connection/vpn_connection_manager.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/app_delegate.h"
#include "app/auto_update_window_factory.h"
#include "app/main_window_port_adapter.h"
#include "platform/qt/qt_file_download.h"
#include "platform/qt/qt_main_queue.h"
#include "support/fake_file_download.h"
#include "support/kit_controller_fixture.h"
#include "support/manual_animation_driver.h"
#include "support/qt_test_app.h"
#include "support/recording_process_launcher.h"
#include "support/widget_test_app.h"
#include "testbed/testbed_env.h"
#include "view/kit_controls.h"
#include "view/top_bar/notification_bar_views.h"
#include "windows/details_pane/widgets/main_view_details_view.h"
#include "windows/main/widgets/main_window_widget.h"
#include "windows/update/recording_auto_update_view.h"
#include "windows/update/widgets/auto_update_window_widget.h"

namespace hw::test {
namespace {

AutoUpdateWindowWidget* shownUpdateWindow() {
    for (auto* w : QApplication::topLevelWidgets())
        if (auto* u = qobject_cast<AutoUpdateWindowWidget*>(w); u && u->isVisible()) return u;
    return nullptr;
}

// The application's shell and main window on the hub's real services and
// engine, with fakes only where the machine would be reached.
class UpdateSheetOnMainWindow : public ::testing::Test, private WidgetAppFirst, protected OffscreenHub {
protected:
    UpdateSheetOnMainWindow() {
        auto main = std::make_unique<MainWindowPortAdapter>(MainWindowAdapterParts{
            *hub, queue, queue, codec, queue, notifications, opener, nullptr,
            [this]() -> ShellCommands* { return delegate.get(); }, nullptr, nullptr});
        mainWindow = main.get();
        ShellWindows windows;
        windows.main = std::move(main);
        windows.auth = std::make_unique<RecordingAuthWindow>("auth", journal);
        windows.locations = std::make_unique<RecordingWindow>("locations", journal);
        AppDelegateEnvironment e{*hub, store, queue, services, std::move(windows), alerts, notifications};
        e.makeAutoUpdateWindowController =
            autoUpdateWindowMaker(queue, hub->appModel(), download, launcher, "/usr/bin/havenway");
        delegate = std::make_unique<AppDelegate>(std::move(e));
    }
    ~UpdateSheetOnMainWindow() override {
        delegate.reset();
        hub.reset();
    }

    FakeFileDownload download;
    RecordingProcessLauncher launcher;
    MainWindowPortAdapter* mainWindow = nullptr;
    std::unique_ptr<AppDelegate> delegate;
    ManualAnimationDriver animations;
};

TEST_F(UpdateSheetOnMainWindow, ThePanesUpdateBarOpensTheSheetAndItsCancelFadesThePanesOverlayOut) {
    hub->appModel().useAutoUpdater = true;
    mainWindow->showWindow();
    queue.runUntilIdle();
    auto* pane = mainWindow->widget().findChild<MainViewDetailsView*>();
    ASSERT_NE(pane, nullptr);
    mainWindow->showUpdateAvailableNotificationBar();
    animations.advanceInSteps(1000);
    auto* bar = dynamic_cast<UpgradeAvailableNotificationsBar*>(pane->topBarView(PaneTopBar::update));
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(bar->isVisible());

    bar->linkButton()->click();
    animations.advanceInSteps(500);
    EXPECT_TRUE(pane->autoUpdateOverlay()->isVisible());
    AutoUpdateWindowWidget* sheet = shownUpdateWindow();
    ASSERT_NE(sheet, nullptr) << "the fade's end did not open the sheet";
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), &mainWindow->widget());
    EXPECT_EQ(QApplication::activeModalWidget(), sheet);

    sheet->cancelButton()->click();
    queue.runUntilIdle();
    animations.advanceInSteps(1500);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->parentWidget(), nullptr) << "the main window would own the controller's dialog";
    EXPECT_TRUE(pane->autoUpdateOverlay()->isHidden()) << "the sheet's end never reached the pane";

    // Escape counts as Cancel, on the same window shown again from the offer.
    bar->linkButton()->click();
    animations.advanceInSteps(500);
    ASSERT_EQ(shownUpdateWindow(), sheet) << "one window for the process";
    EXPECT_EQ(sheet->installButton()->text(), "Install");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(sheet, &escape);
    queue.runUntilIdle();
    animations.advanceInSteps(1500);
    EXPECT_TRUE(pane->autoUpdateOverlay()->isHidden()) << "Escape left the overlay up";
}

// Install while an attempt runs: the connection layer, not the button's
// look, tells the sheet, and the pane ends the attempt on purpose before
// the download begins.
TEST_F(UpdateSheetOnMainWindow, InstallEndsTheAttemptInForceOnPurposeBeforeTheDownload) {
    hub->appModel().useAutoUpdater = true;
    mainWindow->showWindow();
    queue.runUntilIdle();
    auto& life = hub->vpnConnectionManager()->connectionLife();
    EXPECT_FALSE(mainWindow->connectButtonIsInDisconnectOrEmptyState());
    life.life().begin(ConnectionLife::Origin::user);
    EXPECT_TRUE(mainWindow->connectButtonIsInDisconnectOrEmptyState());
    auto* pane = mainWindow->widget().findChild<MainViewDetailsView*>();
    ASSERT_NE(pane, nullptr);
    mainWindow->showUpdateAvailableNotificationBar();
    animations.advanceInSteps(1000);
    auto* bar = dynamic_cast<UpgradeAvailableNotificationsBar*>(pane->topBarView(PaneTopBar::update));
    ASSERT_NE(bar, nullptr);
    bar->linkButton()->click();
    animations.advanceInSteps(500);
    AutoUpdateWindowWidget* sheet = shownUpdateWindow();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(download.transfers.empty());

    sheet->installButton()->click();
    EXPECT_TRUE(life.stopped()) << "the attempt was left running under the download";
    queue.runUntilIdle();
    EXPECT_FALSE(download.transfers.empty());
}

TEST(UpdateWindowEndToEnd, InstallDownloadsFromTheTestbedAndRestartHandsTheScriptTheArchive) {
    widgetTestApp();
    auto env = TestbedEnv::load();
    if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
    env->exportToEnvironment();
    KitControllerFixture fixture;
    TempDir dir;
    namespace fs = std::filesystem;
    const std::string bundle = dir.file("Havenway");
    fs::create_directories(bundle + "/bin");
    fs::create_directories(bundle + "/share/havenway");
    fs::copy_file(std::string(HW_SOURCE_DIR) + "/resources/install-update.sh",
                  bundle + "/share/havenway/install-update.sh");
    TempDir::write(bundle + "/bin/havenway", "#!/bin/sh\n");
    fs::permissions(bundle + "/bin/havenway", fs::perms::owner_all);
    ScopedEnv data("HAVENWAY_DATA_DIR", dir.file("data").c_str());

    fixture.model.appAutoUpdateDownloadURL = env->webUrl() + "/downloads/havenway-update.zip";
    QtMainQueue queue;
    QtFileDownload download(queue);
    RecordingProcessLauncher launcher;
    RecordingAutoUpdateShell shell;
    auto controller = autoUpdateWindowMaker(queue, fixture.model, download, launcher, bundle + "/bin/havenway")(shell);
    controller->showWindow();
    auto* window = shownUpdateWindow();
    ASSERT_NE(window, nullptr);

    int highest = 0;
    QObject::connect(window->progressIndicator(), &QProgressBar::valueChanged, [&](int v) { highest = std::max(highest, v); });
    window->installButton()->click();
    ASSERT_TRUE(spinUntil([&] { return window->installButton()->text() == "Restart"; }, 20000))
        << window->statusMessage()->text().toStdString();
    EXPECT_EQ(highest, 100);

    window->installButton()->click();
    ASSERT_EQ(launcher.launches.size(), 1u);
    const auto& l = launcher.launches[0];
    EXPECT_EQ(l.arguments, (std::vector<std::string>{dir.file("data") + "/auto-update.zip", bundle}));
    EXPECT_EQ(TempDir::mode(l.arguments[0]), 0600u);
    ProcessLauncher::Environment expected;
    for (const char* name : {"PATH", "USER", "HOME", "SHELL"})
        if (const char* v = std::getenv(name)) expected.emplace_back(name, v);
    EXPECT_EQ(l.environment, expected);
    EXPECT_EQ(shell.calls, std::vector<std::string>{"performQuitApplicationFromStatusBar"});
    EXPECT_FALSE(window->isVisible()) << "Restart left the window up";
}

}  // namespace
}  // namespace hw::test
