// The update window's decisions, against a recording view in virtual time.
#include "windows/update/auto_update_window_controller.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/fake_file_download.h"
#include "support/kit_controller_fixture.h"
#include "support/recording_process_launcher.h"
#include "support/recording_window_view.h"
#include "support/temp_dir.h"
#include "texts/locale_data.h"
#include "windows/update/recording_auto_update_view.h"

namespace hw {
namespace {

using test::UpdateLayout;

// What each state shows once it has settled.
const UpdateLayout kConfirm{13, true, "", "", true, 0, "Install", true, false, false, true, true, "Cancel"};
const UpdateLayout kDownloading{25, false, "Downloading update...", "black", false, 0, "Installing...", false, true, true, true, true, "Cancel"};
const UpdateLayout kPreparing{25, false, "Preparing package to install...", "black", false, 100, "Installing...", false, true, true, true, true, "Cancel"};
const UpdateLayout kReady{13, false, "Ready to install.", "black", true, 0, "Restart", true, true, true, false, true, "Cancel"};
const UpdateLayout kFailed{13, false, "Error: Update has Failed to download.", "red", true, 0, "Try Again", true, true, true, true, false, "Cancel"};
// The archive cannot go over this application: no download failed, and
// trying again would not help; the one button left only closes the window.
const UpdateLayout kCannotInstall{13,   false, "Error: Update cannot be installed here.", "red", true, 0, "Try Again",
                                  true, true,  true,                                      true,  false, "OK"};

class AutoUpdateWindowTest : public ::testing::Test, protected test::KitControllerFixture {
protected:
    AutoUpdateWindowTest() {
        for (const char* file : {"Havenway/bin/havenway", "Havenway/share/havenway/install-update.sh"}) {
            std::filesystem::create_directories(std::filesystem::path(dir.file(file)).parent_path());
            test::TempDir::write(dir.file(file), "#!/bin/sh\n");
        }
        ::chmod(dir.file("Havenway/bin/havenway").c_str(), 0755);
        model.appAutoUpdateDownloadURL = "https://updates.test/havenway.zip";
        controller = std::make_unique<AutoUpdateWindowController>(AutoUpdateWindowEnvironment{
            queue, model, shell,
            [this] {
                auto v = std::make_unique<test::RecordingAutoUpdateView>();
                view = v.get();
                return v;
            },
            [this](const std::string& host, const std::string& channel, std::int64_t percentile) {
                AUUpdaterPorts ports{queue, download, launcher, dir.file("Havenway/bin/havenway"),
                                     [this] { return std::optional<std::string>(dir.path()); },
                                     [](const char*) -> const char* { return nullptr; }};
                return std::make_unique<AUUpdater>(std::move(ports), host, channel, percentile);
            }});
    }
    // The window as a sheet on a parent, as the shell presents it.
    void presentAsSheet() {
        controller->setupAfterOpening();
        controller->beginSheet(parent, [this] { ++sheetEnds; });
    }
    // Install pressed and the archive downloaded.
    void downloadToTheEnd() {
        view->clickUpdate();
        download.last().respond(200, 10);
        download.last().block(10);
        download.last().finish();
        queue.runUntilIdle();
    }

    test::TempDir dir;
    test::FakeFileDownload download;
    test::RecordingProcessLauncher launcher;
    test::RecordingAutoUpdateShell shell;
    test::RecordingWindowView parent;
    std::unique_ptr<AutoUpdateWindowController> controller;
    test::RecordingAutoUpdateView* view = nullptr;
    int sheetEnds = 0;
};

TEST_F(AutoUpdateWindowTest, EachStateLaysTheWindowOut) {
    presentAsSheet();
    EXPECT_EQ(view->seen(), kConfirm);
    EXPECT_EQ(controller->autoUpdater()->host(), "https://updates.test/havenway.zip");

    view->clickUpdate();
    EXPECT_EQ(view->seen(), kDownloading);
    view->clickUpdate();
    EXPECT_EQ(download.transfers.size(), 1u) << "Install while downloading";

    download.last().respond(200, 10);
    download.last().block(5);
    EXPECT_EQ(view->layout.progress, 50) << "progress 0.5 is half the bar";
    download.last().block(5);
    download.last().finish();
    queue.runUntilIdle();
    EXPECT_EQ(controller->currentState(), AutoUpdateStates::ReadyToInstallUpdate);
    queue.advance(999);
    EXPECT_EQ(view->seen(), kPreparing);
    queue.advance(1);
    EXPECT_EQ(view->seen(), kReady);
}

TEST_F(AutoUpdateWindowTest, OnlyTheSecondFailureShowsTheFailureLayout) {
    presentAsSheet();
    view->clickUpdate();
    download.last().fail();
    EXPECT_EQ(view->seen(), kDownloading) << "the first failure changed the screen";
    queue.advance(5000);
    download.last().fail();
    EXPECT_EQ(view->seen(), kFailed);
    EXPECT_EQ(view->failure, LocaleData::auto_update_failed_to_download_text());
    EXPECT_FALSE(view->buttonHidden);
    EXPECT_EQ(controller->currentState(), AutoUpdateStates::FailedToDownloadUpdate);

    view->clickUpdate();
    EXPECT_EQ(view->seen(), kDownloading) << "Try Again";
    EXPECT_EQ(download.running(), 1u);
}

TEST_F(AutoUpdateWindowTest, TheOfferNamesTheVersionAndKeepsItsTextWithoutOne) {
    presentAsSheet();
    EXPECT_EQ(view->offer, "(from the window)");
    model.newAppVersionString = "2.1.0";
    controller->setupAfterOpening();
    EXPECT_EQ(view->offer, "Havenway update v2.1.0\nis available.");
    model.newAppVersionString.reset();
    controller->setupAfterOpening();
    EXPECT_EQ(view->offer, "Havenway update v2.1.0\nis available.");
    view->clickCancel();
    EXPECT_EQ(sheetEnds, 1);
    EXPECT_TRUE(download.transfers.empty());
}

TEST_F(AutoUpdateWindowTest, CancelWhileDownloadingStopsItAndShowingAgainStartsFromTheOffer) {
    presentAsSheet();
    view->clickUpdate();
    download.last().respond(200, 10);
    download.last().block(4);
    view->clickCancel();
    EXPECT_TRUE(download.last().cancelled);
    EXPECT_EQ(sheetEnds, 1);
    EXPECT_EQ(controller->currentState(), AutoUpdateStates::DownloadingUpdate) << "Cancel keeps the state";

    presentAsSheet();
    EXPECT_EQ(view->seen(), kConfirm);
    view->clickUpdate();
    EXPECT_EQ(download.running(), 1u);
    EXPECT_EQ(view->layout.progress, 0);
    EXPECT_EQ(controller->autoUpdater()->downloadedBytes(), 0);
}

TEST_F(AutoUpdateWindowTest, RestartEndsTheSheetAndQuitsOnlyWhenTheScriptStarted) {
    for (bool starts : {true, false}) {
        SCOPED_TRACE(starts ? "script started" : "script did not start");
        shell.calls.clear();
        launcher.starts = starts;
        sheetEnds = 0;
        presentAsSheet();
        downloadToTheEnd();
        queue.advance(1000);
        view->clickUpdate();
        EXPECT_EQ(launcher.launches.back().arguments[0], dir.file("auto-update.zip"));
        if (starts) {
            EXPECT_EQ(shell.calls, std::vector<std::string>{"performQuitApplicationFromStatusBar"});
            EXPECT_EQ(sheetEnds, 1);
        } else {
            EXPECT_TRUE(shell.calls.empty()) << "quit without a script to replace us";
            EXPECT_EQ(sheetEnds, 0);
            EXPECT_EQ(view->seen(), kCannotInstall);
            EXPECT_EQ(view->failure, LocaleData::auto_update_cannot_install_text());
            EXPECT_TRUE(view->buttonHidden) << "no Try Again that could never succeed";
            EXPECT_EQ(controller->currentState(), AutoUpdateStates::FailedToInstallUpdate);
            view->clickUpdate();
            EXPECT_EQ(download.running(), 0u) << "no new download from the failure";
        }
    }
}

TEST_F(AutoUpdateWindowTest, ADownloadDropsTheTunnelFirstWhenTheButtonOffersDisconnect) {
    for (bool shown : {false, true}) {
        shell.calls.clear();
        shell.disconnectShown = shown;
        presentAsSheet();
        view->clickUpdate();
        EXPECT_EQ(shell.calls.size(), shown ? 1u : 0u);
    }
}

TEST_F(AutoUpdateWindowTest, AloneTheWindowIsCentredAndCancelTakesItAway) {
    controller->showWindow();
    EXPECT_EQ(view->seen(), kConfirm);
    view->clickCancel();
    EXPECT_EQ(view->calls, (std::vector<std::string>{"showCentered", "orderOut"}));
}

TEST_F(AutoUpdateWindowTest, TheReadyStepDoesNotOverwriteAWindowShownAgain) {
    presentAsSheet();
    downloadToTheEnd();
    test::TempDir::write(dir.file("auto-update.zip"), "PK");
    view->clickCancel();
    EXPECT_FALSE(std::filesystem::exists(dir.file("auto-update.zip"))) << "Cancel when ready keeps the archive";
    presentAsSheet();
    queue.advance(1000);
    EXPECT_EQ(view->seen(), kConfirm);
}

}  // namespace
}  // namespace hw
