// The login window: its first showing offscreen (window, controller and the
// opening sequence, on the fake backend), and the enterprise page from
// prepared to loaded, with the memory Chromium adds. Each prints its median
// against its target.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QWebEngineView>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/log.h"
#include "platform/qt/qt_main_queue.h"
#include "support/fake_settings_store.h"
#include "view/havenway_application.h"
#include "windows/login/auth_window_view_controller.h"
#include "windows/login/enterprise/enterprise_service.h"
#include "windows/login/login_window_services.h"
#include "windows/login/widgets/auth_window_widget.h"

namespace {

using namespace hw;
using Clock = std::chrono::steady_clock;

class QuietLog final : public LogSink {
    void write(LogLevel, std::string_view, std::string_view) override {}
};

void report(benchmark::State& state, std::vector<double>& ms, double targetMs) {
    std::sort(ms.begin(), ms.end());
    const double median = ms.empty() ? 0 : ms[ms.size() / 2];
    state.counters["median_ms"] = median;
    state.counters["target_ms"] = targetMs;
    state.counters["median_to_target"] = median / targetMs;
}

// Resident memory of this process and its children (Chromium's helpers), in KiB.
long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}
long familyResidentKiB() {
    long total = residentKiB(::getpid());
    for (const auto& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number) continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string comm, state;
        pid_t id = 0, parent = 0;
        stat >> id >> comm >> state >> parent;
        if (parent == ::getpid()) total += residentKiB(pid);
    }
    return total;
}

using Services = test::LoginWindowServices<QtMainQueue>;

void BM_FirstShowOffscreen(benchmark::State& state) {
    Services services;
    services.auth.setRecentLoginData(LoginData{"demo@havenway.test", "demo123456", Bytes{1}});
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        AuthWindowWidget window;
        AuthWindowViewController controller(
            services.context, window, window,
            services.dependencies(), false);
        controller.pendingLoginData = services.auth.recentLoginData();
        controller.showWindow();
        QApplication::processEvents();
        window.repaint();
        const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ms.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000.0);
    }
    report(state, ms, 100);
}
BENCHMARK(BM_FirstShowOffscreen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(31);

void BM_EnterprisePagePreparedToLoaded(benchmark::State& state) {
    test::FakeSettingsStore store;
    std::vector<double> ms;
    long addedKiB = 0;
    for (auto _ : state) {
        const long before = familyResidentKiB();
        const auto start = Clock::now();
        // A new service each time: a new profile, as at the first showing.
        auto service = std::make_unique<EnterpriseService>(store, nullptr);
        QWidget parent;
        parent.resize(380, 640);
        bool loaded = false;
        QWebEngineView* view = service->prepareEnterpriseVersionUI(&parent);
        QObject::connect(view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
        parent.show();
        while (!loaded && Clock::now() - start < std::chrono::seconds(20)) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        addedKiB = std::max(addedKiB, familyResidentKiB() - before);
        ms.push_back(elapsed);
        state.SetIterationTime(elapsed / 1000.0);
        delete view;
        service.reset();
        QApplication::processEvents();
    }
    // The first includes Chromium's own start, which only the first showing pays.
    state.counters["cold_ms"] = ms.empty() ? 0 : ms.front();
    report(state, ms, 2000);
    state.counters["memory_added_MiB"] = static_cast<double>(addedKiB) / 1024.0;
}
BENCHMARK(BM_EnterprisePagePreparedToLoaded)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    log::setSink(std::make_shared<QuietLog>());
    HavenwayApplication::prepare();
    EnterpriseService::registerURLScheme();
    HavenwayApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
