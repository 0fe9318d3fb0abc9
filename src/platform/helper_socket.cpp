#include "platform/helper_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace hw {

namespace {

constexpr char kMore = 'M';
constexpr char kEnd = 'E';

using SteadyClock = std::chrono::steady_clock;

int remainingMs(SteadyClock::time_point deadline, int timeoutMs) {
    if (timeoutMs < 0) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool setError(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return false;
}

bool sendPacket(int fd, std::string_view packet, const std::vector<int>& fds, SteadyClock::time_point deadline,
                int timeoutMs, std::string* error) {
    iovec iov{const_cast<char*>(packet.data()), packet.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    std::vector<char> control;
    if (!fds.empty()) {
        control.assign(CMSG_SPACE(sizeof(int) * fds.size()), 0);
        msg.msg_control = control.data();
        msg.msg_controllen = control.size();
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
        std::memcpy(CMSG_DATA(c), fds.data(), sizeof(int) * fds.size());
    }
    for (;;) {
        ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return true;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return setError(error, std::string("send failed: ") + std::strerror(errno));
        pollfd p{fd, POLLOUT, 0};
        int r = ::poll(&p, 1, remainingMs(deadline, timeoutMs));
        if (r == 0) return setError(error, kHelperSendTimedOut);
        if (r < 0 && errno != EINTR) return setError(error, std::string("poll failed: ") + std::strerror(errno));
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return setError(error, "peer closed");
    }
}

}  // namespace

UniqueFd connectToHelper(const std::string& socketPath, std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path) {
        setError(error, "socket path too long");
        return {};
    }
    std::memcpy(addr.sun_path, socketPath.data(), socketPath.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        setError(error, std::string("cannot connect to the helper: ") + std::strerror(errno));
        return {};
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer ||
        (peer.uid != 0 && peer.uid != ::geteuid())) {
        setError(error, "the helper socket is served by uid " + std::to_string(peer.uid) + ", not by root");
        return {};
    }
    return fd;
}

std::pair<UniqueFd, UniqueFd> makeHelperSocketPair() {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return {};
    return {UniqueFd(sv[0]), UniqueFd(sv[1])};
}

bool sendHelperFrame(int fd, const HelperFrame& frame, int timeoutMs, std::string* error) {
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::string_view rest = frame.bytes;
    bool first = true;
    std::string packet;
    do {
        std::size_t n = std::min(rest.size(), kHelperPacketBytes - 1);
        packet.clear();
        packet.push_back(n == rest.size() ? kEnd : kMore);
        packet.append(rest.substr(0, n));
        rest.remove_prefix(n);
        static const std::vector<int> none;
        if (!sendPacket(fd, packet, first ? frame.fds : none, deadline, timeoutMs, error)) return false;
        first = false;
    } while (!rest.empty());
    return true;
}

bool sendHelperMessage(int fd, const HelperMessage& message, int replyFd, int timeoutMs, std::string* error) {
    auto frame = encodeHelperMessage(message, replyFd, error);
    return frame && sendHelperFrame(fd, *frame, timeoutMs, error);
}

HelperFrameReader::Status HelperFrameReader::readPacket(int fd, std::string* error) {
    if (complete_) {
        buffer_.clear();
        fds_.clear();
        complete_ = false;
    }
    static thread_local std::vector<char> packet(kHelperPacketBytes);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * (kHelperMessageMaxChannels + 1))];
    iovec iov{packet.data(), packet.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    ssize_t n;
    do {
        n = ::recvmsg(fd, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Status::WouldBlock;
        if (errno == ECONNRESET) return Status::Closed;
        setError(error, std::string("receive failed: ") + std::strerror(errno));
        return Status::Failed;
    }
    // Take ownership of whatever descriptors arrived before judging the packet.
    std::vector<UniqueFd> got;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t k = 0; k < count; ++k) {
            int f;
            std::memcpy(&f, CMSG_DATA(c) + k * sizeof(int), sizeof(int));
            got.emplace_back(f);
        }
    }
    auto failed = [&](const char* why) {
        setError(error, why);
        buffer_.clear();
        fds_.clear();
        return Status::Failed;
    };
    if (n == 0) return buffer_.empty() ? Status::Closed : failed("peer closed in the middle of a message");
    if (msg.msg_flags & MSG_TRUNC) return failed("packet too large");
    if (msg.msg_flags & MSG_CTRUNC) return failed("too many descriptors");
    if (!got.empty() && !buffer_.empty()) return failed("descriptors in a continuation packet");
    if (packet[0] != kMore && packet[0] != kEnd) return failed("bad packet header");
    if (buffer_.size() + static_cast<std::size_t>(n) - 1 > kHelperMessageMaxBytes) return failed("message too large");
    if (buffer_.empty()) fds_ = std::move(got);
    buffer_.append(packet.data() + 1, static_cast<std::size_t>(n) - 1);
    if (packet[0] == kMore) return Status::Partial;
    complete_ = true;
    return Status::Complete;
}

std::optional<HelperEnvelope> HelperFrameReader::take(std::string* error) {
    if (!complete_) {
        setError(error, "no complete message");
        return std::nullopt;
    }
    auto env = decodeHelperMessage(buffer_, std::move(fds_), error);
    buffer_.clear();
    fds_.clear();
    complete_ = false;
    return env;
}

std::optional<HelperEnvelope> receiveHelperMessage(int fd, int timeoutMs, std::string* error) {
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    HelperFrameReader reader;
    // A reply is rarely there yet: wait first, then read.
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, remainingMs(deadline, timeoutMs));
        if (r == 0) {
            setError(error, "receive timed out");
            return std::nullopt;
        }
        if (r < 0 && errno != EINTR) {
            setError(error, std::string("poll failed: ") + std::strerror(errno));
            return std::nullopt;
        }
        for (bool more = true; more;) {
            switch (reader.readPacket(fd, error)) {
            case HelperFrameReader::Status::Complete:
                return reader.take(error);
            case HelperFrameReader::Status::Partial:
                continue;
            case HelperFrameReader::Status::Closed:
                setError(error, "peer closed");
                return std::nullopt;
            case HelperFrameReader::Status::Failed:
                return std::nullopt;
            case HelperFrameReader::Status::WouldBlock:
                more = false;
                break;
            }
        }
    }
}

}  // namespace hw
