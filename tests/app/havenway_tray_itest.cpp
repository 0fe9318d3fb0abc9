// The built application's tray as a desktop's panel meets it: the item
// registers with the panel's watcher, offers the signed-out menu, and a click
// on it is the reopen. A private X display and bus; no helper, no backend.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/global_constants.h"
#include "core/settings_user_defaults.h"
#include "platform/file_secret_store.h"
#include "platform/json_settings_store.h"
#include "services/auth_service.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/tray_desktop.h"
#include "support/tray_menu_reader.h"
#include "testbed/testbed_env.h"

namespace hw::test {
namespace {

using namespace std::chrono_literals;

class HavenwayTray : public ::testing::Test, public QtAppFirst {
protected:
    void SetUp() override {
        binary = HW_BINARY_DIR "/src/havenway";
        if (::access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << "havenway is not built: " << binary;
        // This process talks to the application on the same private bus.
        if (const std::string why = desktop.start(true); !why.empty()) GTEST_SKIP() << why;
        for (const char* sub : {"home", "config", "data", "state", "run"})
            std::filesystem::create_directories(dir.path() + "/" + sub);
        vars = {"HOME=" + dir.path() + "/home", "XDG_CONFIG_HOME=" + dir.path() + "/config",
                "XDG_DATA_HOME=" + dir.path() + "/data", "XDG_STATE_HOME=" + dir.path() + "/state",
                "HAVENWAY_RUNTIME_DIR=" + dir.path() + "/run", "HAVENWAY_HELPER_SOCKET=" + dir.path() + "/none.sock",
                "HAVENWAY_BACKEND_HOST=http://127.0.0.1:9", "DISPLAY=" + desktop.xvfb.display(),
                "DBUS_SESSION_BUS_ADDRESS=" + desktop.bus.address(), "QT_QPA_PLATFORM=xcb", "QT_XCB_GL_INTEGRATION=none",
                "TMPDIR=" + dir.path(), "PATH=/usr/bin:/bin"};
    }
    void TearDown() override {
        if (app > 0) {
            ::kill(app, SIGKILL);
            waitChild(app, 5s);
        }
    }
    void start() {
        app = spawnLogged(binary, vars, log());
        ASSERT_GT(app, 0);
    }
    std::string log() const { return dir.file("app.log"); }
    bool logShows(const std::string& text) {
        return spinUntil([&] { return TempDir::read(log()).find(text) != std::string::npos; }, 15000);
    }

    TempDir dir;
    TrayDesktop desktop;
    std::string binary;
    std::vector<std::string> vars;
    pid_t app = -1;
};

TEST_F(HavenwayTray, RegistersOffersTheSignedOutMenuAndReopensOnAClick) {
    start();
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 30000)) << TempDir::read(log());
    const QString service = desktop.watcher->items().front();

    MenuNode root;
    ASSERT_TRUE(spinUntil(
        [&] {
            root = trayLayout(service);
            return !root.children.empty();
        },
        10000));
    QStringList labels;
    for (const auto& n : root.children)
        if (n.props.value("type").toString() != "separator") labels << n.label();
    EXPECT_EQ(labels, (QStringList{"Open Havenway", "Sign In", "Quit Havenway"}));

    trayCall(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {0, 0});
    EXPECT_TRUE(logShows("applicationShouldHandleReopen")) << TempDir::read(log());

    ::kill(app, SIGTERM);
    EXPECT_EQ(waitChild(app, 15s), 0) << TempDir::read(log());
    app = -1;
}

// The demo account remembered from an earlier start signs in by itself; once
// its data has loaded the tray offers the full menu with every location.
TEST_F(HavenwayTray, SignedInDemoGetsTheFullMenuWithEveryLocationAndItsFlag) {
    const auto env = TestbedEnv::load();
    if (!env) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
    for (auto& v : vars)
        if (v.rfind("HAVENWAY_BACKEND_HOST=", 0) == 0) v = "HAVENWAY_BACKEND_HOST=" + env->get("HAVENWAY_BACKEND_HOST");
    vars.push_back("HAVENWAY_WEB_HOST=" + env->get("HAVENWAY_WEB_HOST"));
    vars.push_back("HAVENWAY_TEST_CA=" + env->get("HAVENWAY_TEST_CA"));
    vars.push_back("HAVENWAY_SECRET_STORE=file");
    {
        JsonSettingsStore settings(dir.path() + "/config/havenway/settings.json");
        settings.set(SettingsUserDefaults::showWelcomePage, false);
        settings.set(SettingsUserDefaults::signMeInWhenHavenwayStarts, true);
        ASSERT_TRUE(settings.synchronize());
        FileSecretStore secrets(dir.path() + "/data/havenway/secrets.json");
        const std::string service = GlobalConstants::keychainServiceName;
        const std::string reference = service + "/" + AuthService::kPasswordKey;
        ASSERT_TRUE(secrets.writeString(service, AuthService::kUsernameKey, env->get("HAVENWAY_TESTBED_DEMO_USER")));
        ASSERT_TRUE(secrets.writeString(service, AuthService::kPasswordKey, env->get("HAVENWAY_TESTBED_DEMO_PASSWORD")));
        ASSERT_TRUE(secrets.write(service, AuthService::kPasswordDataKey, Bytes(reference.begin(), reference.end())));
    }
    start();
    ASSERT_TRUE(spinUntil([&] { return desktop.watcher->items().size() == 1; }, 30000)) << TempDir::read(log());
    const QString service = desktop.watcher->items().front();

    // The submenu once every location has its flag.
    const MenuNode* locations = nullptr;
    MenuNode root;
    auto flagged = [&] {
        root = trayLayout(service);
        locations = nullptr;
        for (const auto& n : root.children)
            if (n.props.value("children-display").toString() == "submenu") locations = &n;
        return locations && locations->children.size() == 7 &&
               std::all_of(locations->children.begin() + 1, locations->children.end(),
                           [](const MenuNode& n) { return !n.props.value("icon-data").toByteArray().isEmpty(); });
    };
    ASSERT_TRUE(spinUntil(flagged, 60000)) << TempDir::read(log());
    EXPECT_EQ(locations->children[0].label(), "Automatic");
    QStringList labels;
    for (const auto& n : root.children)
        if (n.props.value("type").toString() != "separator" && n.visible()) labels << n.label();
    EXPECT_TRUE(labels.contains("Connect")) << labels.join(" | ").toStdString();
    EXPECT_TRUE(labels.contains("Sign Out")) << labels.join(" | ").toStdString();
    EXPECT_TRUE(labels.front().startsWith("Location:  ")) << labels.join(" | ").toStdString();

    ::kill(app, SIGTERM);
    EXPECT_EQ(waitChild(app, 15s), 0) << TempDir::read(log());
    app = -1;
}

}  // namespace
}  // namespace hw::test
