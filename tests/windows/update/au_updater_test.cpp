// The updater in virtual time, against a scripted download and a recording launcher.
#include "windows/update/au_updater.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "support/fake_file_download.h"
#include "support/manual_queue.h"
#include "support/recording_process_launcher.h"
#include "support/temp_dir.h"

namespace hw {
namespace {

using test::TempDir;

struct RecordingDelegate final : AUUpdaterDelegate {
    void updaterWantsToInstallUpdateWithCriticalStatus(AUUpdater&, bool critical) override {
        installRequests.push_back(critical);
    }
    void updaterDidChangeState(AUUpdater&, AUUpdaterState state) override { states.push_back(static_cast<int>(state)); }
    void updaterDidChangeProgress(AUUpdater&, double progress) override { progress_.push_back(progress); }
    std::vector<int> states;
    std::vector<double> progress_;
    std::vector<bool> installRequests;
};

class AUUpdaterTest : public ::testing::Test {
protected:
    // A new updater with a fresh delegate record.
    std::unique_ptr<AUUpdater> make(const std::string& host = "https://updates.test/havenway.zip") {
        delegate = {};
        download.transfers.clear();
        AUUpdaterPorts ports{queue, download, launcher, executable, [this] { return supportDir; },
                             [this](const char* name) -> const char* {
                                 auto it = environment.find(name);
                                 return it == environment.end() ? nullptr : it->second.c_str();
                             }};
        auto u = std::make_unique<AUUpdater>(std::move(ports), host, "", 100);
        u->setDelegate(&delegate);
        return u;
    }
    // A download answered with this status and length, then 8 bytes.
    void answer(AUUpdater& u, int status = 200, std::int64_t length = 8, std::map<std::string, std::string> headers = {}) {
        u.downloadUpdate();
        if (download.transfers.empty()) return;
        download.last().respond(status, length, std::move(headers));
        download.last().block(8);
        download.last().finish();
    }
    // Havenway/bin/havenway and the install script, under the temp folder.
    std::string makeBundle(const std::string& name = "Havenway", bool withApp = true, bool withScript = true) {
        const std::string bundle = dir.file(name);
        std::filesystem::create_directories(bundle + "/bin");
        std::filesystem::create_directories(bundle + "/share/havenway");
        if (withApp) TempDir::write(bundle + "/bin/havenway", "#!/bin/sh\n");
        if (withApp) ::chmod((bundle + "/bin/havenway").c_str(), 0755);
        if (withScript) TempDir::write(bundle + "/share/havenway/install-update.sh", "#!/bin/sh\n");
        executable = bundle + "/bin/havenway";
        return bundle;
    }

    test::ManualQueue queue;
    test::FakeFileDownload download;
    test::RecordingProcessLauncher launcher;
    RecordingDelegate delegate;
    TempDir dir;
    std::optional<std::string> supportDir = dir.path();
    std::string executable = "/usr/bin/havenway";
    std::map<std::string, std::string> environment{
        {"PATH", "/usr/bin:/bin"}, {"USER", "ann"}, {"HOME", "/home/ann"}, {"DISPLAY", ":0"}};
};

TEST_F(AUUpdaterTest, ASecondFailureIsReportedAndTheNextRequestHasItsRetryAgain) {
    auto u = make();
    u->downloadUpdate();
    ASSERT_EQ(download.transfers.size(), 1u);
    EXPECT_EQ(download.last().request.url, "https://updates.test/havenway.zip");
    EXPECT_EQ(download.last().request.destination, dir.file("auto-update.zip"));
    EXPECT_EQ(download.last().request.timeoutSeconds, 15.0);
    download.last().fail();
    queue.advance(4999);
    EXPECT_EQ(download.transfers.size(), 1u) << "retried before the interval";
    queue.advance(1);
    ASSERT_EQ(download.transfers.size(), 2u);
    download.last().fail();
    EXPECT_EQ(delegate.states, (std::vector<int>{1, 0, 1, 0, 4}));
    queue.advance(60000);
    EXPECT_EQ(download.transfers.size(), 2u) << "retried after the failure was reported";

    u->downloadUpdate();
    download.last().fail();
    queue.advance(5000);
    EXPECT_EQ(download.transfers.size(), 4u) << "a new request gets its retry";
}

TEST_F(AUUpdaterTest, WithoutADataFolderTheAttemptFails) {
    supportDir.reset();
    auto u = make();
    u->downloadUpdate();
    queue.advance(5000);
    EXPECT_TRUE(download.transfers.empty());
    EXPECT_EQ(delegate.states, (std::vector<int>{1, 0, 1, 0, 4}));
}

TEST_F(AUUpdaterTest, RequestsOutOfTurnDoNothing) {
    auto u = make();
    u->downloadUpdate();
    u->checkForUpdates();
    EXPECT_EQ(download.transfers.size(), 1u) << "checkForUpdates while downloading";
    EXPECT_FALSE(u->installUpdate());
    EXPECT_TRUE(launcher.launches.empty()) << "installUpdate before completion";
    download.last().respond(200, 8);
    download.last().finish();
    u->checkForUpdates();
    EXPECT_EQ(download.transfers.size(), 1u) << "checkForUpdates once complete";
    EXPECT_EQ(u->state(), AUUpdaterState::Downloaded);
}

TEST_F(AUUpdaterTest, TheInstallRequestComesLaterOnTheMainQueueWithTheCriticalFlag) {
    for (const auto& [disposition, critical] : std::vector<std::pair<std::optional<std::string>, bool>>{
             {"attachment; filename=\"havenway-update-critical.zip\"", true},
             {"critical", true},
             {"attachment; filename=\"Critical.zip\"", false},
             {"attachment; filename=\"havenway.zip\"", false},
             {std::nullopt, false}}) {
        SCOPED_TRACE(disposition.value_or("(no header)"));
        auto u = make();
        std::map<std::string, std::string> headers;
        if (disposition) headers["content-disposition"] = *disposition;
        answer(*u, 200, 8, headers);
        EXPECT_EQ(delegate.states, (std::vector<int>{1, 2}));
        EXPECT_TRUE(delegate.installRequests.empty()) << "asked before the main queue ran";
        queue.runUntilIdle();
        EXPECT_EQ(delegate.installRequests, std::vector<bool>{critical});
    }
}

TEST_F(AUUpdaterTest, OnlyA2xxAnswerOverHttpsIsKept) {
    struct Row {
        std::string host;
        int status;
        bool kept;
    };
    for (const Row& row : {Row{"https://updates.test/a.zip", 200, true}, Row{"https://updates.test/a.zip", 204, true},
                           Row{"https://updates.test/a.zip", 404, false}, Row{"https://updates.test/a.zip", 500, false},
                           Row{"http://updates.test/a.zip", 200, false}, Row{"", 200, false}}) {
        SCOPED_TRACE(row.host + " " + std::to_string(row.status));
        auto u = make(row.host);
        answer(*u, row.status);
        queue.runUntilIdle();
        EXPECT_EQ(delegate.installRequests.size(), row.kept ? 1u : 0u);
        EXPECT_EQ(delegate.states.back(), row.kept ? 2 : 0);
        EXPECT_TRUE(row.kept || download.transfers.empty() || download.last().cancelled) << "the error page kept downloading";
    }
}

TEST_F(AUUpdaterTest, ProgressIsAFractionOfAKnownLengthAndZeroOtherwise) {
    for (const auto& [length, expected] : std::vector<std::pair<std::int64_t, std::vector<double>>>{
             {8, {0.0, 0.5, 1.0}}, {-1, {0.0, 0.0, 0.0}}, {0, {0.0, 0.0, 0.0}}}) {
        SCOPED_TRACE(length);
        auto u = make();
        u->downloadUpdate();
        download.last().respond(200, length);
        download.last().block(4);
        download.last().block(4);
        EXPECT_EQ(delegate.progress_, expected);
        EXPECT_EQ(u->downloadedBytes(), 8);
    }
}

TEST_F(AUUpdaterTest, CancelStopsTheTransferAndAnyRetryWithoutAMessage) {
    auto u = make();
    u->downloadUpdate();
    download.last().respond(200, 8);
    download.last().block(4);
    u->cancelUpdateDownload();
    EXPECT_TRUE(download.last().cancelled);
    EXPECT_EQ(u->state(), AUUpdaterState::Idle);
    EXPECT_EQ(delegate.states, std::vector<int>{1});

    u->downloadUpdate();
    EXPECT_EQ(download.running(), 1u) << "the next request starts cleanly";
    download.last().fail();
    u->cancelUpdateDownload();
    queue.advance(10000);
    EXPECT_EQ(download.transfers.size(), 2u) << "the retry outlived the cancel";
    EXPECT_EQ(delegate.states, (std::vector<int>{1, 1, 0}));
}

TEST_F(AUUpdaterTest, ANewRequestDuringADownloadReplacesTheFirstTransfer) {
    auto u = make();
    u->downloadUpdate();
    download.last().respond(200, 8);
    download.last().block(6);
    u->downloadUpdate();
    ASSERT_EQ(download.transfers.size(), 2u);
    EXPECT_TRUE(download.transfers[0]->cancelled);
    EXPECT_EQ(download.running(), 1u);
    EXPECT_EQ(u->downloadedBytes(), 0);
}

TEST_F(AUUpdaterTest, InstallStartsTheBundlesScriptWithOnlyFourVariables) {
    const std::string bundle = makeBundle();
    auto u = make();
    answer(*u);
    queue.runUntilIdle();
    EXPECT_TRUE(u->installUpdate());
    ASSERT_EQ(launcher.launches.size(), 1u);
    const auto& l = launcher.launches[0];
    EXPECT_EQ(l.executable, bundle + "/share/havenway/install-update.sh");
    EXPECT_EQ(l.arguments, (std::vector<std::string>{dir.file("auto-update.zip"), bundle}));
    EXPECT_EQ(l.environment, (ProcessLauncher::Environment{{"PATH", "/usr/bin:/bin"}, {"USER", "ann"}, {"HOME", "/home/ann"}}))
        << "SHELL is missing here and DISPLAY is not passed";
    EXPECT_EQ(delegate.states.back(), 3);
    EXPECT_FALSE(u->installUpdate()) << "a second install";
}

TEST_F(AUUpdaterTest, InstallFailsAtOnceOutsideAReplaceableBundle) {
    struct Row {
        std::string name;
        bool withApp, withScript, readOnly;
    };
    for (const Row& row : {Row{"havenway", true, true, false}, Row{"build", true, true, false},
                           Row{"Havenway", false, true, false}, Row{"Havenway", true, false, false},
                           Row{"Havenway", true, true, true}}) {
        SCOPED_TRACE(row.name + (row.withApp ? "" : " without the app") + (row.withScript ? "" : " without the script") +
                     (row.readOnly ? " read-only" : ""));
        if (row.readOnly && ::geteuid() == 0) continue;  // root writes anywhere
        std::filesystem::remove_all(dir.file(row.name));
        const std::string bundle = makeBundle(row.name, row.withApp, row.withScript);
        if (row.readOnly) ::chmod(bundle.c_str(), 0555);
        launcher.launches.clear();
        auto u = make();
        answer(*u);
        queue.runUntilIdle();
        TempDir::write(dir.file("auto-update.zip"), "PK");
        EXPECT_FALSE(u->installUpdate());
        EXPECT_TRUE(launcher.launches.empty());
        EXPECT_EQ(delegate.states, (std::vector<int>{1, 2, 3, 0, 4}));
        EXPECT_EQ(u->lastFailure(), AUUpdaterFailure::Install) << "not a failed download";
        EXPECT_FALSE(std::filesystem::exists(dir.file("auto-update.zip"))) << "an archive nothing here can install";
        if (row.readOnly) ::chmod(bundle.c_str(), 0755);
    }
}

}  // namespace
}  // namespace hw
