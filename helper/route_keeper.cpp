#include "helper/route_keeper.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/log.h"
#include "platform/netlink_message.h"

namespace hw::helper {

namespace {
constexpr const char* kLog = "RouteKeeper";

// Reads what is queued; true when any of it was a change (or some was lost).
bool drain(int fd) {
    alignas(nlmsghdr) std::uint8_t buf[32768];
    bool change = false;
    for (;;) {
        auto n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == ENOBUFS) change = true;  // lost events: look again
            if (errno == EINTR || errno == ENOBUFS) continue;
            return change;
        }
        if (n == 0) return change;
        if (netlink::carriesChange(buf, static_cast<std::size_t>(n))) change = true;
    }
}
}  // namespace

RouteKeeper::RouteKeeper()
    : nudge_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), prompt_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

RouteKeeper::~RouteKeeper() {
    stop();
    if (nudge_ >= 0) ::close(nudge_);
    if (prompt_ >= 0) ::close(prompt_);
}

void RouteKeeper::nudge() {
    std::uint64_t one = 1;
    if (nudge_ >= 0) [[maybe_unused]] auto w = ::write(nudge_, &one, sizeof one);
}

void RouteKeeper::nudgeNow() {
    std::uint64_t one = 1;
    if (prompt_ >= 0) [[maybe_unused]] auto w = ::write(prompt_, &one, sizeof one);
}

bool RouteKeeper::start(std::function<void()> changed, int settleMs) {
    stop();
    socket_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (socket_ < 0 || wake_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        log::error(kLog, std::string("cannot watch the kernel's routes: ") + std::strerror(errno));
        stop();
        return false;
    }
    int size = 1 << 20;
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    reader_ = std::thread([fd = socket_, wake = wake_, nudge = nudge_, prompt = prompt_, changed = std::move(changed),
                           settleMs] {
        pollfd fds[4] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}, {nudge, POLLIN, 0}, {prompt, POLLIN, 0}};
        bool pending = false;
        for (;;) {
            // While a burst goes on, wait for it to settle.
            const int n = ::poll(fds, 4, pending ? settleMs : -1);
            if (n < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            if (n == 0) {
                pending = false;
                changed();
                continue;
            }
            if (fds[2].revents) {
                std::uint64_t count = 0;
                [[maybe_unused]] auto r = ::read(nudge, &count, sizeof count);
                pending = true;
            }
            if (fds[0].revents && drain(fd)) pending = true;
            if (fds[3].revents) {
                std::uint64_t count = 0;
                [[maybe_unused]] auto r = ::read(prompt, &count, sizeof count);
                pending = false;
                changed();
            }
        }
    });
    return true;
}

void RouteKeeper::stop() {
    if (reader_.joinable()) {
        std::uint64_t one = 1;
        [[maybe_unused]] auto w = ::write(wake_, &one, sizeof one);
        reader_.join();
    }
    if (socket_ >= 0) ::close(socket_);
    if (wake_ >= 0) ::close(wake_);
    socket_ = wake_ = -1;
}

}  // namespace hw::helper
