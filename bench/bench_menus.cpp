// The tray menus on a long list: prepareMenu for 500 locations with their flags
// cached must stay under 30 ms (median), one status update (IP, status,
// connect title) under 1 ms. Measured on the plain model and as drawn by Qt
// (offscreen); each prints its median and the ratio to its target.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/menu_bar_menu_controller.h"
#include "support/recording_menu_commands.h"
#include "app/qt_status_item.h"
#include "core/application_model.h"
#include "platform/log.h"
#include "services/locations_list_model.h"

namespace {

using namespace hw;


class NullStore final : public SettingsStore {
public:
    void registerDefaults(const SettingDict&) override {}
    std::optional<SettingValue> object(const std::string&) const override { return std::nullopt; }
    void set(const std::string&, SettingValue) override {}
    void remove(const std::string&) override {}
    bool synchronize() override { return true; }
    SettingDict snapshot() const override { return {}; }
};

// The lines are still made; only their output is dropped, so the bench prints its table alone.
struct QuietSink final : LogSink {
    void write(LogLevel, std::string_view, std::string_view) override {}
};
const bool quiet = [] {
    log::setSink(std::make_shared<QuietSink>());
    return true;
}();

QApplication& app() {
    static int argc = 1;
    static char name[] = "bench_menus";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *instance;
}

struct Rig {
    Rig() {
        std::vector<LocationsListItemPtr> items;
        for (int i = 0; i < 500; ++i) {
            auto item = std::make_shared<LocationsListItemModel>("id" + std::to_string(i), "Location " + std::to_string(i));
            item->flag = std::make_shared<ParseFile>(std::weak_ptr<ParseCore>{}, "f.png", "https://f/" + std::to_string(i % 60),
                                                     std::nullopt, "image/png");
            items.push_back(std::move(item));
        }
        list = std::make_shared<LocationsListModel>(std::move(items));
        auto image = std::make_shared<Image>();
        image->width = image->height = 38;
        image->rgba.assign(38 * 38 * 4, 0x7f);
        flag = image;
    }
    std::shared_ptr<LocationsListModel> list;
    ImagePtr flag;
};

// Times each iteration; reports the median and its ratio to the target.
template <class Work>
void timed(benchmark::State& state, double targetMs, Work work) {
    std::vector<double> ms;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::nth_element(ms.begin(), ms.begin() + static_cast<std::ptrdiff_t>(ms.size() / 2), ms.end());
    const double median = ms[ms.size() / 2];
    state.counters["median_ms"] = median;
    state.counters["target_ms"] = targetMs;
    state.counters["ratio"] = median / targetMs;
}

struct Controller {
    explicit Controller(const Rig& rig)
        : model(ApplicationModelEnvironment{store, queue, queue, codec, http, system}),
          controller(
              model, commands, [&rig](const ParseFilePtr&, std::function<void(ImagePtr)> reply) { reply(rig.flag); },
              queue) {
        controller.locationsListModel = rig.list;
    }
    struct Queue final : MainQueue, BackgroundQueue {
        void post(Task) override {}
        void postAfter(double, Task) override {}
        std::unique_ptr<Timer> startTimer(double, bool, Task) override { return nullptr; }
        bool isMainThread() const override { return true; }
        void async(Task) override {}
    } queue;
    NullStore store;
    struct Codec final : ImageCodec {
        ImagePtr decode(const Bytes&) const override { return nullptr; }
        std::optional<Bytes> encodePNG(const Image&) const override { return std::nullopt; }
    } codec;
    struct Http final : HttpClient {
        void send(HttpRequest, std::function<void(HttpResponse)>) override {}
    } http;
    struct System final : SystemInfo {
        std::optional<std::string> productSerial() const override { return std::nullopt; }
        std::vector<NetworkInterfaceInfo> networkInterfaces() const override { return {}; }
        std::optional<OSRelease> osRelease() const override { return std::nullopt; }
    } system;
    test::RecordingMenuCommands commands;
    ApplicationModel model;
    MenuBarMenuController controller;
};

void BM_PrepareMenu500(benchmark::State& state) {
    const bool drawn = state.range(0) != 0;
    if (drawn) app();
    Rig rig;
    Controller c(rig);
    std::unique_ptr<QtStatusItem> item;
    if (drawn) {
        item = std::make_unique<QtStatusItem>();
        item->setMenu(c.controller.menus().menuBarMenu);
    }
    timed(state, 30.0, [&] { c.controller.prepareMenu(); });
}
BENCHMARK(BM_PrepareMenu500)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(40);

void BM_StatusUpdate(benchmark::State& state) {
    const bool drawn = state.range(0) != 0;
    if (drawn) app();
    Rig rig;
    Controller c(rig);
    c.controller.prepareMenu();
    std::unique_ptr<QtStatusItem> item;
    if (drawn) {
        item = std::make_unique<QtStatusItem>();
        item->setMenu(c.controller.menus().menuBarMenu);
    }
    int n = 0;
    const auto& callbacks = c.controller.connectionDetailsCallbacks;
    timed(state, 1.0, [&] {
        ++n;
        callbacks.fireIPaddressUpdated("203.0.113." + std::to_string(n % 250));
        callbacks.fireConnectionStatusUpdated(n % 2 ? "Connected" : "Connecting");
        callbacks.fireConnectButtonStateChanged(n % 2 ? "DISCONNECT" : "CONNECTING      ");
    });
}
BENCHMARK(BM_StatusUpdate)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace
