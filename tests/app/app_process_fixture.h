#pragma once
// The built application as a user starts it, on a private display and bus: its
// own home, settings, data, state and runtime folders, and no helper or backend
// until a test names them.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/tray_desktop.h"

namespace hw::test {

class AppProcessTest : public ::testing::Test {
protected:
    explicit AppProcessTest(bool withWatcher = false) : withWatcher_(withWatcher) {}
    void SetUp() override {
        if (::access(binary().c_str(), X_OK) != 0) GTEST_SKIP() << "havenway is not built: " << binary();
        if (const std::string why = desktop.start(withWatcher_); !why.empty()) GTEST_SKIP() << why;
        for (const auto& [name, sub] : {std::pair{"HOME", "home"}, {"XDG_CONFIG_HOME", "config"},
                                        {"XDG_DATA_HOME", "data"}, {"XDG_STATE_HOME", "state"},
                                        {"HAVENWAY_RUNTIME_DIR", "run"}})
            std::filesystem::create_directories(env[name] = dir.file(sub));
        env.insert({{"HAVENWAY_HELPER_SOCKET", dir.file("no-helper.sock")},
                    {"HAVENWAY_BACKEND_HOST", "http://127.0.0.1:9"},
                    {"DISPLAY", desktop.xvfb.display()},
                    {"DBUS_SESSION_BUS_ADDRESS", desktop.bus.address()},
                    {"QT_QPA_PLATFORM", "xcb"},
                    // No GL driver to load and unload (its leak at exit is not ours).
                    {"QT_XCB_GL_INTEGRATION", "none"},
                    {"TMPDIR", dir.path()},
                    {"PATH", "/usr/bin:/bin"}});
    }
    void TearDown() override {
        if (app > 0) {
            ::kill(app, SIGKILL);
            waitChild(app, std::chrono::seconds(5));
        }
    }
    static std::string binary() { return HW_BINARY_DIR "/src/havenway"; }
    pid_t spawn(const std::string& log) const {
        std::vector<std::string> vars;
        for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
        return spawnLogged({binary()}, vars, log);
    }
    // Whether the log shows the text within the bound.
    static bool logShows(const std::string& log, const std::string& text, std::chrono::milliseconds bound) {
        for (const auto end = std::chrono::steady_clock::now() + bound; std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            if (TempDir::read(log).find(text) != std::string::npos) return true;
        return false;
    }
    // SIGTERM to the application; its exit code.
    int terminate() {
        ::kill(app, SIGTERM);
        const int code = waitChild(app, std::chrono::seconds(15));
        app = -1;
        return code;
    }

    TempDir dir;
    TrayDesktop desktop;
    std::map<std::string, std::string> env;
    pid_t app = -1;

private:
    bool withWatcher_;
};

}  // namespace hw::test
