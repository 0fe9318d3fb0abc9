// havenway_shots: renders the screenshot cases under a private X display and
// session bus, with every user folder redirected into a temporary one.
#include <QDir>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "shots.h"
#include "support/manual_animation_driver.h"
#include "support/private_dbus.h"
#include "support/recording_url_opener.h"
#include "support/temp_dir.h"
#include "support/widget_test_app.h"
#include "support/xvfb_server.h"
#include "view/havenway_application.h"
#include "view/kit_url_opener.h"

namespace hw::shots {

ShotStage::~ShotStage() = default;

std::vector<ShotCase>& shotCases() {
    static std::vector<ShotCase> cases;
    return cases;
}

namespace {

constexpr int kSkipped = 77;

int usage() {
    std::fprintf(stderr,
                 "usage: havenway_shots --out DIR [--area AREA] [NAME...]\n"
                 "       havenway_shots --list [--area AREA]\n"
                 "       havenway_shots --needs-testbed [--area AREA] [NAME...]\n");
    return 2;
}

void setEnv(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

// Every folder the application could write goes under the temporary one.
bool redirectUserFolders(const std::string& root) {
    const std::vector<std::pair<const char*, std::string>> folders{
        {"HOME", root + "/home"},         {"XDG_CONFIG_HOME", root + "/config"}, {"XDG_DATA_HOME", root + "/data"},
        {"XDG_STATE_HOME", root + "/state"}, {"XDG_CACHE_HOME", root + "/cache"},  {"XDG_RUNTIME_DIR", root + "/run"},
        {"HAVENWAY_RUNTIME_DIR", root + "/run/havenway"}};
    for (const auto& [name, path] : folders) {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        if (ec || ::chmod(path.c_str(), 0700) != 0) return false;
        setEnv(name, path);
    }
    setEnv("HAVENWAY_HELPER_SOCKET", root + "/run/havenway/helper.sock");
    return true;
}

QRect visibleWindowsArea() {
    QRect area;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) area = area.united(w->frameGeometry());
    return area;
}

bool waitForVisibleWindows() {
    // Waiting runs the event loop, which may delete a window later in the list.
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) windows.append(w);
    bool all = true;
    for (const QPointer<QWidget>& w : windows)
        if (w && w->isVisible() && w->windowHandle()) all = QTest::qWaitForWindowExposed(w->windowHandle(), 5000) && all;
    return all;
}

void closeEveryWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

bool render(const ShotCase& shot, const std::string& outDir, test::ManualAnimationDriver& driver) {
    const std::string path = outDir + "/" + shot.name + ".png";
    bool ok = true;
    {
        ShotStage stage;
        try {
            shot.build(stage);
            ok = waitForVisibleWindows();
            for (const auto& step : stage.afterShownSteps()) step();
            ok = waitForVisibleWindows() && ok;
            driver.advanceInSteps(stage.animationMs());
            // A real display: let it draw what the last events asked for.
            QTest::qWait(200);
            const QRect area = visibleWindowsArea();
            if (area.isEmpty()) {
                std::fprintf(stderr, "%s: nothing on screen\n", shot.name.c_str());
                ok = false;
            } else {
                const QPixmap picture =
                    QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
                ok = picture.save(QString::fromStdString(path), "PNG") && ok;
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", shot.name.c_str(), e.what());
            ok = false;
        }
        closeEveryWindow();
    }
    std::error_code ec;
    ok = ok && std::filesystem::file_size(path, ec) > 0 && !ec;
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
    return ok;
}

}  // namespace

int run(int argc, char** argv) {
    std::string outDir;
    std::string area;
    bool list = false;
    bool needsTestbed = false;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--out" && i + 1 < argc) outDir = argv[++i];
        else if (arg == "--area" && i + 1 < argc) area = argv[++i];
        else if (arg == "--list") list = true;
        else if (arg == "--needs-testbed") needsTestbed = true;
        else if (!arg.empty() && arg[0] != '-') names.push_back(arg);
        else return usage();
    }

    std::vector<const ShotCase*> chosen;
    const std::set<std::string> wanted(names.begin(), names.end());
    std::set<std::string> known;
    for (const auto& shot : shotCases()) {
        known.insert(shot.name);
        const bool inArea = area.empty() || shot.name.rfind(area + ".", 0) == 0;
        if (inArea && (wanted.empty() || wanted.count(shot.name))) chosen.push_back(&shot);
    }
    for (const auto& name : wanted) {
        if (!known.count(name)) {
            std::fprintf(stderr, "no screenshot case named '%s'\n", name.c_str());
            return 2;
        }
    }
    if (list) {
        for (const auto* shot : chosen) std::printf("%s\n", shot->name.c_str());
        return 0;
    }
    if (needsTestbed) {
        bool any = false;
        for (const auto* shot : chosen) any = any || shot->needsTestbed;
        std::printf("%s\n", any ? "yes" : "no");
        return 0;
    }
    if (outDir.empty()) return usage();
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    outDir = std::filesystem::absolute(outDir).string();

    test::TempDir temp;
    if (temp.path().empty() || !redirectUserFolders(temp.path())) {
        std::fprintf(stderr, "cannot make the temporary user folders\n");
        return 1;
    }
    std::string reason;
    test::XvfbServer xvfb;
    if (!xvfb.start(&reason)) {
        std::printf("skipped: %s\n", reason.c_str());
        return kSkipped;
    }
    test::PrivateDBus bus;
    if (!bus.start(&reason)) {
        std::printf("skipped: %s\n", reason.c_str());
        return kSkipped;
    }
    setEnv("DISPLAY", xvfb.display());
    setEnv("QT_QPA_PLATFORM", "xcb");
    setEnv("DBUS_SESSION_BUS_ADDRESS", bus.address());

    HavenwayApplication::prepare();
    // Kept for the life of the process: destroying it unloads the display's
    // plugins, and the leak checker then cannot name what they still hold.
    static HavenwayApplication* app = new HavenwayApplication(argc, argv);
    (void)app;
    test::RecordingURLOpener opener;
    setKitURLOpener(&opener);
    test::ManualAnimationDriver driver;

    int failed = 0;
    for (const auto* shot : chosen) failed += render(*shot, outDir, driver) ? 0 : 1;
    setKitURLOpener(nullptr);
    if (failed) std::fprintf(stderr, "%d screenshot case(s) failed\n", failed);
    return failed ? 1 : 0;
}

}  // namespace hw::shots

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return hw::shots::run(argc, argv);
}
