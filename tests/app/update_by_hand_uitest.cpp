// The update road as a user walks it: a "Havenway" folder of this build, the
// testbed announcing a newer version; Settings' "Check for updates" or the
// update bar's link, then Install, then Restart.
// The application, the install script and the application they start again
// are all real, on a private X display and bus.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/global_constants.h"
#include "core/settings_user_defaults.h"
#include "havenway/build_config.h"
#include "platform/file_secret_store.h"
#include "platform/json_settings_store.h"
#include "platform/posix_process_runner.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_main_queue.h"
#include "services/auth_service.h"
#include "support/child_process.h"
#include "support/qt_test_app.h"
#include "support/temp_dir.h"
#include "support/tray_desktop.h"
#include "support/x_keyboard.h"
#include "support/x_pointer.h"
#include "testbed/testbed_env.h"

namespace hw::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The update bar's link colour: nothing else on the main window has it.
constexpr std::uint32_t kUpdateLinkColour = 0x3A7045;
// The main window's top bar and the ink of its buttons.
constexpr std::uint32_t kTopBarColour = 0x151617;
constexpr std::uint32_t kTopBarInk = 0xD5D6D8;
// Settings: the toolbar's labels (and the panes' headers), the Support pane's
// links, and the text of a push button.
constexpr std::uint32_t kToolbarText = 0x303334;
constexpr std::uint32_t kSettingsLinkColour = 0x15A9EA;
constexpr std::uint32_t kButtonText = 0x000000;

// Which way to the update sheet.
enum class Road { Settings, UpdateBar };

class UpdateByHand : public ::testing::Test, public QtAppFirst {
protected:
    void SetUp() override {
        auto loaded = TestbedEnv::load();
        if (!loaded) GTEST_SKIP() << "testbed not up (run scripts/testbed up): no " << TestbedEnv::path();
        testbed = *loaded;
        if (::access(built().c_str(), X_OK) != 0) GTEST_SKIP() << "havenway is not built: " << built();
        if (const std::string why = desktop.start(true, asNobody); !why.empty()) GTEST_SKIP() << why;
        if (!XPointer(desktop.xvfb.display()).ok()) GTEST_SKIP() << "no XTEST on the display";
        // The client trusts the testbed's CA from the environment it starts in.
        testbed.exportToEnvironment();
        http = std::make_unique<QtHttpClient>(queue);

        makeApplication(folder(), "old");
        // Every file of the user under HOME, and the session in XDG_RUNTIME_DIR: the
        // install script hands the application it starts again only those.
        fs::create_directories(dir.file("home"));
        fs::create_directories(dir.file("run"));
        ::chmod(dir.file("run").c_str(), 0700);
        env = {{"HOME", dir.file("home")},
               {"XDG_RUNTIME_DIR", dir.file("run")},
               {"DISPLAY", desktop.xvfb.display()},
               {"DBUS_SESSION_BUS_ADDRESS", desktop.bus.address()},
               {"QT_QPA_PLATFORM", "xcb"},
               {"QT_XCB_GL_INTEGRATION", "none"},
               {"HAVENWAY_SECRET_STORE", "file"},
               {"PATH", "/usr/bin:/bin"}};
        for (const char* name : {"HAVENWAY_BACKEND_HOST", "HAVENWAY_WEB_HOST", "HAVENWAY_TEST_CA"})
            env[name] = testbed.get(name);
        rememberDemoAccount();
    }
    void TearDown() override {
        for (pid_t pid : running()) ::kill(pid, SIGKILL);
        if (app > 0) waitChild(app, 5s);
        if (offered && http) offer("", "");
    }

    static std::string built() { return HW_BINARY_DIR "/src/havenway"; }
    std::string folder() const { return dir.file("apps/Havenway"); }
    std::string archive() const { return dir.file("home/.local/share/havenway/auto-update.zip"); }

    // A folder as the README's road installs it (cmake --install), marked
    // with the version it stands for.
    void makeApplication(const std::string& at, const std::string& version) {
        ProcessRequest install;
        install.argv = {"cmake", "--install", HW_BINARY_DIR, "--prefix", at};
        install.timeout = 120s;
        const auto done = PosixProcessRunner().run(install);
        ASSERT_TRUE(done.ok()) << done.err;
        TempDir::write(at + "/VERSION", version);
    }
    // The shared libraries the installed executable asks for.
    std::string neededLibraries() const {
        ProcessRequest read;
        read.argv = {"readelf", "-d", folder() + "/bin/havenway"};
        read.timeout = 30s;
        const auto done = PosixProcessRunner().run(read);
        EXPECT_TRUE(done.ok()) << done.err;
        return done.out;
    }
    // The arguments a process was started with, one after the other.
    static std::string commandLine(pid_t pid) {
        std::string all = TempDir::read("/proc/" + std::to_string(pid) + "/cmdline");
        std::replace(all.begin(), all.end(), '\0', ' ');
        return all;
    }
    // The current build laid out as the "Havenway" folder, zipped, marked "new".
    std::string makeUpdate() {
        makeApplication(dir.file("stage/Havenway"), "new");
        ProcessRequest zip;
        // The paths travel as arguments, never inside the program text.
        zip.argv = {"/bin/sh", "-c", "cd \"$1\" && exec zip -q -r -0 \"$2\" Havenway", "sh", dir.file("stage"),
                    dir.file("update.zip")};
        zip.timeout = 120s;
        const auto made = PosixProcessRunner().run(zip);
        EXPECT_TRUE(made.ok()) << made.err;
        fs::remove_all(dir.file("stage"));
        return dir.file("update.zip");
    }

    void rememberDemoAccount() {
        JsonSettingsStore settings(dir.file("home/.config/havenway/settings.json"));
        settings.set(SettingsUserDefaults::showWelcomePage, false);
        settings.set(SettingsUserDefaults::signMeInWhenHavenwayStarts, true);
        ASSERT_TRUE(settings.synchronize());
        FileSecretStore secrets(dir.file("home/.local/share/havenway/secrets.json"));
        const std::string service = GlobalConstants::keychainServiceName;
        const std::string reference = service + "/" + AuthService::kPasswordKey;
        ASSERT_TRUE(secrets.writeString(service, AuthService::kUsernameKey, testbed.get("HAVENWAY_TESTBED_DEMO_USER")));
        ASSERT_TRUE(secrets.writeString(service, AuthService::kPasswordKey, testbed.get("HAVENWAY_TESTBED_DEMO_PASSWORD")));
        ASSERT_TRUE(secrets.write(service, AuthService::kPasswordDataKey, Bytes(reference.begin(), reference.end())));
    }

    // What the testbed offers: the archive to serve ("" the bad one) and the
    // version to announce ("" the seeded one). Asked on loopback, as it demands.
    bool offer(const std::string& path, const std::string& version) {
        const std::string web = testbed.get("HAVENWAY_WEB_HOST");
        HttpRequest put;
        put.method = "PUT";
        put.url = "https://127.0.0.1" + web.substr(web.rfind(':')) + "/testbed/update";
        put.headers = {{"X-Parse-Master-Key", testbed.get("HAVENWAY_TESTBED_MASTER_KEY")},
                       {"Content-Type", "application/json"}};
        put.body = R"({"archive":")" + path + R"(","version":")" + version + R"("})";
        std::optional<int> status;
        http->send(put, [&](const HttpResponse& r) { status = r.status; });
        offered = true;
        return spinUntil([&] { return status.has_value(); }) && *status == 200;
    }
    // The version after the one this build reports, as the testbed's switch announces it.
    static std::string nextVersion() {
        const std::string v = HW_VERSION;
        return v.substr(0, v.rfind('.') + 1) + std::to_string(std::stoi(v.substr(v.rfind('.') + 1)) + 1);
    }

    // The processes that run the folder's application now.
    std::vector<pid_t> running() const {
        std::vector<pid_t> pids;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/proc", ec)) {
            const std::string name = e.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::error_code readError;
            if (fs::read_symlink(e.path() / "exe", readError).string() == folder() + "/bin/havenway")
                pids.push_back(static_cast<pid_t>(std::stol(name)));
        }
        return pids;
    }
    // Once reaped it stays exited: a second wait would find no child.
    bool exited(pid_t pid) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) reaped = pid;
        return reaped == pid;
    }

    // A window shown now that was not among those; a tooltip is none.
    static xcb_window_t newWindow(XKeyboard& keyboard, const std::set<xcb_window_t>& before) {
        for (xcb_window_t w : keyboard.shownWindows())
            if (!before.count(w) && !keyboard.overrideRedirect(w)) return w;
        return 0;
    }

    // The top bar's gear: its buttons from the right are the profile, the gear, the locations.
    static std::optional<XPointer::Point> gear(XPointer& pointer, xcb_window_t main) {
        const auto bars = pointer.findPatches(main, kTopBarColour, 1);
        const auto bar = std::max_element(bars.begin(), bars.end(), [](const auto& a, const auto& b) {
            return a.right - a.left < b.right - b.left;
        });
        if (bar == bars.end()) return std::nullopt;
        std::vector<XPointer::Patch> icons;
        // Far enough apart that two buttons never join, close enough that one icon's
        // strokes do; near the ink, as a smoothed line one pixel wide never quite has it.
        for (const auto& ink : pointer.findPatches(main, kTopBarInk, 6, 24))
            if (ink.top >= bar->top && ink.bottom <= bar->bottom && ink.left > (bar->left + bar->right) / 2)
                icons.push_back(ink);
        if (icons.size() < 3) return std::nullopt;
        return icons[icons.size() - 2].middle();
    }
    // The toolbar's last item, Support: the rightmost label of the top row.
    static std::optional<XPointer::Point> supportItem(XPointer& pointer, xcb_window_t settings) {
        const auto labels = pointer.findPatches(settings, kToolbarText, 6);
        if (labels.empty()) return std::nullopt;
        int top = labels.front().top;
        for (const auto& l : labels) top = std::min(top, l.top);
        std::optional<XPointer::Point> last;
        for (const auto& l : labels)
            if (l.top <= top + 4) last = l.middle();
        return last;
    }
    // "Check for updates": the first push button's label below the Support pane's
    // first link (the bottom bar has a link of that colour too).
    static std::optional<XPointer::Point> checkButton(XPointer& pointer, xcb_window_t settings) {
        const auto links = pointer.findPatches(settings, kSettingsLinkColour, 6);
        const auto first = std::min_element(links.begin(), links.end(), [](const auto& a, const auto& b) {
            return a.top < b.top;
        });
        if (first == links.end()) return std::nullopt;
        std::optional<XPointer::Patch> button;
        for (const auto& t : pointer.findPatches(settings, kButtonText, 6))
            if (t.top > first->bottom && (!button || t.top < button->top)) button = t;
        if (!button) return std::nullopt;
        return button->middle();
    }

    // Settings as a user opens them, the Support pane, "Check for updates": the sheet it shows.
    xcb_window_t sheetFromSettings(XPointer& pointer, XKeyboard& keyboard, xcb_window_t main) {
        const auto before = keyboard.shownWindows();
        xcb_window_t settings = 0;
        EXPECT_TRUE(spinUntil(
            [&] {
                // Asked once more at the end: no second click then.
                if (settings) return true;
                if (auto at = gear(pointer, main)) pointer.click(*at);
                return spinUntil([&] { return (settings = newWindow(keyboard, before)) != 0; }, 2000);
            },
            20000))
            << "no settings window after a click on the gear\n"
            << TempDir::read(appLog);
        if (!settings) return 0;
        auto shown = keyboard.shownWindows();
        xcb_window_t sheet = 0;
        // The pane may still be drawing when first aimed at: aim again until the sheet shows.
        EXPECT_TRUE(spinUntil(
            [&] {
                if (sheet) return true;
                if (auto at = supportItem(pointer, settings)) pointer.click(*at);
                std::optional<XPointer::Point> check;
                if (!spinUntil([&] { return (check = checkButton(pointer, settings)).has_value(); }, 2000))
                    return false;
                pointer.click(*check);
                return spinUntil([&] { return (sheet = newWindow(keyboard, shown)) != 0; }, 2000);
            },
            30000))
            << "no update sheet from the Support pane's \"Check for updates\"\n"
            << TempDir::read(appLog);
        return sheet;
    }
    xcb_window_t sheetFromUpdateBar(XPointer& pointer, XKeyboard& keyboard, xcb_window_t main,
                                    std::optional<XPointer::Point> link) {
        const auto before = keyboard.shownWindows();
        xcb_window_t sheet = 0;
        // The bar slides in: aim again until the click lands.
        EXPECT_TRUE(spinUntil(
            [&] {
                if (sheet) return true;
                if (auto at = pointer.findColour(main, kUpdateLinkColour)) pointer.click(*(link = at));
                return spinUntil([&] { return (sheet = newWindow(keyboard, before)) != 0; }, 2000);
            },
            20000))
            << "no update sheet after a click at " << link->x << "," << link->y << "\n"
            << TempDir::read(appLog);
        return sheet;
    }

    // Starts the folder's application, opens the update sheet by the road, and
    // answers Install, then Restart. The application started again afterwards, or -1.
    pid_t walk(Road road) {
        std::vector<std::string> vars;
        for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
        appLog = dir.file("app" + std::to_string(++walks) + ".log");
        app = spawnLogged({folder() + "/bin/havenway"}, vars, appLog);
        EXPECT_GT(app, 0);
        XPointer pointer(desktop.xvfb.display());
        XKeyboard keyboard(desktop.xvfb.display());
        std::optional<XPointer::Point> link;
        xcb_window_t main = 0;
        // Shown a few seconds after the configuration announced the version;
        // only then does "Check for updates" know of it too.
        const bool shown = spinUntil(
            [&] {
                for (xcb_window_t w : keyboard.shownWindows())
                    if ((link = pointer.findColour(w, kUpdateLinkColour))) main = w;
                return link.has_value();
            },
            60000);
        EXPECT_TRUE(shown) << TempDir::read(appLog);
        if (!shown) return -1;
        // Announced to this application; nobody else's start need see it.
        EXPECT_TRUE(offer(served, ""));

        const xcb_window_t sheet = road == Road::Settings ? sheetFromSettings(pointer, keyboard, main)
                                                          : sheetFromUpdateBar(pointer, keyboard, main, link);
        if (!sheet) return -1;
        EXPECT_TRUE(keyboard.press(sheet, 0xff0d /* Return: Install, the default button */));
        EXPECT_TRUE(spinUntil([&] { return logged("update downloaded and ready to install") > 0; }, 60000))
            << TempDir::read(appLog);
        // Restart is offered a second later; Return until it is taken.
        EXPECT_TRUE(spinUntil(
            [&] {
                if (logged("install script started") > 0) return true;
                keyboard.press(sheet, 0xff0d);
                spinFor(300);
                return false;
            },
            20000))
            << TempDir::read(appLog);
        const bool quit = spinUntil([&] { return exited(app); }, 60000);
        EXPECT_TRUE(quit) << TempDir::read(appLog);
        if (!quit) return -1;
        app = -1;
        // The script waits for the end, then unpacks and swaps the folder.
        std::vector<pid_t> again;
        spinUntil([&] { return !(again = running()).empty(); }, 90000);
        return again.empty() ? -1 : again.front();
    }
    // Whether the application started again signed in as the one that quit: its
    // main window, not the login, shows. Started with fewer variables, it would
    // read other files and ask another backend.
    bool signedInAgain() {
        XPointer pointer(desktop.xvfb.display());
        XKeyboard keyboard(desktop.xvfb.display());
        return spinUntil(
            [&] {
                for (xcb_window_t w : keyboard.shownWindows())
                    if (gear(pointer, w)) return true;
                return false;
            },
            60000);
    }
    long logged(const std::string& text) const {
        const std::string all = TempDir::read(appLog);
        long n = 0;
        for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
        return n;
    }
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.file("apps")))
            if (e.path().filename() != "Havenway") names.push_back(e.path().filename().string());
        return names;
    }

    TestbedEnv testbed;
    TempDir dir;
    TrayDesktop desktop;
    QtMainQueue queue;
    std::unique_ptr<QtHttpClient> http;
    std::map<std::string, std::string> env;
    std::string served;
    bool offered = false;
    pid_t app = -1;
    pid_t reaped = -1;
    int walks = 0;
    std::string appLog;
    // Set before SetUp: the application runs as nobody, who cannot replace its folder.
    bool asNobody = false;
};

// What the README's road installs: the standard edition, without the web
// engine the enterprise sign-in needs.
TEST_F(UpdateByHand, TheInstalledApplicationIsTheStandardEdition) {
    const std::string needed = neededLibraries();
    EXPECT_NE(needed.find("libQt6Widgets"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("WebEngine"), std::string::npos) << needed;
    EXPECT_FALSE(fs::exists(folder() + "/share/applications/havenway.desktop") &&
                 TempDir::read(folder() + "/share/applications/havenway.desktop").find("x-scheme-handler/havenway") !=
                     std::string::npos)
        << "the standard edition registers no havenway: links";
}

// One walk after the other: the testbed offers one update at a time. The bad
// archive is reached by the update bar, the good one by Settings.
TEST_F(UpdateByHand, ABadArchiveLeavesTheOldApplicationThenTheNewOneStartsFromTheSameFolder) {
    // The testbed's bad archive: no bin/havenway.
    ASSERT_TRUE(offer("", nextVersion()));
    const pid_t old = walk(Road::UpdateBar);
    ASSERT_GT(old, 0) << "the old application was not started again";
    EXPECT_NE(commandLine(old).find("--update-refused"), std::string::npos) << commandLine(old);
    EXPECT_EQ(TempDir::read(folder() + "/VERSION"), "old");
    EXPECT_TRUE(fs::exists(folder() + "/bin/havenway"));
    EXPECT_TRUE(leftovers().empty());
    EXPECT_FALSE(fs::exists(archive())) << "the refused archive stays behind";
    ASSERT_TRUE(signedInAgain()) << "the old application started again without its session";
    {
        // Besides its main window, the notice that the update was not installed.
        XKeyboard keyboard(desktop.xvfb.display());
        EXPECT_TRUE(spinUntil(
            [&] {
                int shown = 0;
                for (xcb_window_t w : keyboard.shownWindows()) shown += keyboard.overrideRedirect(w) ? 0 : 1;
                return shown >= 2;
            },
            30000))
            << "no word that the update failed";
    }
    ::kill(old, SIGKILL);
    ASSERT_TRUE(spinUntil([&] { return running().empty(); }, 10000));

    served = makeUpdate();
    ASSERT_TRUE(offer(served, nextVersion()));
    const pid_t again = walk(Road::Settings);
    ASSERT_GT(again, 0) << "nothing started again";
    EXPECT_EQ(TempDir::read(folder() + "/VERSION"), "new");
    EXPECT_TRUE(leftovers().empty()) << "the old application or the unpacking stayed behind";
    EXPECT_FALSE(fs::exists(archive())) << "the installed archive stays behind";
    EXPECT_TRUE(signedInAgain()) << "the new application started without its session";
}

// The folder is the user's, but the folder around it is not: Restart says
// that the update cannot be installed here, keeps the application running
// and leaves no archive behind.
class UpdateByHandAsNobody : public UpdateByHand {
protected:
    void SetUp() override {
        asNobody = true;
        UpdateByHand::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the application as another user";
        const uid_t nobody = 65534;
        ::chmod(dir.path().c_str(), 0711);
        for (const std::string& top : {dir.file("home"), dir.file("run"), folder()}) {
            ASSERT_EQ(::chown(top.c_str(), nobody, nobody), 0) << top;
            for (const auto& e : fs::recursive_directory_iterator(top))
                ASSERT_EQ(::lchown(e.path().c_str(), nobody, nobody), 0) << e.path();
        }
        ::chmod(dir.file("apps").c_str(), 0755);
    }
};

TEST_F(UpdateByHandAsNobody, AFolderTheUserCannotReplaceSaysSoAndKeepsNoArchive) {
    served = makeUpdate();
    ASSERT_TRUE(offer(served, nextVersion()));
    std::vector<std::string> vars;
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    appLog = dir.file("app.log");
    app = spawnLogged({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", folder() + "/bin/havenway"},
                      vars, appLog);
    ASSERT_GT(app, 0);
    XPointer pointer(desktop.xvfb.display());
    XKeyboard keyboard(desktop.xvfb.display());
    std::optional<XPointer::Point> link;
    xcb_window_t main = 0;
    ASSERT_TRUE(spinUntil(
        [&] {
            for (xcb_window_t w : keyboard.shownWindows())
                if ((link = pointer.findColour(w, kUpdateLinkColour))) main = w;
            return link.has_value();
        },
        60000))
        << TempDir::read(appLog);
    const xcb_window_t sheet = sheetFromUpdateBar(pointer, keyboard, main, link);
    ASSERT_NE(sheet, 0u);
    ASSERT_TRUE(keyboard.press(sheet, 0xff0d /* Return: Install */));
    ASSERT_TRUE(spinUntil([&] { return logged("update downloaded and ready to install") > 0; }, 60000))
        << TempDir::read(appLog);
    EXPECT_TRUE(spinUntil(
        [&] {
            if (logged("Auto-Update cannot be installed here") > 0) return true;
            keyboard.press(sheet, 0xff0d /* Restart, once offered */);
            spinFor(300);
            return false;
        },
        20000))
        << TempDir::read(appLog);
    EXPECT_EQ(logged("Auto-Update download failed"), 0) << "no download failed";
    EXPECT_NE(logged("the bundle cannot be replaced by this user"), 0) << TempDir::read(appLog);
    EXPECT_FALSE(fs::exists(archive())) << "an archive that nothing here can install stays behind";
    EXPECT_FALSE(exited(app)) << "the application keeps running";
    EXPECT_EQ(TempDir::read(folder() + "/VERSION"), "old");
}

}  // namespace
}  // namespace hw::test
