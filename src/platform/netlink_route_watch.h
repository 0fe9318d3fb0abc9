#pragma once
#include <memory>
#include <mutex>
#include <thread>

#include "platform/main_queue.h"
#include "platform/route_watch.h"

namespace hw {

// The route watch on rtnetlink: a thread reads the link, address and route
// multicast groups and hands one "changed" per burst to the main queue;
// route questions go to the kernel over a socket of their own.
class NetlinkRouteWatch final : public RouteWatch {
public:
    explicit NetlinkRouteWatch(MainQueue& main);
    ~NetlinkRouteWatch() override;

    void start(std::function<void()> changed) override;
    void stop() override;
    bool hasRoute(const std::vector<std::string>& numericAddresses) override;
    std::optional<std::string> wayOut() override;

private:
    struct Shared;
    void stopLocked();

    MainQueue& main_;
    std::mutex mutex_;
    std::shared_ptr<Shared> shared_;
    std::thread reader_;
    int socket_ = -1;
    int wake_ = -1;
};

}  // namespace hw
