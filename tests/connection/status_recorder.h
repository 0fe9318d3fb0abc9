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

// Collects status reports from the connector's own thread; waits are bounded.
class StatusRecorder {
public:
    struct Report {
        std::int32_t status;
        std::optional<std::string> message;
        std::int64_t type;
        std::thread::id thread;
        bool operator==(const Report& o) const {
            return status == o.status && message == o.message && type == o.type;
        }
    };
    VPNStatusCallback callback() {
        return [this](std::int32_t s, const std::optional<std::string>& m, VPNTypes t) { add(s, m, t); };
    }
    auto connectorCallback() {
        return [this](std::int32_t s, const std::optional<std::string>& m, std::int64_t t) { add(s, m, t); };
    }
    void add(std::int32_t s, const std::optional<std::string>& m, std::int64_t t) {
        std::lock_guard lock(mutex_);
        reports_.push_back({s, m, t, std::this_thread::get_id()});
        changed_.notify_all();
    }
    // The reports once there are at least n, or whatever came within 5 s.
    std::vector<Report> waitFor(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return reports_.size() >= n; });
        return reports_;
    }
    // True once a report of this status (and message, when given) came,
    // within 10 s.
    bool waitForStatus(std::int32_t status, std::optional<std::string> message = std::nullopt) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::any_of(reports_.begin(), reports_.end(), [&](const Report& r) {
                return r.status == status && (!message || r.message == message);
            });
        });
    }
    std::vector<Report> reports() {
        std::lock_guard lock(mutex_);
        return reports_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Report> reports_;
};

}  // namespace hw::test
