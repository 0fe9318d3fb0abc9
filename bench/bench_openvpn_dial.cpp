// Time to a connected tunnel against the same local openvpn server:
//   DialThroughOurStack   startDial -> the provider reports connected
//   CreateAndDial         the helper's "createOpenVPNConnection" -> connected
//   RawOpenVPNClient      openvpn started by hand -> "Initialization Sequence Completed"
// Needs root; run from build/release/bench (HW_SOURCE_DIR may point at the tree).
#include <benchmark/benchmark.h>
#include <poll.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>

#include "../testbed/openvpn/openvpn_testbed.h"
#include "connection/openvpn_constants.h"
#include "connection/openvpn_vpn_connection_provider.h"
#include "platform/helper_connection.h"
#include "platform/paths.h"
#include "support/quiet_openvpn_context.h"

namespace {

using namespace hw;
using Clock = std::chrono::steady_clock;

// A main queue that the benchmark thread drains.
class PumpQueue final : public MainQueue {
public:
    void post(Task task) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        wake_.notify_all();
    }
    void postAfter(double, Task task) override { post(std::move(task)); }
    std::unique_ptr<Timer> startTimer(double, bool, Task) override { return nullptr; }
    bool isMainThread() const override { return std::this_thread::get_id() == owner_; }
    bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds within) {
        auto deadline = Clock::now() + within;
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return false;
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
        helper = testbed::ChildProcess(
            {exeDir() + "/../helper/havenway-helper"}, d + "/helper.log",
            {"HAVENWAY_HELPER_SOCKET=" + socket, "HAVENWAY_HELPER_CONF=" + d + "/helper.conf",
             "HAVENWAY_HELPER_STATE_DIR=" + d + "/state", "HAVENWAY_HELPER_RUN_DIR=" + d + "/run",
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
    void hangUp() {
        provider->disconnect({});
        queue.pumpUntil([&] { return last == 0; }, std::chrono::seconds(10));
    }
};

Rig& rig() {
    static Rig r;
    return r;
}

bool ready(benchmark::State& state) {
    if (auto missing = testbed::OpenVPNTestbed::unavailable(); !missing.empty()) {
        state.SkipWithError(missing.c_str());
        return false;
    }
    if (!rig().error.empty()) {
        state.SkipWithError(rig().error.c_str());
        return false;
    }
    return true;
}

void DialThroughOurStack(benchmark::State& state) {
    if (!ready(state)) return;
    Rig& r = rig();
    for (auto _ : state) {
        if (!r.create()) return state.SkipWithError("createOpenVPNConnection failed");
        auto start = Clock::now();
        if (!r.dialToConnected()) return state.SkipWithError("no connection");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        r.hangUp();
    }
}

void CreateAndDial(benchmark::State& state) {
    if (!ready(state)) return;
    Rig& r = rig();
    for (auto _ : state) {
        auto start = Clock::now();
        if (!r.create() || !r.dialToConnected()) return state.SkipWithError("no connection");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        r.hangUp();
    }
}

void RawOpenVPNClient(benchmark::State& state) {
    if (!ready(state)) return;
    Rig& r = rig();
    const std::string d = r.bed.dir();
    std::ofstream(d + "/raw-credentials") << testbed::OpenVPNTestbed::kUser << "\n"
                                          << testbed::OpenVPNTestbed::kPassword << "\n";
    ::chmod((d + "/raw-credentials").c_str(), 0600);
    std::string config = r.bed.clientConfig();
    config.replace(config.find("auth-user-pass\n"), 15, "auth-user-pass " + d + "/raw-credentials\n");
    std::ofstream(d + "/raw.ovpn") << config;
    for (auto _ : state) {
        // openvpn's output straight from a pipe, so the moment it connects is
        // seen at once.
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return state.SkipWithError("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        std::vector<std::string> args{"/usr/sbin/openvpn", "--config", d + "/raw.ovpn", "--verb", "3"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        auto start = Clock::now();
        pid_t pid = -1;
        int rc = ::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        std::string seen;
        bool up = false;
        char buf[4096];
        while (rc == 0 && !up) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 20000) != 1) break;
            ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            seen.append(buf, static_cast<std::size_t>(n));
            up = seen.find("Initialization Sequence Completed") != std::string::npos;
        }
        auto elapsed = Clock::now() - start;
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(out[0]);
        if (!up) return state.SkipWithError("raw openvpn did not connect");
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
}

BENCHMARK(RawOpenVPNClient)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(DialThroughOurStack)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(CreateAndDial)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
