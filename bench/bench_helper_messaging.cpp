// Round trips through the helper messaging layer over a real socket file,
// with a trivial handler: the median round trip, and a burst of 10,000
// requests in a row that must all be answered.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include <benchmark/benchmark.h>

#include "platform/helper_connection.h"
#include "platform/helper_server.h"

namespace {

// A main queue the benchmark thread drains itself.
class BlockingQueue final : public hw::MainQueue {
public:
    void post(hw::Task task) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        cv_.notify_one();
    }
    void postAfter(double, hw::Task task) override { post(std::move(task)); }
    std::unique_ptr<hw::Timer> startTimer(double, bool, hw::Task) override { return nullptr; }
    bool isMainThread() const override { return std::this_thread::get_id() == owner_; }
    // Runs tasks until done() holds; false after a 10 s stall.
    bool runUntil(const std::function<bool()>& done) {
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (!cv_.wait_for(lock, std::chrono::seconds(10), [&] { return !tasks_.empty(); })) return false;
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<hw::Task> tasks_;
    std::thread::id owner_ = std::this_thread::get_id();
};

struct Setup {
    std::string dir = std::filesystem::temp_directory_path() / ("hw-bench-" + std::to_string(::getpid()));
    std::string path = dir + "/helper.sock";
    hw::HelperServer server{{path, {::getuid()}, true, 0600, std::nullopt, std::nullopt}, [](hw::HelperRequest r) {
                                r.reply({{"reply", "YES"}});
                            }};
    std::thread thread;
    BlockingQueue queue;
    hw::HelperConnection client{queue};
    bool ready = false;

    Setup() {
        std::filesystem::create_directories(dir);
        if (!server.listen(nullptr)) return;
        thread = std::thread([this] { server.run(); });
        ready = client.connect(path, nullptr);
    }
    ~Setup() {
        client.cancel();
        server.stop();
        if (thread.joinable()) thread.join();
        std::filesystem::remove_all(dir);
    }
};

hw::HelperMessage request() {
    return {{"type", "helper_tool_rpc"}, {"rpc", "retrieveDefaultGateway"}};
}

void BM_RoundTrip(benchmark::State& state) {
    Setup s;
    if (!s.ready) return state.SkipWithError("cannot set up the socket");
    std::vector<double> micros;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        bool answered = false;
        s.client.send(request(), [&](hw::HelperReply r) { answered = r.ok(); });
        if (!s.queue.runUntil([&] { return answered; })) return state.SkipWithError("no reply");
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros.empty() ? 0 : micros[micros.size() / 2];
    state.counters["p99_us"] = micros.empty() ? 0 : micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_RoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_TenThousandInARow(benchmark::State& state) {
    Setup s;
    if (!s.ready) return state.SkipWithError("cannot set up the socket");
    constexpr int kRequests = 10'000;
    for (auto _ : state) {
        int answered = 0, failed = 0;
        for (int i = 0; i < kRequests; ++i)
            s.client.send(request(), [&](hw::HelperReply r) { ++(r.ok() ? answered : failed); });
        if (!s.queue.runUntil([&] { return answered + failed == kRequests; }))
            return state.SkipWithError("replies lost");
        if (failed) return state.SkipWithError("requests failed");
        state.counters["replies"] = answered;
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
}
BENCHMARK(BM_TenThousandInARow)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
