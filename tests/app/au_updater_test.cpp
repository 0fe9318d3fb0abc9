// The updater in virtual time, against a scripted download and a recording launcher.
#include "app/au_updater.h"

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

using test::FakeFileDownload;
using test::ManualQueue;
using test::RecordingProcessLauncher;
using test::TempDir;

struct RecordingDelegate final : AUUpdaterDelegate {
    void updaterWantsToInstallUpdateWithCriticalStatus(AUUpdater&, bool critical) override {
        installRequests.push_back(critical);
    }
    void updaterDidChangeState(AUUpdater&, AUUpdaterState state) override {
        states.push_back(static_cast<int>(state));
    }
    void updaterDidChangeProgress(AUUpdater&, double progress) override { progress_.push_back(progress); }
    std::vector<int> states;
    std::vector<double> progress_;
    std::vector<bool> installRequests;
};

class AUUpdaterTest : public ::testing::Test {
protected:
    std::unique_ptr<AUUpdater> make(const std::string& host = "https://updates.test/havenway.zip") {
        AUUpdaterPorts ports{queue, download, launcher, executable, [this] { return supportDir; },
                             [this](const char* name) -> const char* {
                                 auto it = environment.find(name);
                                 return it == environment.end() ? nullptr : it->second.c_str();
                             }};
        auto u = std::make_unique<AUUpdater>(std::move(ports), host, "", 100);
        u->setDelegate(&delegate);
        return u;
    }
    // A finished download of 8 bytes.
    void complete(AUUpdater& u, std::map<std::string, std::string> headers = {}) {
        u.downloadUpdate();
        download.last().respond(200, 8, std::move(headers));
        download.last().block(8);
        download.last().finish();
        queue.runUntilIdle();
    }
    // Havenway/bin/havenway and the install script, under the temp folder.
    std::string makeBundle(const std::string& name = "Havenway", bool withApp = true, bool withScript = true) {
        namespace fs = std::filesystem;
        const std::string bundle = dir.file(name);
        fs::create_directories(bundle + "/bin");
        fs::create_directories(bundle + "/share/havenway");
        if (withApp) {
            TempDir::write(bundle + "/bin/havenway", "#!/bin/sh\n");
            ::chmod((bundle + "/bin/havenway").c_str(), 0755);
        }
        if (withScript) TempDir::write(bundle + "/share/havenway/install-update.sh", "#!/bin/sh\n");
        executable = bundle + "/bin/havenway";
        return bundle;
    }

    ManualQueue queue;
    FakeFileDownload download;
    RecordingProcessLauncher launcher;
    RecordingDelegate delegate;
    TempDir dir;
    std::optional<std::string> supportDir = dir.path();
    std::string executable = "/usr/bin/havenway";
    std::map<std::string, std::string> environment{
        {"PATH", "/usr/bin:/bin"}, {"USER", "ann"}, {"HOME", "/home/ann"}, {"DISPLAY", ":0"}};
};

TEST_F(AUUpdaterTest, ASecondFailureIsReportedAndTheNextRequestHasItsRetryAgain) {
    auto u = make();
    u->setInterval(5.0);
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
    EXPECT_EQ(u->attemptsIfDownloadFailed(), 0);
    queue.advance(60000);
    EXPECT_EQ(download.transfers.size(), 2u) << "retried after the failure was reported";

    u->downloadUpdate();
    download.last().fail();
    queue.advance(5000);
    EXPECT_EQ(download.transfers.size(), 4u) << "a new request gets its retry";
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
    struct Row {
        std::optional<std::string> disposition;
        bool critical;
    };
    const Row rows[] = {
        {"attachment; filename=\"havenway-update-critical.zip\"", true},
        {"critical", true},
        {"attachment; filename=\"Critical.zip\"", false},
        {"attachment; filename=\"havenway.zip\"", false},
        {std::nullopt, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.disposition.value_or("(no header)"));
        RecordingDelegate d;
        auto u = make();
        u->setDelegate(&d);
        std::map<std::string, std::string> headers;
        if (row.disposition) headers["content-disposition"] = *row.disposition;
        u->downloadUpdate();
        download.last().respond(200, 8, headers);
        download.last().finish();
        EXPECT_EQ(d.states, (std::vector<int>{1, 2}));
        EXPECT_TRUE(d.installRequests.empty()) << "asked before the main queue ran";
        queue.runUntilIdle();
        EXPECT_EQ(d.installRequests, std::vector<bool>{row.critical});
    }
}

TEST_F(AUUpdaterTest, OnlyA2xxAnswerOverHttpsIsKept) {
    struct Row {
        std::string host;
        int status;
        bool kept;
    };
    const Row rows[] = {
        {"https://updates.test/a.zip", 200, true},
        {"https://updates.test/a.zip", 204, true},
        {"https://updates.test/a.zip", 404, false},
        {"https://updates.test/a.zip", 500, false},
        {"http://updates.test/a.zip", 200, false},
        {"", 200, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.host + " " + std::to_string(row.status));
        download.transfers.clear();
        RecordingDelegate d;
        auto u = make(row.host);
        u->setDelegate(&d);
        u->downloadUpdate();
        if (!download.transfers.empty()) {
            download.last().respond(row.status, 8);
            download.last().block(8);
            download.last().finish();
        }
        queue.runUntilIdle();
        EXPECT_EQ(d.installRequests.size(), row.kept ? 1u : 0u);
        EXPECT_EQ(d.states.back(), row.kept ? 2 : 0);
        if (!row.kept && !download.transfers.empty()) {
            EXPECT_TRUE(download.last().cancelled) << "the error page kept downloading";
        }
    }
}

TEST_F(AUUpdaterTest, ProgressIsAFractionOfAKnownLengthAndZeroOtherwise) {
    struct Row {
        std::int64_t length;
        std::vector<double> expected;
    };
    const Row rows[] = {
        {8, {0.0, 0.5, 1.0}},
        {-1, {0.0, 0.0, 0.0}},
        {0, {0.0, 0.0, 0.0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        RecordingDelegate d;
        auto u = make();
        u->setDelegate(&d);
        u->downloadUpdate();
        download.last().respond(200, row.length);
        download.last().block(4);
        download.last().block(4);
        EXPECT_EQ(d.progress_, row.expected);
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

TEST_F(AUUpdaterTest, WithoutADataFolderTheAttemptFails) {
    supportDir.reset();
    auto u = make();
    u->downloadUpdate();
    queue.advance(5000);
    EXPECT_TRUE(download.transfers.empty());
    EXPECT_EQ(delegate.states, (std::vector<int>{1, 0, 1, 0, 4}));
    EXPECT_EQ(u->destination(), "");
}

TEST_F(AUUpdaterTest, InstallStartsTheBundlesScriptWithOnlyFourVariables) {
    const std::string bundle = makeBundle();
    auto u = make();
    complete(*u);
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
    const Row rows[] = {
        {"havenway", true, true, false},
        {"build", true, true, false},
        {"Havenway", false, true, false},
        {"Havenway", true, false, false},
        {"Havenway", true, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name + (row.withApp ? "" : " without the app") + (row.withScript ? "" : " without the script") +
                     (row.readOnly ? " read-only" : ""));
        if (row.readOnly && ::geteuid() == 0) {
            std::cout << "root writes anywhere: the read-only row needs a user\n";
            continue;
        }
        std::filesystem::remove_all(dir.file(row.name));
        const std::string bundle = makeBundle(row.name, row.withApp, row.withScript);
        if (row.readOnly) ::chmod(bundle.c_str(), 0555);
        launcher.launches.clear();
        RecordingDelegate d;
        auto u = make();
        u->setDelegate(&d);
        complete(*u);
        EXPECT_FALSE(u->installUpdate());
        EXPECT_TRUE(launcher.launches.empty());
        EXPECT_EQ(d.states, (std::vector<int>{1, 2, 3, 0, 4}));
        if (row.readOnly) ::chmod(bundle.c_str(), 0755);
    }
}

}  // namespace
}  // namespace hw
