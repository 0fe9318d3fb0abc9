#pragma once
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "connection/abstract_vpn_connection_provider.h"

namespace hw::test {

// Collects status reports from the connector's own thread as
// "status[:cause]/type"; waits are bounded.
class StatusRecorder {
public:
    VPNStatusCallback callback() {
        return [this](std::int32_t s, const std::optional<std::string>& m, VPNTypes t) { add(s, m, t); };
    }
    auto connectorCallback() {
        return [this](std::int32_t s, const std::optional<std::string>& m, std::int64_t t) { add(s, m, t); };
    }
    // The reports once there are at least n, or whatever came within 10 s.
    std::vector<std::string> waitFor(std::size_t n) {
        return waitUntil([&] { return reports_.size() >= n; });
    }
    // True once a report starting with this text came within 10 s.
    bool waitForReport(const std::string& prefix) {
        auto all = waitUntil([&] {
            return std::any_of(reports_.begin(), reports_.end(), [&](const auto& r) { return r.rfind(prefix, 0) == 0; });
        });
        return std::any_of(all.begin(), all.end(), [&](const auto& r) { return r.rfind(prefix, 0) == 0; });
    }
    std::vector<std::string> reports() { return waitFor(0); }
    std::thread::id firstThread;

private:
    void add(std::int32_t s, const std::optional<std::string>& m, std::int64_t t) {
        std::lock_guard lock(mutex_);
        if (reports_.empty()) firstThread = std::this_thread::get_id();
        reports_.push_back(std::to_string(s) + (m ? ":" + *m : "") + "/" + std::to_string(t));
        changed_.notify_all();
    }
    template <typename Pred>
    std::vector<std::string> waitUntil(Pred pred) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), pred);
        return reports_;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> reports_;
};

}  // namespace hw::test
