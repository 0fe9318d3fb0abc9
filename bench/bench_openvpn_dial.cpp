// Time to a connected tunnel against the same local openvpn server, in one
// run, alternating:
//   raw      openvpn started by hand -> "Initialization Sequence Completed"
//   managed  the same with the road's management options, the credentials
//            given over that interface (what openvpn itself adds to the road)
//   road     the helper's "createOpenVPNConnection" -> the dial -> connected
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
#include "platform/helper_connection.h"
#include "platform/paths.h"
#include "support/quiet_openvpn_context.h"

namespace {

using namespace hw;
using Clock = std::chrono::steady_clock;

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
        later_.emplace(Clock::now() + std::chrono::microseconds(static_cast<long long>(ms * 1000)), std::move(task));
        wake_.notify_all();
    }
    std::unique_ptr<Timer> startTimer(double, bool, Task) override { return nullptr; }
    bool isMainThread() const override { return std::this_thread::get_id() == owner_; }
    bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds within) {
        auto deadline = Clock::now() + within;
        while (!done()) {
            std::unique_lock lock(mutex_);
            for (;;) {
                while (!later_.empty() && later_.begin()->first <= Clock::now()) {
                    tasks_.push_back(std::move(later_.begin()->second));
                    later_.erase(later_.begin());
                }
                if (!tasks_.empty()) break;
                if (Clock::now() >= deadline) return false;
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
    std::multimap<Clock::time_point, Task> later_;
    std::thread::id owner_ = std::this_thread::get_id();
};

// The testbed's account; nothing reconnects while the bench measures.
struct Context final : test::QuietOpenVPNContext {
    Context() { login = OpenVPNLoginData{testbed::OpenVPNTestbed::kUser, testbed::OpenVPNTestbed::kPassword}; }
};

std::string exeDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

std::string sourceDir() {
    if (const char* s = std::getenv("HW_SOURCE_DIR")) return s;
    return std::filesystem::weakly_canonical(exeDir() + "/../../..").string();
}

// The testbed, our helper and a provider, made once for the whole run.
struct Rig {
    testbed::OpenVPNTestbed bed{sourceDir()};
    testbed::ChildProcess helper;
    PumpQueue queue;
    std::unique_ptr<HelperConnection> connection;
    Context context;
    std::unique_ptr<OpenVPN_VPNConnectionProvider> provider;
    std::int32_t last = -1;
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
        std::ofstream(d + "/helper.conf") << "uid=0\n";
        std::ofstream(d + "/resolv.conf") << "nameserver 192.0.2.53\n";
        const std::string socket = d + "/helper.sock";
        // On tmpfs, as /run is where the helper is installed.
        runDir = "/dev/shm/bench-openvpn-run-" + std::to_string(::getpid());
        helper = testbed::ChildProcess(
            {exeDir() + "/../helper/havenway-helper"}, d + "/helper.log",
            {"HAVENWAY_HELPER_SOCKET=" + socket, "HAVENWAY_HELPER_CONF=" + d + "/helper.conf",
             "HAVENWAY_HELPER_STATE_DIR=" + d + "/state", "HAVENWAY_HELPER_RUN_DIR=" + runDir,
             "HAVENWAY_RESOLV_CONF=" + d + "/resolv.conf"});
        testbed::waitFor([&] { return ::access(socket.c_str(), F_OK) == 0; }, std::chrono::seconds(5));
        connection = std::make_unique<HelperConnection>(queue);
        if (!connection->connect(socket, &error)) return;
        provider = std::make_unique<OpenVPN_VPNConnectionProvider>(queue, context);
        provider->retrieveConnectionAndSubscribeToStatusUpdates(
            "", [this](std::int32_t s, const std::optional<std::string>&, VPNTypes) { last = s; }, false);
        paths::writeFileAtomically(OpenVPNConstants::configFilePath(), bed.clientConfig(), 0600);
    }

    bool create() {
        std::optional<std::string> reply;
        HelperDictionary p;
        for (const auto& [k, v] : OpenVPNConstants::connectionParameters()) p[k] = v;
        connection->send({{"type", "helper_tool_rpc"}, {"rpc", "createOpenVPNConnection"}, {"parameters", p}},
                         [&](HelperReply r) {
                             const std::string* s = helperString(r.message, "reply");
                             reply = s ? *s : "NO";
                             // The app's road: the helper hands over openvpn's interface.
                             if (HelperChannel m = helperChannel(r.message, "management"))
                                 provider->connectorHelper()->setManagementSocket(UniqueFd(m->release()));
                         });
        return queue.pumpUntil([&] { return reply.has_value(); }, std::chrono::seconds(20)) && reply == "YES";
    }
    bool dialToConnected() {
        last = -1;
        provider->startDial({});
        return queue.pumpUntil([&] { return last == 2 || last == 0; }, std::chrono::seconds(20)) && last == 2;
    }
    ~Rig() {
        if (!runDir.empty()) std::filesystem::remove_all(runDir);
    }
    void hangUp() {
        provider->disconnect({});
        queue.pumpUntil([&] { return last == 0; }, std::chrono::seconds(10));
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

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
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
        auto start = Clock::now();
        if (!r.create()) return "createOpenVPNConnection failed";
        create.push_back(millisSince(start));
        if (!r.dialToConnected()) return "no connection";
        road.push_back(millisSince(start));
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
    printSpread("our road: create to connected, ms", road);
    // Where the road's time goes: the helper's part (config check, spawn,
    // openvpn's start until its management interface accepts, hand-over),
    // then the dial (management, TLS, auth) up to connected.
    printSpread("  of which the helper's create, ms", create);
    printPairRatio("ratio road / raw", raw, road);
    printPairRatio("ratio road / managed", managed, road);
    std::printf("%d runs each, the raw sides first in even runs\n", runs);
    return 0;
}
