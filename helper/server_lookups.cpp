#include "helper/server_lookups.h"

#include <algorithm>

#include "helper/host_lookup.h"

namespace hw::helper {

ServerLookups::ServerLookups(Lookup lookup, std::function<Clock::time_point()> now)
    : lookup_(lookup ? std::move(lookup) : Lookup(lookUpHost)), now_(std::move(now)) {}

ServerLookups::~ServerLookups() {
    if (worker_.joinable()) worker_.join();
}

std::string ServerLookups::refusal() {
    if (busy_.load()) return "another lookup is under way";
    const auto now = now_();
    while (!recent_.empty() && now - recent_.front() >= std::chrono::minutes(1)) recent_.pop_front();
    if (recent_.size() >= kPerMinute) return "too many lookups this minute";
    return {};
}

void ServerLookups::start(std::string host, std::vector<std::string> resolvers, Done done) {
    recent_.push_back(now_());
    // The last one has ended (not busy): its thread only needs collecting.
    if (worker_.joinable()) worker_.join();
    busy_.store(true);
    // The whole lookup within kWhole, however many resolvers.
    const auto share = std::min<std::chrono::milliseconds>(
        std::chrono::milliseconds(2000), kWhole / static_cast<long>(std::max<std::size_t>(resolvers.size(), 1)));
    worker_ = std::thread([this, host = std::move(host), resolvers = std::move(resolvers), done = std::move(done), share] {
        auto address = lookup_(host, resolvers, share);
        busy_.store(false);
        done(std::move(address));
    });
}

}  // namespace hw::helper
