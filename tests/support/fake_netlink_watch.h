#pragma once
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/main_queue.h"
#include "platform/route_watch.h"

namespace hw::test {

// Plays kernel events: the test changes which addresses are routable and
// calls changed(), which reaches the listener through the main queue as
// the real watch does.
class FakeRouteWatch final : public RouteWatch {
public:
    explicit FakeRouteWatch(MainQueue& queue) : queue_(queue) {}

    void start(std::function<void()> changed) override {
        std::lock_guard lock(mutex_);
        listener_ = std::move(changed);
        ++starts;
        ++epoch_;
    }
    void stop() override {
        std::lock_guard lock(mutex_);
        listener_ = nullptr;
        ++stops;
        ++epoch_;
    }
    bool hasRoute(const std::vector<std::string>& addresses) override {
        std::lock_guard lock(mutex_);
        asked.push_back(addresses);
        for (const auto& a : addresses) {
            if (routable_.count(a)) return true;
        }
        return false;
    }

    std::optional<std::string> wayOut() override {
        std::lock_guard lock(mutex_);
        return wayOut_;
    }
    void setWayOut(std::optional<std::string> link) {
        std::lock_guard lock(mutex_);
        wayOut_ = std::move(link);
    }

    void setRoutable(const std::string& address, bool routable) {
        std::lock_guard lock(mutex_);
        if (routable) routable_.insert(address); else routable_.erase(address);
    }
    // One burst of kernel events.
    void changed() {
        std::function<void()> l;
        unsigned long e;
        {
            std::lock_guard lock(mutex_);
            l = listener_;
            e = epoch_;
        }
        if (!l) return;
        queue_.post([this, l, e] {
            {
                std::lock_guard lock(mutex_);
                if (e != epoch_) return;  // nothing runs after stop
            }
            l();
        });
    }
    bool watching() const {
        std::lock_guard lock(mutex_);
        return static_cast<bool>(listener_);
    }

    int starts = 0;
    int stops = 0;
    std::vector<std::vector<std::string>> asked;

private:
    MainQueue& queue_;
    mutable std::mutex mutex_;
    std::function<void()> listener_;
    unsigned long epoch_ = 0;
    std::set<std::string> routable_;
    std::optional<std::string> wayOut_;
};

// Answers from a table; unknown names do not resolve.
class FakeNameResolver final : public NameResolver {
public:
    std::vector<std::string> resolve(const std::string& host) override {
        std::lock_guard lock(mutex_);
        lookups.push_back(host);
        auto it = table_.find(host);
        return it == table_.end() ? std::vector<std::string>{} : it->second;
    }
    void set(const std::string& host, std::vector<std::string> addresses) {
        std::lock_guard lock(mutex_);
        if (addresses.empty()) table_.erase(host); else table_[host] = std::move(addresses);
    }
    std::vector<std::string> lookups;

private:
    std::mutex mutex_;
    std::map<std::string, std::vector<std::string>> table_;
};

}  // namespace hw::test
