// havenway_shots: renders the screenshot cases under a private X display and
// session bus, with every user folder redirected into a temporary one.
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sys/stat.h>

#include "shots.h"
#include "support/manual_animation_driver.h"
#include "support/private_dbus.h"
#include "support/recording_url_opener.h"
#include "support/temp_dir.h"
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
    std::fprintf(stderr, "usage: havenway_shots (--out DIR | --list | --needs-testbed) [--area AREA] [NAME...]\n");
    return 2;
}

void setEnv(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

int skipped(const std::string& reason) {
    std::printf("skipped: %s\n", reason.c_str());
    return kSkipped;
}

// Every folder the application could write goes under the temporary one.
bool redirectUserFolders(const std::string& root) {
    for (const auto& [name, sub] : {std::pair{"HOME", "/home"}, {"XDG_CONFIG_HOME", "/config"},
                                    {"XDG_DATA_HOME", "/data"}, {"XDG_STATE_HOME", "/state"}, {"XDG_CACHE_HOME", "/cache"},
                                    {"XDG_RUNTIME_DIR", "/run"}, {"HAVENWAY_RUNTIME_DIR", "/run/havenway"}}) {
        const std::string path = root + sub;
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
            QTest::qWait(200);  // a real display: let it draw what the last events asked for
            const QRect area = visibleWindowsArea();
            if (area.isEmpty()) throw std::runtime_error("nothing on screen");
            const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
            ok = picture.save(QString::fromStdString(path), "PNG") && ok;
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
    std::string outDir, area;
    bool list = false, needsTestbed = false;
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
    std::set<std::string> unknown(names.begin(), names.end());
    for (const auto& shot : shotCases()) {
        const bool wanted = names.empty() || unknown.erase(shot.name) > 0;
        if (wanted && (area.empty() || shot.name.rfind(area + ".", 0) == 0)) chosen.push_back(&shot);
    }
    if (!unknown.empty()) {
        std::fprintf(stderr, "no screenshot case named '%s'\n", unknown.begin()->c_str());
        return 2;
    }
    if (list) {
        for (const auto* shot : chosen) std::printf("%s\n", shot->name.c_str());
        return 0;
    }
    if (needsTestbed) {
        const bool any = std::any_of(chosen.begin(), chosen.end(), [](const ShotCase* s) { return s->needsTestbed; });
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
    if (!xvfb.start(&reason)) return skipped(reason);
    test::PrivateDBus bus;
    if (!bus.start(&reason)) return skipped(reason);
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
