#include "helper/ike/vici_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"

namespace hw::ike {

std::string ViciResult::errmsg() const {
    if (!ok) return error;
    if (const auto* m = body.value("errmsg")) return *m;
    return succeeded() ? std::string() : std::string("command failed");
}

ViciClient::~ViciClient() { close(); }

void ViciClient::setEventHandler(EventHandler handler) { handler_ = std::move(handler); }

void ViciClient::setCloseHandler(std::function<void()> handler) { onClose_ = std::move(handler); }

bool ViciClient::connect(const std::string& socketPath, std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof(addr.sun_path)) {
        if (error) *error = "invalid VICI socket path";
        return false;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error) *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        if (error) *error = std::string("connecting to charon: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    return adopt(fd);
}

bool ViciClient::adopt(int fd) {
    close();
    std::lock_guard lock(mutex_);
    fd_ = fd;
    open_ = true;
    closing_ = false;
    reader_ = std::thread([this] { readLoop(); });
    return true;
}

bool ViciClient::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

void ViciClient::close() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    }
    if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) reader_.join();
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    open_ = false;
    replied_.notify_all();
}

bool ViciClient::writeAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

ViciResult ViciClient::exchange(const ViciPacket& packet, std::chrono::milliseconds timeout) {
    ViciResult result;
    auto frame = encodeViciPacket(packet);
    if (!frame) {
        result.error = "request does not fit a VICI packet";
        return result;
    }
    std::lock_guard command(commandMutex_);
    std::unique_lock lock(mutex_);
    if (!open_) {
        result.error = "not connected to charon";
        return result;
    }
    reply_.reset();
    awaiting_ = true;
    if (!writeAll(*frame)) {
        awaiting_ = false;
        result.error = "writing to charon failed";
        return result;
    }
    const bool arrived = replied_.wait_for(lock, timeout, [this] { return reply_.has_value() || !open_; });
    awaiting_ = false;
    if (!arrived || !reply_) {
        result.error = open_ ? "charon did not answer in time" : "charon closed the connection";
        const bool timedOut = open_;
        lock.unlock();
        if (timedOut) {
            std::lock_guard again(mutex_);
            if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
        }
        return result;
    }
    ViciPacket reply = std::move(*reply_);
    reply_.reset();
    lock.unlock();
    switch (reply.type) {
    case ViciPacketType::CmdResponse:
    case ViciPacketType::EventConfirm:
        result.ok = true;
        result.body = std::move(reply.body);
        break;
    case ViciPacketType::CmdUnknown:
        result.error = "charon does not know the command";
        break;
    case ViciPacketType::EventUnknown:
        result.error = "charon does not know the event";
        break;
    default:
        result.error = "unexpected reply from charon";
        break;
    }
    return result;
}

ViciResult ViciClient::request(const std::string& command, const ViciSection& args, std::chrono::milliseconds timeout) {
    ViciPacket p;
    p.type = ViciPacketType::CmdRequest;
    p.name = command;
    p.body = args;
    return exchange(p, timeout);
}

bool ViciClient::registerEvent(const std::string& event, std::chrono::milliseconds timeout, std::string* error) {
    ViciPacket p;
    p.type = ViciPacketType::EventRegister;
    p.name = event;
    auto r = exchange(p, timeout);
    if (!r.ok && error) *error = r.error;
    return r.ok;
}

void ViciClient::readLoop() {
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = fd_;
    }
    ViciFrameReader frames;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (!frames.feed(std::string_view(buf, static_cast<std::size_t>(n)))) break;
        bool bad = false;
        while (auto payload = frames.next()) {
            auto packet = decodeViciPacket(*payload);
            if (!packet) {
                bad = true;
                break;
            }
            if (packet->type == ViciPacketType::Event) {
                if (handler_) handler_(packet->name, packet->body);
                continue;
            }
            std::lock_guard lock(mutex_);
            if (!awaiting_ || reply_) {
                bad = true;  // a reply nobody asked for: the stream is out of step
                break;
            }
            reply_ = std::move(*packet);
            replied_.notify_all();
        }
        if (bad || frames.broken()) {
            log::warning("ike", "malformed data from charon; closing the VICI connection");
            break;
        }
    }
    bool byPeer;
    {
        std::lock_guard lock(mutex_);
        open_ = false;
        byPeer = !closing_;
        replied_.notify_all();
    }
    if (byPeer && onClose_) onClose_();
}

}  // namespace hw::ike
