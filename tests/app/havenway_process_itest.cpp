// The built application as a user starts it: a private X display, its own
// home and runtime folders, no helper and no backend.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/private_dbus.h"
#include "support/xvfb_server.h"

namespace hw::test {
namespace {

using namespace std::chrono_literals;

class HavenwayProcess : public ::testing::Test {
protected:
    void SetUp() override {
        binary = HW_BINARY_DIR "/src/havenway";
        if (::access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << "havenway is not built: " << binary;
        std::string reason;
        if (!xvfb.start(&reason)) GTEST_SKIP() << reason;
        if (!dbus.start(&reason)) GTEST_SKIP() << reason;
        for (const auto& [name, sub] : {std::pair{"HOME", "home"}, {"XDG_CONFIG_HOME", "config"},
                                        {"XDG_DATA_HOME", "data"}, {"XDG_STATE_HOME", "state"},
                                        {"HAVENWAY_RUNTIME_DIR", "run"}}) {
            std::filesystem::create_directories(env[name] = dir.file(sub));
        }
        env.insert({{"HAVENWAY_HELPER_SOCKET", dir.file("no-helper.sock")},
                    {"HAVENWAY_BACKEND_HOST", "http://127.0.0.1:9"},
                    {"DISPLAY", xvfb.display()},
                    {"DBUS_SESSION_BUS_ADDRESS", dbus.address()},
                    {"QT_QPA_PLATFORM", "xcb"},
                    // No GL driver to load and unload: the bare windows draw in software.
                    {"QT_XCB_GL_INTEGRATION", "none"},
                    {"TMPDIR", dir.path()},
                    {"PATH", "/usr/bin:/bin"}});
    }
    void TearDown() override {
        if (first > 0) {
            ::kill(first, SIGKILL);
            waitChild(first, 5s);
        }
    }

    pid_t spawn(const std::string& log) {
        std::vector<std::string> vars;
        for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
        return spawnLogged({binary}, vars, log);
    }
    bool logShows(const std::string& log, const std::string& text, std::chrono::milliseconds bound) {
        for (const auto end = std::chrono::steady_clock::now() + bound; std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(20ms)) {
            if (TempDir::read(log).find(text) != std::string::npos) return true;
        }
        return false;
    }

    // Starts, shows its window, hands a second start's reopen over, ends on SIGTERM.
    void runTheRoad() {
        const std::string log = dir.file("first.log");
        first = spawn(log);
        ASSERT_GT(first, 0);
        ASSERT_TRUE(logShows(log, ": shown", 30s)) << TempDir::read(log);

        const pid_t second = spawn(dir.file("second.log"));
        EXPECT_EQ(waitChild(second, 10s), 0) << TempDir::read(dir.file("second.log"));
        EXPECT_TRUE(logShows(log, "a later start asked for reopen", 10s)) << TempDir::read(log);

        ::kill(first, SIGTERM);
        EXPECT_EQ(waitChild(first, 15s), 0) << TempDir::read(log);
        first = -1;
        EXPECT_NE(TempDir::read(log).find("applicationWillTerminate complitely finished."), std::string::npos)
            << TempDir::read(log);
    }

    TempDir dir;
    XvfbServer xvfb;
    PrivateDBus dbus;
    std::string binary;
    std::map<std::string, std::string> env;
    pid_t first = -1;
};

TEST_F(HavenwayProcess, OneCopyPerUserAndACleanEndOnSIGTERM) { runTheRoad(); }

TEST_F(HavenwayProcess, WithoutARuntimeFolderTheTemporaryFolderServes) {
    env.erase("HAVENWAY_RUNTIME_DIR");
    env.erase("XDG_RUNTIME_DIR");
    runTheRoad();
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/havenway-" + std::to_string(::geteuid()) + "/instance.lock"));
}

}  // namespace
}  // namespace hw::test
