// Time to a connected tunnel against the same local openvpn server, in one
// run, alternating:
//   raw      openvpn started by hand -> "Initialization Sequence Completed"
//   managed  the same with the road's management options, the credentials
//            given over that interface (what openvpn itself adds to the road)
//   road     the connection manager's connect, as the application calls it:
//            the helper check, the configuration file, the helper's
//            "createOpenVPNConnection", the dial -> established
// Each run starts only once the previous openvpn has exited; the raw sides
// and the road take turns going first. Prints min, median and max of each,
// and of each pair's ratio. Needs root; run from build/release/bench
// (HW_SOURCE_DIR may point at the tree).
#include <algorithm>
#include <cstdio>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

#include "../testbed/openvpn/openvpn_testbed.h"
#include "bench_sides.h"
#include "raw_openvpn.h"
#include "connection/openvpn_constants.h"
#include "connection/openvpn_vpn_connection_provider.h"
#include "connection/vpn_connection_manager.h"
#include "connection/vpn_connection_manager_helper_adapter.h"
#include "connection/vpn_connection_manager_provider_adapters.h"
#include "platform/helper_connection.h"
#include "platform/posix_process_runner.h"
#include "platform/system_clock.h"
#include "platform/thread_pool.h"
#include "support/fake_helper_install.h"
#include "support/quiet_openvpn_context.h"

namespace {

using namespace hw;
using Steady = std::chrono::steady_clock;

// A main queue that the benchmark thread drains; delayed tasks run when due
// (the provider bounds each try with one a minute away).
class PumpQueue final : public MainQueue {
public:
    void post(Task task) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        wake_.notify_all();
    }
    void postAfter(double ms, Task task) override {
        std::lock_guard lock(mutex_);
        later_.emplace(Steady::now() + std::chrono::microseconds(static_cast<long long>(ms * 1000)), std::move(task));
        wake_.notify_all();
    }
    std::unique_ptr<Timer> startTimer(double, bool, Task) override { return nullptr; }
    bool isMainThread() const override { return std::this_thread::get_id() == owner_; }
    bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds within) {
        auto deadline = Steady::now() + within;
        while (!done()) {
            std::unique_lock lock(mutex_);
            for (;;) {
                while (!later_.empty() && later_.begin()->first <= Steady::now()) {
                    tasks_.push_back(std::move(later_.begin()->second));
                    later_.erase(later_.begin());
                }
                if (!tasks_.empty()) break;
                if (Steady::now() >= deadline) return false;
                const auto until = later_.empty() ? deadline : std::min(deadline, later_.begin()->first);
                wake_.wait_until(lock, until);
            }
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::multimap<Steady::time_point, Task> later_;
    std::thread::id owner_ = std::this_thread::get_id();
};

// The testbed's account; nothing reconnects while the bench measures.
struct Context final : test::QuietOpenVPNContext {
    Context() { login = OpenVPNLoginData{testbed::OpenVPNTestbed::kUser, testbed::OpenVPNTestbed::kPassword}; }
};

// The application's state as the manager reads it: OpenVPN chosen, the
// helper installed at its own version, no lock, nothing that reconnects.
struct ManagerState final : ConnectionManagerContext {
    VPNTypes vpnProtocol() const override { return VPNTypesOpenVPN; }
    void addVPNProtocolUpdatedObserver(std::function<void()>) override {}
    std::string vpnServersDomainSuffix() const override { return "vpn.example.net"; }
    std::string helperToolCurrentVersion() const override { return version; }
    void setHelperToolCurrentVersion(const std::string& v) override { version = v; }
    bool perfromHelperToolStoredVersionCheck() const override { return true; }
    bool useNetworkLock() const override { return false; }
    bool networkLockActivated() const override { return false; }
    void setNetworkLockActivated(bool) override {}
    std::string previousDefaultGatewayValue() const override { return gateway; }
    void setPreviousDefaultGatewayValue(const std::string& g) override { gateway = g; }
    bool openVPN_Reconnect_in_progress() const override { return false; }
    bool autoReconnectInProgress() const override { return false; }
    int autoReconnectAttemptsCount() const override { return 0; }
    void setAutoReconnectAttemptsCount(int) override {}
    void setDeviceEnteredSleepMode(bool) override {}
    void showHelperInstallAlert(const std::string&, const std::string&, std::function<void(int)>) override {}
    std::string version, gateway;
};

struct NoReports final : ErrorLogReportUploader {
    void upload(const std::string&, const std::string&) override {}
};

std::string exeDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

std::string sourceDir() {
    if (const char* s = std::getenv("HW_SOURCE_DIR")) return s;
    return std::filesystem::weakly_canonical(exeDir() + "/../../..").string();
}

// The testbed, our helper and the connection manager wired as the
// application wires them, made once for the whole run.
struct Rig {
    testbed::OpenVPNTestbed bed{sourceDir()};
    testbed::ChildProcess helper;
    PumpQueue queue;
    ThreadPool background{1};
    SystemClock clock;
    PosixProcessRunner runner;
    test::FakeHelperJobTable jobs;
    test::FakeHelperInstaller installer{queue};
    Context context;
    ManagerState state;
    NoReports reports;
    std::unique_ptr<HelperTool_XPC_Connector> connector;
    std::unique_ptr<HelperToolManager> helperClient;
    std::unique_ptr<VPNConnectionManagerHelperAdapter> helperAdapter;
    std::shared_ptr<OpenVPN_VPNConnectionProvider> provider;
    std::unique_ptr<VPNConnectionManager> manager;
    std::string last;
    Steady::time_point handedOver;
    std::string error;
    std::string runDir;

    Rig() {
        if (!bed.ok()) {
            error = bed.error();
            return;
        }
        bed.enterClientNamespace();
        const std::string d = bed.dir();
        ::setenv("HAVENWAY_DATA_DIR", (d + "/appdata").c_str(), 1);
        std::filesystem::create_directories(d + "/appdata");
        std::ofstream(d + "/helper.conf") << "uid=0\n";
        std::ofstream(d + "/resolv.conf") << "nameserver 192.0.2.53\n";
        const std::string socket = d + "/helper.sock";
        const std::string binary = exeDir() + "/../helper/havenway-helper";
        // On tmpfs, as /run is where the helper is installed.
        runDir = "/dev/shm/bench-openvpn-run-" + std::to_string(::getpid());
        helper = testbed::ChildProcess(
            {binary}, d + "/helper.log",
            {"HAVENWAY_HELPER_SOCKET=" + socket, "HAVENWAY_HELPER_CONF=" + d + "/helper.conf",
             "HAVENWAY_HELPER_STATE_DIR=" + d + "/state", "HAVENWAY_HELPER_RUN_DIR=" + runDir,
             "HAVENWAY_RESOLV_CONF=" + d + "/resolv.conf", "HAVENWAY_RESOLVED_DIR=" + d + "/no-resolved"});
        testbed::waitFor([&] { return ::access(socket.c_str(), F_OK) == 0; }, std::chrono::seconds(5));

        const std::string bundled = testbed::helperVersion(binary, d);
        state.version = bundled;
        jobs.jobs[HelperTool_XPC_Connector::kServiceName] = binary;
        connector = std::make_unique<HelperTool_XPC_Connector>(queue, [this, socket](std::string* why) {
            auto c = std::make_shared<HelperConnection>(queue);
            return c->connect(socket, why) ? c : nullptr;
        });
        helperClient = std::make_unique<HelperToolManager>(queue, *connector, jobs, installer, runner, bundled);
        helperAdapter = std::make_unique<VPNConnectionManagerHelperAdapter>(*helperClient, jobs, queue);
        provider = std::make_shared<OpenVPN_VPNConnectionProvider>(queue, context);
        helperClient->setOpenVPNManagementReceiver([this](UniqueFd management) {
            handedOver = Steady::now();
            provider->connectorHelper()->setManagementSocket(std::move(management));
        });
        VPNConnectionManagerEnvironment env{queue, background, clock, *helperAdapter, state, reports, runner, nullptr,
                                            "Havenway", d + "/error.log", OpenVPNConstants::configFilePath(), "", [] {
                                                HelperParameterList p;
                                                for (const auto& [k, v] : OpenVPNConstants::connectionParameters())
                                                    p.emplace_back(k, v);
                                                return p;
                                            },
                                            {}};
        manager = std::make_unique<VPNConnectionManager>(
            env, VPNConnectionManagerProviders{nullptr, nullptr, std::make_shared<ProviderAdapter>(provider), nullptr});
        manager->onConnectionEstablishedNotification = [this] { last = "established"; };
        manager->onConnectionErrorNotification = [this](const std::string& t) { last = "error: " + t; };
        manager->onConnectionRefusedNotification = [this](const std::string& t) { last = "refused: " + t; };
        manager->onDisconnectedStateNotification = [this](bool, bool) { last = "disconnected"; };
        manager->prepareConnectionManager();
        queue.pumpUntil([] { return false; }, std::chrono::seconds(0));
    }

    ManagerServerConfig server() const {
        ManagerServerConfig c;
        c.connectionName = "Havenway";
        c.dnsPrefix = "de1";
        c.domainSuffix = "example.net";
        c.vpnServerIPAddress = testbed::OpenVPNTestbed::kServerAddress;
        c.username = testbed::OpenVPNTestbed::kUser;
        c.password = testbed::OpenVPNTestbed::kPassword;
        c.ovpnConfig = bed.clientConfig();
        return c;
    }
    bool connectToEstablished() {
        last.clear();
        manager->beginUserConnect();
        manager->connect(server());
        return queue.pumpUntil([&] { return !last.empty(); }, std::chrono::seconds(20)) && last == "established";
    }
    ~Rig() {
        manager.reset();
        if (!runDir.empty()) std::filesystem::remove_all(runDir);
    }
    void hangUp() {
        last.clear();
        manager->disconnect();
        queue.pumpUntil([&] { return last == "disconnected"; }, std::chrono::seconds(10));
    }
};

Rig& rig() {
    static Rig r;
    return r;
}

// Whether any process the helper started (openvpn) still runs.
bool helperHasChildren(pid_t helper) {
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(helper) + "/task", ec)) {
        std::ifstream children(task.path() / "children");
        std::string first;
        if (children >> first) return true;
    }
    return false;
}

double millisSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    if (auto missing = testbed::OpenVPNTestbed::unavailable(); !missing.empty()) {
        std::printf("bench_openvpn_dial: %s; skipped\n", missing.c_str());
        return 0;
    }
    Rig& r = rig();
    if (!r.error.empty()) {
        std::printf("bench_openvpn_dial: %s\n", r.error.c_str());
        return 1;
    }
    const std::string d = r.bed.dir();
    std::ofstream(d + "/raw-credentials") << testbed::OpenVPNTestbed::kUser << "\n"
                                          << testbed::OpenVPNTestbed::kPassword << "\n";
    ::chmod((d + "/raw-credentials").c_str(), 0600);
    std::string config = r.bed.clientConfig();
    config.replace(config.find("auth-user-pass\n"), 15, "auth-user-pass " + d + "/raw-credentials\n");
    std::ofstream(d + "/raw.ovpn") << config;
    std::ofstream(d + "/managed.ovpn") << r.bed.clientConfig();

    std::vector<double> raw, managed, road, create;
    // Each side: empty, or why the bench stops.
    const std::function<const char*()> rawSides = [&]() -> const char* {
        const double t = bench::rawOpenVPN(d + "/raw.ovpn");
        if (t < 0) return "raw openvpn did not connect";
        raw.push_back(t);
        bench::ManagementClient client{testbed::OpenVPNTestbed::kUser, testbed::OpenVPNTestbed::kPassword};
        const double m = bench::rawOpenVPN(d + "/managed.ovpn", d + "/management.sock", &client);
        if (m < 0) return "openvpn with its management interface did not connect";
        managed.push_back(m);
        return "";
    };
    const std::function<const char*()> roadSide = [&]() -> const char* {
        auto start = Steady::now();
        if (!r.connectToEstablished()) {
            std::printf("bench_openvpn_dial: %s\n", r.last.empty() ? "no answer" : r.last.c_str());
            return "no connection";
        }
        road.push_back(millisSince(start));
        create.push_back(std::chrono::duration<double, std::milli>(r.handedOver - start).count());
        r.hangUp();
        if (!testbed::waitFor([&] { return !helperHasChildren(r.helper.pid()); }, std::chrono::seconds(10)))
            return "the helper's openvpn did not exit";
        return "";
    };
    for (int i = 0; i < runs; ++i) {
        const bool rawFirst = firstSideFirst(i);
        for (const auto& side : {rawFirst ? rawSides : roadSide, rawFirst ? roadSide : rawSides}) {
            if (const std::string why = side(); !why.empty()) return std::printf("bench_openvpn_dial: %s\n", why.c_str()), 1;
        }
    }
    printSpreadHeader();
    printSpread("raw openvpn to initialized, ms", raw);
    printSpread("  the same with the management interface, ms", managed);
    printSpread("our road: connect to established, ms", road);
    // Where the road's time goes: up to the helper's hand-over (helper check,
    // configuration file, config check, spawn, openvpn's start until its
    // management interface accepts), then the dial (management, TLS, auth).
    printSpread("  of which up to the helper's hand-over, ms", create);
    printPairRatio("ratio road / raw", raw, road);
    printPairRatio("ratio road / managed", managed, road);
    std::printf("%d runs each, the raw sides first in even runs\n", runs);
    return 0;
}
