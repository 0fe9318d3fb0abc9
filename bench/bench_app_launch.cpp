// Launch of the application shell. In-process: from an empty hub to the first
// window on screen (offscreen platform, backend answered at once with "cannot
// connect"). Out of process: a later start that hands "reopen" to the running
// copy, from exec to exit. Each prints its median against its target.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "bench_qt_main.h"
#include "bench_report.h"
#include "app/app_delegate.h"
#include "app/bare_shell_windows.h"
#include "app/hub_shell_services.h"
#include "app/kit_shell_alerts.h"
#include "app/logging_user_notification_center.h"
#include "core/application_model.h"
#include "core/settings_user_defaults.h"
#include "platform/file_secret_store.h"
#include "platform/json_settings_store.h"
#include "platform/linux_system_info.h"
#include "platform/log.h"
#include "platform/qt/qt_image_codec.h"
#include "platform/qt/qt_main_queue.h"
#include "platform/thread_pool.h"

extern char** environ;

namespace {

using namespace hw;
using Clock = std::chrono::steady_clock;

struct Folder {
    Folder() {
        std::string tmpl = hw::bench::runFolder() + "/launch-XXXXXX";
        path = ::mkdtemp(tmpl.data()) ? tmpl : hw::bench::runFolder();
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

class QuietLog final : public LogSink {
    void write(LogLevel, std::string_view, std::string_view) override {}
};

class RefusingHttp final : public HttpClient {
public:
    explicit RefusingHttp(MainQueue& queue) : queue_(queue) {}
    void send(HttpRequest, std::function<void(HttpResponse)> completion) override {
        queue_.post([completion] {
            HttpResponse r;
            r.error = HttpTransportError{HttpCannotConnect, "refused"};
            completion(r);
        });
    }

private:
    MainQueue& queue_;
};

// The hub with its state object and nothing behind it: the shell skips what is absent.
class BareFactory final : public ServiceLayerFactory {
public:
    BareFactory(MainQueue& queue, BackgroundQueue& background, SettingsStore& store, HttpClient& http)
        : queue_(queue), background_(background), store_(store), http_(http) {}
    MainQueue& mainQueue() override { return queue_; }
    SettingsStore& settingsStore() override { return store_; }
    std::unique_ptr<ApplicationModel> makeAppModel() override {
        return std::make_unique<ApplicationModel>(
            ApplicationModelEnvironment{store_, queue_, background_, codec_, http_, system_});
    }
    HubService<AuthService, HubAuthPort> makeAuthService(ServiceLayer&) override { return {}; }
    HubService<VPNConfigsService, HubVPNConfigsPort> makeVPNConfigsService(ServiceLayer&) override { return {}; }
    std::shared_ptr<VPNConnectionManager> makeVPNConnectionManager(ServiceLayer&) override { return nullptr; }
    HubService<ParseConfigService, HubParseConfigPort> makeParseConfigService(ServiceLayer&) override { return {}; }
    std::shared_ptr<LinksManager> makeLinksManager(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<AnalyticsService> makeAnalyticsService(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<SmartWigdetHelper> makeSmartWidgetService(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<FreeTrialSignUpService> makeFreeTrialService(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<UUIDHelper> makeUUIDHelper(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<HubCloudFunctionsPort> makeCloudFunctions(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<HubReachabilityPort> makeReachability(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<InternetReachabilityHelper> makeInternetReachabilityHelper(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<WiFi_InfoHelperObjC> makeWiFiInfoHelper(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<ProbeURLReachabilityHelper> makeProbeURLHelper(ServiceLayer&) override { return nullptr; }
    std::shared_ptr<AppExceptionReportingHelper> makeAppExceptionReportingHelper(ServiceLayer&) override {
        return nullptr;
    }
    std::shared_ptr<EnterpriseAuthService> makeEnterpriseAuthService(ServiceLayer&) override { return nullptr; }

private:
    MainQueue& queue_;
    BackgroundQueue& background_;
    SettingsStore& store_;
    HttpClient& http_;
    QtImageCodec codec_;
    LinuxSystemInfo system_;
};

void BM_LaunchToFirstWindow(benchmark::State& state) {
    log::setSink(std::make_shared<QuietLog>());
    std::vector<double> ms;
    for (auto _ : state) {
        Folder folder;
        ::setenv("HAVENWAY_LOGS_DIR", (folder.path + "/logs").c_str(), 1);
        const auto start = Clock::now();
        QtMainQueue queue;
        ThreadPool background(2);
        JsonSettingsStore store(folder.path + "/settings.json");
        store.registerDefaults(SettingsUserDefaults::defaults());
        FileSecretStore secrets(folder.path + "/secrets.json");
        RefusingHttp http(queue);
        ParseClient parse(ParseClientConfig{"app", "key", "https://backend.invalid/parse", "hw-bench",
                                            folder.path + "/datastore.sqlite", "", 1000},
                          http, queue, secrets, store);
        ServiceLayer hub(std::make_shared<BareFactory>(queue, background, store, http));
        HubShellServices services(hub, parse, queue);
        KitShellAlerts alerts;
        LoggingUserNotificationCenter notifications;
        AppDelegate delegate(AppDelegateEnvironment{hub, store, queue, services, makeBareShellWindows(nullptr),
                                                    alerts, notifications});
        delegate.applicationDidFinishLaunching();
        while (!delegate.currentWindowController() || !delegate.currentWindowController()->isVisible())
            QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(elapsed / 1000.0);
        ms.push_back(elapsed);
    }
    log::setSink(nullptr);
    reportMedianAgainstTarget(state, ms, 200);
}
BENCHMARK(BM_LaunchToFirstWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

void BM_ForwardingSecondStart(benchmark::State& state) {
    Folder folder;
    for (const char* sub : {"c", "d", "s", "r"}) std::filesystem::create_directories(folder.path + "/" + sub);
    ::setenv("HOME", folder.path.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder.path + "/c").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (folder.path + "/d").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (folder.path + "/s").c_str(), 1);
    ::setenv("HAVENWAY_RUNTIME_DIR", (folder.path + "/r").c_str(), 1);
    ::setenv("HAVENWAY_HELPER_SOCKET", (folder.path + "/no-helper.sock").c_str(), 1);
    ::setenv("HAVENWAY_BACKEND_HOST", "http://127.0.0.1:9", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const pid_t first = spawn({HAVENWAY_BINARY});
    const std::string socket = folder.path + "/r/instance.sock";
    for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (first < 0 || !std::filesystem::exists(socket)) {
        state.SkipWithError("the first copy did not start");
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        const pid_t pid = spawn({HAVENWAY_BINARY});
        int status = 0;
        ::waitpid(pid, &status, 0);
        const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("the second start failed");
        state.SetIterationTime(elapsed / 1000.0);
        ms.push_back(elapsed);
    }
    ::kill(first, SIGTERM);
    int status = 0;
    ::waitpid(first, &status, 0);
    reportMedianAgainstTarget(state, ms, 150);
}
BENCHMARK(BM_ForwardingSecondStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(25);

}  // namespace

int main(int argc, char** argv) { return hw::bench::runQtBenchmarks(argc, argv); }
