#include "platform/netlink_route_watch.h"

#include <linux/netlink.h>
#include <net/if.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "platform/log.h"
#include "platform/netlink_message.h"

namespace hw {

struct NetlinkRouteWatch::Shared {
    std::function<void()> changed;
    std::atomic<bool> live{true};
};

namespace {

int openSocket(unsigned groups) {
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return -1;
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A question and its one answer; a second at most, the kernel answers at once.
class Asker {
public:
    Asker() : fd_(openSocket(0)) {
        if (fd_ < 0) return;
        timeval tv{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Asker() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    template <typename Parse>
    auto ask(const std::vector<std::uint8_t>& request, std::uint32_t seq, Parse parse) -> decltype(parse(nullptr, 0, 0)) {
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) return {};
        alignas(nlmsghdr) std::uint8_t buf[16384];
        for (int i = 0; i < 8; ++i) {  // skip stale answers of earlier questions
            auto n = ::recv(fd_, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return {};
            if (auto answer = parse(buf, static_cast<std::size_t>(n), seq)) return answer;
        }
        return {};
    }

    // A dump, read to its end; false when it did not end.
    bool dumpRoutes(unsigned char family, std::uint32_t seq, std::vector<netlink::RouteEntry>& out) {
        const auto request = netlink::routeDump(family, seq);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
            return false;
        alignas(nlmsghdr) std::uint8_t buf[32768];
        for (int i = 0; i < 4096; ++i) {
            auto n = ::recv(fd_, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            int error = 0;
            if (netlink::parseRouteDump(buf, static_cast<std::size_t>(n), seq, out, &error)) return error == 0;
        }
        return false;
    }

private:
    int fd_;
};

std::optional<netlink::LinkAnswer> askLink(Asker& asker, std::uint32_t& seq,
                                           std::map<int, std::optional<netlink::LinkAnswer>>& links, int index) {
    auto it = links.find(index);
    if (it != links.end()) return it->second;
    ++seq;
    auto answer = asker.ask(netlink::linkRequest(index, seq), seq, netlink::parseLinkReply);
    links.emplace(index, answer);
    return answer;
}

// Whether a link that is no tunnel leads out, by the routes of both families.
bool wayOutOutsideTunnels(Asker& asker, std::uint32_t& seq) {
    std::vector<netlink::RouteEntry> routes;
    // An IPv4 dump cut short could miss the way out: it counts as none. A
    // kernel without IPv6 may refuse that dump: only its routes are missing.
    if (!asker.dumpRoutes(AF_INET, ++seq, routes)) return false;
    asker.dumpRoutes(AF_INET6, ++seq, routes);
    std::map<int, std::optional<netlink::LinkAnswer>> links;
    return netlink::wayOutOutsideTunnels(routes, [&](int index) { return askLink(asker, seq, links, index); });
}

}  // namespace

NetlinkRouteWatch::NetlinkRouteWatch(MainQueue& main) : main_(main) {}

NetlinkRouteWatch::~NetlinkRouteWatch() { stop(); }

void NetlinkRouteWatch::start(std::function<void()> changed) {
    std::lock_guard lock(mutex_);
    stopLocked();
    socket_ = openSocket(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (socket_ < 0 || wake_ < 0) {
        log::error("routes", std::string("cannot watch the kernel's routes: ") + std::strerror(errno));
        stopLocked();
        return;
    }
    // A bigger buffer makes overruns rare; one is handled as a change anyway.
    int size = 1 << 20;
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    shared_ = std::make_shared<Shared>();
    shared_->changed = std::move(changed);
    reader_ = std::thread([this, shared = shared_, fd = socket_, wake = wake_] {
        alignas(nlmsghdr) std::uint8_t buf[32768];
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            bool change = false;
            for (;;) {
                auto n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n < 0) {
                    if (errno == ENOBUFS) change = true;  // lost events: look again
                    if (errno == EINTR || errno == ENOBUFS) continue;
                    break;
                }
                if (n == 0) break;
                if (netlink::carriesChange(buf, static_cast<std::size_t>(n))) change = true;
            }
            if (change) {
                main_.post([shared] {
                    if (shared->live.load()) shared->changed();
                });
            }
        }
    });
}

void NetlinkRouteWatch::stop() {
    std::lock_guard lock(mutex_);
    stopLocked();
}

void NetlinkRouteWatch::stopLocked() {
    if (shared_) shared_->live.store(false);
    if (reader_.joinable()) {
        std::uint64_t one = 1;
        [[maybe_unused]] auto w = ::write(wake_, &one, sizeof one);
        reader_.join();
    }
    if (socket_ >= 0) ::close(socket_);
    if (wake_ >= 0) ::close(wake_);
    socket_ = wake_ = -1;
    shared_.reset();
}

bool NetlinkRouteWatch::hasRoute(const std::vector<std::string>& numericAddresses) {
    Asker asker;
    if (!asker.ok()) return false;
    std::uint32_t seq = 1;
    std::optional<bool> wayOut;  // asked once, for the first tunnel met
    for (const auto& address : numericAddresses) {
        auto request = netlink::routeRequest(address, ++seq);
        if (request.empty()) continue;
        auto route = asker.ask(request, seq, netlink::parseRouteReply);
        if (!route || route->error != 0 || route->outputInterface <= 0) continue;
        ++seq;
        auto link = asker.ask(netlink::linkRequest(route->outputInterface, seq), seq, netlink::parseLinkReply);
        if (!link || !netlink::usable(*route, *link)) continue;
        if (!netlink::tunnelLink(*link)) return true;
        if (!wayOut) wayOut = wayOutOutsideTunnels(asker, seq);
        if (*wayOut) return true;
    }
    return false;
}

std::optional<std::string> NetlinkRouteWatch::wayOut() {
    Asker asker;
    if (!asker.ok()) return std::nullopt;
    std::uint32_t seq = 1;
    std::vector<netlink::RouteEntry> routes;
    if (!asker.dumpRoutes(AF_INET, ++seq, routes)) return std::nullopt;
    std::map<int, std::optional<netlink::LinkAnswer>> links;
    const auto index = netlink::wayOutLink(routes, [&](int i) { return askLink(asker, seq, links, i); });
    if (!index) return std::nullopt;
    char name[IF_NAMESIZE] = {};
    // By name in the log; an interface gone meanwhile keeps its number.
    if (::if_indextoname(static_cast<unsigned>(*index), name)) return std::string(name);
    return "#" + std::to_string(*index);
}

}  // namespace hw
