#pragma once
// The real main window offscreen on the real state object and Qt adapters,
// with a list of `count` locations and no backend, for the window benches.
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "core/settings_user_defaults.h"
#include "platform/json_settings_store.h"
#include "platform/linux_system_info.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_image_codec.h"
#include "platform/qt/qt_main_queue.h"
#include "platform/thread_pool.h"
#include "services/links_manager.h"
#include "services/locations_list_model.h"
#include "support/fake_user_notification_center.h"
#include "support/recording_pane_engine.h"
#include "support/recording_shell_commands.h"
#include "support/recording_url_opener.h"
#include "view/havenway_application.h"
#include "windows/main/main_window_view_controller.h"
#include "windows/main/widgets/main_window_widget.h"

namespace hw::bench {

constexpr int kFlagFiles = 200;

struct WallClock final : Clock {
    double wallSeconds() const override { return 0; }
    std::int64_t steadyMillis() const override { return 0; }
};

inline QApplication& app() {
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static HavenwayApplication* instance = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        HavenwayApplication::prepare();
        return new HavenwayApplication(argc, argv);
    }();
    return *instance;
}

inline double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

inline Bytes pngFlag(int i) {
    QImage image(64, 48, QImage::Format_RGBA8888);
    image.fill(QColor::fromHsv((i * 37) % 360, 200, 220));
    QPainter(&image).fillRect(0, 16, 64, 16, QColor::fromHsv((i * 91) % 360, 120, 250));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(bytes.begin(), bytes.end());
}

inline std::shared_ptr<LocationsListModel> makeList(int count, const std::vector<ParseFilePtr>& flags) {
    static const char* names[] = {"Netherlands", "Germany", "United Kingdom", "United States", "Canada", "Japan",
                                  "Brazil",      "Austria", "South Africa",   "New Zealand",   "Sweden", "Spain"};
    std::vector<LocationsListItemPtr> items;
    items.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        auto item = std::make_shared<LocationsListItemModel>("id" + std::to_string(i),
                                                             std::string(names[i % 12]) + " " + std::to_string(i));
        item->isFavorite = i % 97 == 0;
        item->isRecommended = i % 13 == 0;
        item->flag = flags.empty() ? nullptr : flags[static_cast<std::size_t>(i % kFlagFiles)];
        items.push_back(std::move(item));
    }
    return std::make_shared<LocationsListModel>(std::move(items));
}

// The window on the real state object and Qt adapters; no backend.
struct Rig {
    Rig(int count, bool withFlags) : store(folder + "/settings.json") {
        store.registerDefaults(SettingsUserDefaults::defaults());
        if (withFlags) {
            for (int i = 0; i < kFlagFiles; ++i) {
                const auto name = "https://files.example/flag_" + std::to_string(i) + ".png";
                flagFiles.push_back(std::make_shared<ParseFile>(std::weak_ptr<ParseCore>{}, name, name, pngFlag(i),
                                                                "image/png"));
            }
        }
        list = makeList(count, flagFiles);
        model.setUseAutomaticLocation(false);
        MainWindowEnvironment env{BaseControllerContext{model, nullptr, opener}, widget, widget, queue, clock, shell,
                                  notifications, links, probe, nullptr, engine, images, nullptr, nullptr, false};
        controller = std::make_shared<MainWindowViewController>(std::move(env));
    }
    ~Rig() {
        controller.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    // The settings store writes only into a private folder.
    static std::string privateFolder() {
        std::string name = "/tmp/bench_main_window_XXXXXX";
        return ::mkdtemp(name.data()) ? name : std::string("/tmp");
    }
    // Paints what is on screen now, as the display would.
    void paint() {
        widget.grab();
    }
    void settle(int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    struct AppFirst {
        AppFirst() { app(); }
    } appFirst;
    std::string folder = privateFolder();
    QtMainQueue queue;
    ThreadPool background{2};
    QtImageCodec codec;
    QtHttpClient http{queue};
    LinuxSystemInfo system;
    JsonSettingsStore store;
    ApplicationModel model{ApplicationModelEnvironment{store, queue, background, codec, http, system}};
    WallClock clock;
    test::RecordingShellCommands shell;
    test::FakeUserNotificationCenter notifications;
    test::RecordingPaneEngine engine;
    test::RecordingURLOpener opener;
    LinksManager links{model};
    std::shared_ptr<ProbeURLReachabilityHelper> probe = std::make_shared<ProbeURLReachabilityHelper>(http, queue);
    RemoteImageLoader images{queue, background, codec};
    MainWindowWidget widget{images};
    std::vector<ParseFilePtr> flagFiles;
    std::shared_ptr<LocationsListModel> list;
    std::shared_ptr<MainWindowViewController> controller;
};

}  // namespace hw::bench
