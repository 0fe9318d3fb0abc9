#pragma once
#include <functional>
#include <thread>

namespace hw::helper {

// Watches the kernel's links and routes (rtnetlink) on a thread of its own
// and calls changed once per burst of changes, after the burst has settled,
// on that thread. A link that comes back brings a burst: its addresses, its
// routes, a DHCP client's default route.
class RouteKeeper {
public:
    RouteKeeper();
    ~RouteKeeper();
    RouteKeeper(const RouteKeeper&) = delete;
    RouteKeeper& operator=(const RouteKeeper&) = delete;

    // False when the kernel's groups cannot be joined.
    bool start(std::function<void()> changed, int settleMs = 300);
    void stop();
    // Asks for a call as if the routes had changed; any thread, also
    // before start and after stop (then nothing comes of it).
    void nudge();
    // The same, called without waiting for a burst to settle: a tunnel's
    // device is up and its traffic waits for the lock.
    void nudgeNow();

private:
    std::thread reader_;
    int socket_ = -1;
    int wake_ = -1;
    int nudge_ = -1;  // lives as long as this object: other threads write to it
    int prompt_ = -1;  // the same, for nudgeNow
};

}  // namespace hw::helper
