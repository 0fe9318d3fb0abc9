#pragma once
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace hw::helper {

// The lookups of a VPN server's name the app asks for under the lock, where
// its own cannot get out: each on a thread of its own, so that the helper's
// commands never wait for a resolver; one at a time; each done within a
// few seconds; and only a few a minute, as many as tries of a connection need.
class ServerLookups {
public:
    using Clock = std::chrono::steady_clock;
    // The lookup itself; the default asks the resolvers over the lock's mark.
    using Lookup = std::function<std::optional<std::string>(const std::string& host,
                                                            const std::vector<std::string>& resolvers,
                                                            std::chrono::milliseconds perResolver)>;
    using Done = std::function<void(std::optional<std::string> address)>;

    static constexpr std::chrono::milliseconds kWhole{4000};
    static constexpr std::size_t kPerMinute = 20;

    explicit ServerLookups(Lookup lookup = {}, std::function<Clock::time_point()> now = Clock::now);
    // Waits for the lookup under way, which ends within kWhole.
    ~ServerLookups();
    ServerLookups(const ServerLookups&) = delete;
    ServerLookups& operator=(const ServerLookups&) = delete;

    // Why no lookup may start now (one is under way, or the minute's share
    // is spent); empty when one may.
    std::string refusal();
    // Starts a lookup, when refusal() said it may, whose end `done` hears
    // on the lookup's thread.
    void start(std::string host, std::vector<std::string> resolvers, Done done);

private:
    Lookup lookup_;
    std::function<Clock::time_point()> now_;
    std::deque<Clock::time_point> recent_;  // starts within the last minute
    std::atomic<bool> busy_{false};
    std::thread worker_;
};

}  // namespace hw::helper
