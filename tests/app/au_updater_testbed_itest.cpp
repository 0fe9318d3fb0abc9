// The updater on the real download against the testbed's web server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/au_updater.h"
#include "platform/posix_process_runner.h"
#include "platform/qt/qt_file_download.h"
#include "platform/qt/qt_main_queue.h"
#include "support/qt_test_app.h"
#include "support/recording_process_launcher.h"
#include "support/temp_dir.h"
#include "testbed/testbed_env.h"

namespace hw {
namespace {

struct Recorder final : AUUpdaterDelegate {
    void updaterWantsToInstallUpdateWithCriticalStatus(AUUpdater&, bool c) override { critical.push_back(c); }
    void updaterDidChangeState(AUUpdater&, AUUpdaterState s) override { states.push_back(static_cast<int>(s)); }
    void updaterDidChangeProgress(AUUpdater&, double p) override { progress.push_back(p); }
    std::vector<bool> critical;
    std::vector<int> states;
    std::vector<double> progress;
};

class UpdaterTestbed : public ::testing::Test, private test::QtAppFirst {
protected:
    void SetUp() override {
        env = test::TestbedEnv::load();
        if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << test::TestbedEnv::path();
        env->exportToEnvironment();
        download = std::make_unique<QtFileDownload>(queue);
    }
    std::unique_ptr<AUUpdater> make(const std::string& path) {
        AUUpdaterPorts ports{queue, *download, launcher, "/usr/bin/havenway",
                             [this] { return std::optional<std::string>(dir.path()); },
                             [](const char*) -> const char* { return nullptr; }};
        auto u = std::make_unique<AUUpdater>(std::move(ports), env->webUrl() + path, "", 100);
        u->setDelegate(&recorder);
        return u;
    }

    std::optional<test::TestbedEnv> env;
    QtMainQueue queue;
    std::unique_ptr<QtFileDownload> download;
    test::RecordingProcessLauncher launcher;
    test::TempDir dir;
    Recorder recorder;
};

TEST_F(UpdaterTestbed, TheArchiveArrivesWholeAndPrivate) {
    struct Row {
        const char* path;
        bool critical;
    };
    for (const Row& row : {Row{"/downloads/havenway-update.zip", false}, Row{"/downloads/havenway-update-critical.zip", true}}) {
        SCOPED_TRACE(row.path);
        recorder = {};
        auto u = make(row.path);
        u->downloadUpdate();
        ASSERT_TRUE(test::spinUntil([&] { return !recorder.critical.empty() || (!recorder.states.empty() && recorder.states.back() == 4); }));
        EXPECT_EQ(recorder.critical, std::vector<bool>{row.critical});
        ASSERT_FALSE(recorder.progress.empty());
        EXPECT_EQ(recorder.progress.back(), 1.0);
        const std::string archive = dir.file("auto-update.zip");
        EXPECT_EQ(test::TempDir::mode(archive), 0600u);
        ProcessRequest list;
        list.argv = {"unzip", "-tq", archive};
        EXPECT_TRUE(PosixProcessRunner().run(list).ok()) << "the archive is damaged";
        std::size_t files = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
        EXPECT_EQ(files, 1u) << "a partial file stayed behind";
    }
}

TEST_F(UpdaterTestbed, AMissingArchiveIsTriedTwiceThenReported) {
    auto u = make("/downloads/missing.zip");
    u->setInterval(0.2);
    u->downloadUpdate();
    ASSERT_TRUE(test::spinUntil([&] { return !recorder.states.empty() && recorder.states.back() == 4; }));
    EXPECT_EQ(recorder.states, (std::vector<int>{1, 0, 1, 0, 4}));
    EXPECT_TRUE(recorder.critical.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("auto-update.zip"))) << "the error page was kept";
}

}  // namespace
}  // namespace hw
