// The settings window's first show offscreen (target 100 ms), and the
// add-network sheet's filter of 5,000 scanned networks against 1,000 trusted
// ones (target 5 ms). Each prints its median against its target.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <unistd.h>
#include <vector>

#include "bench_qt_main.h"
#include "bench_report.h"
#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "platform/json_settings_store.h"
#include "platform/linux_system_info.h"
#include "platform/log.h"
#include "platform/qt/qt_http_client.h"
#include "platform/qt/qt_image_codec.h"
#include "platform/qt/qt_main_queue.h"
#include "platform/thread_pool.h"
#include "support/recording_shell_commands.h"
#include "view/havenway_application.h"
#include "view/user_defaults_controller.h"
#include "windows/settings/settings_window_view_controller.h"
#include "windows/settings/widgets/settings_window_widget.h"

namespace {

using namespace hw;
using Clock = std::chrono::steady_clock;

struct QuietLog final : LogSink {
    void write(LogLevel, std::string_view, std::string_view) override {}
};

struct NoOpener final : URLOpener {
    bool openAllowedURL(const std::string&) override { return false; }
};

void BM_SettingsWindowFirstShow(benchmark::State& state) {
    log::setSink(std::make_shared<QuietLog>());
    const std::string path = hw::bench::runFolder() + "/settings.json";
    QtMainQueue queue;
    ThreadPool background(1);
    JsonSettingsStore store(path);
    store.registerDefaults(SettingsUserDefaults::defaults());
    QtHttpClient http(queue);
    QtImageCodec codec;
    LinuxSystemInfo system;
    ApplicationModel model(ApplicationModelEnvironment{store, queue, background, codec, http, system});
    NoOpener opener;
    // The window asks nothing of the shell while it first shows.
    test::RecordingShellCommands shell;
    UserDefaultsController defaults(store);
    defaults.setAppliesImmediately(false);
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        SettingsWindowWidget widget(defaults, SettingsLayout::Tabbed);
        SettingsWindowViewController controller(
            BaseControllerContext{model, nullptr, opener}, widget, widget,
            SettingsWindowDependencies{defaults, shell, queue, background, [] { return nullptr; },
                                       [] { return false; }, {}, "support@havenway.test"});
        widget.setController(&controller);
        controller.showWindow();
        QCoreApplication::processEvents();
        const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ms.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000.0);
        widget.setController(nullptr);
    }
    reportMedianAgainstTarget(state, ms, 100.0);
    ::unlink(path.c_str());
}
BENCHMARK(BM_SettingsWindowFirstShow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

void BM_FilterScanAgainstTrusted(benchmark::State& state) {
    std::vector<WiFiScanEntry> scan;
    std::vector<TrustedNetworkItem> trusted;
    for (int i = 0; i < 5000; ++i) {
        const std::string ssid = "Network " + std::to_string(i % 1500);
        const std::string bssid = "AA:BB:CC:" + std::to_string(i / 256) + ":" + std::to_string(i % 256) + ":00";
        scan.push_back({ssid, bssid});
        if (i % 5 == 0) trusted.push_back({ssid, bssid});
    }
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto offered = availableNetworks(scan, trusted);
        benchmark::DoNotOptimize(offered.data());
        const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ms.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000.0);
    }
    reportMedianAgainstTarget(state, ms, 5.0);
}
BENCHMARK(BM_FilterScanAgainstTrusted)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace

int main(int argc, char** argv) {
    return hw::bench::runQtBenchmarks<hw::HavenwayApplication>(argc, argv, &hw::HavenwayApplication::prepare);
}
