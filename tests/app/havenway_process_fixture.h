#pragma once
// The built application as a user starts it, on a private display and bus
// with a panel's watcher. Shared by the tray's end-to-end cases and the
// shell's by-hand ones.
// The engine's headers come before Qt's, whose emit keyword they use as a name.
#include "support/testbed_engine.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/global_constants.h"
#include "core/settings_user_defaults.h"
#include "core/vpn_protocols.h"
#include "platform/file_secret_store.h"
#include "platform/json_settings_store.h"
#include "services/auth_service.h"
#include "support/child_process.h"
#include "support/fake_notification_daemon.h"
#include "support/temp_dir.h"
#include "support/tray_desktop.h"
#include "support/tray_menu_reader.h"
#include "support/x_keyboard.h"
#include "support/x_pointer.h"
#include "testbed/testbed_env.h"

namespace hw::test {

using namespace std::chrono_literals;

// The locations submenu of the tray's layout (read into root) once it lists
// Automatic and the six locations, each with its flag; else null.
inline const MenuNode* flaggedLocations(const QString& service, MenuNode& root) {
    root = trayLayout(service);
    for (const auto& n : root.children) {
        if (n.props.value("children-display").toString() != "submenu") continue;
        const bool flagged = n.children.size() == 7 &&
                             std::all_of(n.children.begin() + 1, n.children.end(), [](const MenuNode& c) {
                                 return !c.props.value("icon-data").toByteArray().isEmpty();
                             });
        return flagged ? &n : nullptr;
    }
    return nullptr;
}

// The first item whose label starts with the text, in the tree.
inline const MenuNode* itemStarting(const MenuNode& root, const QString& text) {
    if (root.label().startsWith(text)) return &root;
    for (const auto& c : root.children)
        if (const MenuNode* hit = itemStarting(c, text)) return hit;
    return nullptr;
}

// The built application as a user starts it, on a private display and bus
// with a panel's watcher: its own home, settings, data, state and runtime
// folders, and no helper or backend until a test names them.
class HavenwayTray : public ::testing::Test, public QtAppFirst {
protected:
    void SetUp() override {
        if (::access(binary().c_str(), X_OK) != 0) GTEST_SKIP() << "havenway is not built: " << binary();
        if (const std::string why = desktop.start(true, appUser.has_value()); !why.empty()) GTEST_SKIP() << why;
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
            waitChild(app, 5s);
        }
    }
    static std::string binary() { return HW_BINARY_DIR "/src/havenway"; }
    pid_t spawn(const std::string& log, const std::vector<std::string>& arguments = {}) const {
        std::vector<std::string> vars;
        for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
        std::vector<std::string> argv{binary()};
        if (appUser) {
            const std::string id = std::to_string(*appUser);
            argv = {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--", binary()};
        }
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return spawnLogged(argv, vars, log);
    }
    // The application's folders become the ordinary user's, as a home is.
    void handOver() {
        if (!appUser) return;
        ::chmod(dir.path().c_str(), 0711);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
            if (::lchown(entry.path().c_str(), *appUser, *appUser) != 0) ADD_FAILURE() << entry.path();
        ASSERT_EQ(::chown(dir.path().c_str(), *appUser, *appUser), 0);
    }
    // SIGTERM to the application; its exit code.
    int terminate() {
        ::kill(app, SIGTERM);
        const int code = waitChild(app, 15s);
        app = -1;
        return code;
    }

    // Starts the application; its item's bus name once the panel has it, else empty.
    QString startItem(const std::vector<std::string>& arguments = {}) {
        app = spawn(log(), arguments);
        if (app <= 0 || !spinUntil([&] { return desktop.watcher->items().size() == 1; }, 30000)) return {};
        return desktop.watcher->items().front();
    }
    // The testbed's backend, and the demo account remembered from an earlier start.
    void rememberDemoAccount(const TestbedEnv& testbed, VPNProtocols protocol) {
        for (const char* name : {"HAVENWAY_BACKEND_HOST", "HAVENWAY_WEB_HOST", "HAVENWAY_TEST_CA"})
            env[name] = testbed.get(name);
        env["HAVENWAY_SECRET_STORE"] = "file";
        JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
        settings.set(SettingsUserDefaults::showWelcomePage, false);
        settings.set(SettingsUserDefaults::signMeInWhenHavenwayStarts, true);
        settings.set(SettingsUserDefaults::vpnProtocols, std::string(rawValue(protocol)));
        ASSERT_TRUE(settings.synchronize());
        FileSecretStore secrets(dir.path() + "/data/havenway/secrets.json");
        const std::string service = GlobalConstants::keychainServiceName;
        const std::string reference = service + "/" + AuthService::kPasswordKey;
        ASSERT_TRUE(secrets.writeString(service, AuthService::kUsernameKey, testbed.get("HAVENWAY_TESTBED_DEMO_USER")));
        ASSERT_TRUE(secrets.writeString(service, AuthService::kPasswordKey, testbed.get("HAVENWAY_TESTBED_DEMO_PASSWORD")));
        ASSERT_TRUE(secrets.write(service, AuthService::kPasswordDataKey, Bytes(reference.begin(), reference.end())));
    }
    std::string log() const { return dir.file("app.log"); }
    // Once the main thread has had two quiet seconds, at most `allowed`
    // switches (the loads after a sign-in or a connect over, which on a busy
    // machine take a while): true, else false after boundMs.
    bool mainThreadSettles(pid_t pid, long allowed = 1, int boundMs = 30000) const {
        QElapsedTimer bound;
        bound.start();
        while (bound.elapsed() < boundMs) {
            const long before = voluntarySwitches(pid);
            spinFor(2000);
            if (before >= 0 && voluntarySwitches(pid) - before <= allowed) return true;
        }
        return false;
    }
    // How often the application's main thread woke over the wait; -1 when
    // the kernel's count cannot be read.
    long wakeUpsOver(int ms) const {
        const long before = voluntarySwitches(app);
        if (before < 0) return -1;
        spinFor(ms);
        const long after = voluntarySwitches(app);
        return after < 0 ? -1 : after - before;
    }
    // How often the process's main thread gave up the processor by itself, as
    // the kernel counts it; -1 when it cannot be read.
    static long voluntarySwitches(pid_t pid) {
        const std::string status = TempDir::read("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/status");
        const std::string key = "voluntary_ctxt_switches:";
        const auto at = status.find(key);
        return at == std::string::npos ? -1 : std::stol(status.substr(at + key.size()));
    }
    // How often the application's log shows the text.
    long logged(const std::string& text) const {
        const std::string all = TempDir::read(log());
        long n = 0;
        for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
        return n;
    }

    TempDir dir;
    TrayDesktop desktop;
    std::map<std::string, std::string> env;
    pid_t app = -1;
    // Set before SetUp: the application runs as this ordinary user.
    std::optional<uid_t> appUser;
};

}  // namespace hw::test
