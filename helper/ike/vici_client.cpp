#include "helper/ike/vici_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
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

class ViciClient::Batch {
public:
    std::vector<std::optional<ViciPacket>> replies;
    std::vector<std::string> errors;  // why a request was never sent
};

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

ViciPacket ViciClient::command(std::string name, ViciSection args) {
    ViciPacket p;
    p.type = ViciPacketType::CmdRequest;
    p.name = std::move(name);
    p.body = std::move(args);
    return p;
}

ViciPacket ViciClient::registration(std::string event) {
    ViciPacket p;
    p.type = ViciPacketType::EventRegister;
    p.name = std::move(event);
    return p;
}

std::shared_ptr<ViciClient::Batch> ViciClient::send(const std::vector<ViciPacket>& packets) {
    auto batch = std::make_shared<Batch>();
    batch->replies.resize(packets.size());
    batch->errors.resize(packets.size());
    std::string frames;
    std::vector<std::size_t> sent;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (auto frame = encodeViciPacket(packets[i])) {
            frames += *frame;
            sent.push_back(i);
        } else {
            batch->errors[i] = "request does not fit a VICI packet";
        }
    }
    std::lock_guard order(sendMutex_);
    {
        std::lock_guard lock(mutex_);
        if (!open_) {
            for (auto i : sent) batch->errors[i] = "not connected to charon";
            return batch;
        }
        // Counted as awaited before a byte goes out: the answer may come at once.
        for (auto i : sent) awaiting_.emplace_back(batch, i);
    }
    // Not under mutex_: a large batch can fill the socket while charon's
    // answers wait for the reader, which takes mutex_.
    if (!writeAll(frames)) {
        std::lock_guard lock(mutex_);
        if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);  // the reader fails what is awaited
    }
    return batch;
}

std::vector<ViciResult> ViciClient::wait(const std::shared_ptr<Batch>& batch,
                                         std::chrono::steady_clock::time_point deadline, std::size_t count) {
    count = std::min(count, batch->replies.size());
    auto settled = [&] {
        for (std::size_t i = 0; i < count; ++i)
            if (!batch->replies[i] && batch->errors[i].empty()) return false;
        return true;
    };
    std::unique_lock lock(mutex_);
    replied_.wait_until(lock, deadline, [&] { return settled() || !open_; });
    const bool closed = !open_;
    // A late answer would be taken for another request's.
    if (!settled() && !closed && fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    std::vector<ViciResult> results(count);
    for (std::size_t i = 0; i < count; ++i) {
        ViciResult& result = results[i];
        if (!batch->errors[i].empty()) {
            result.error = batch->errors[i];
            continue;
        }
        if (!batch->replies[i]) {
            result.error = closed ? "charon closed the connection" : "charon did not answer in time";
            continue;
        }
        const ViciPacket& reply = *batch->replies[i];
        switch (reply.type) {
        case ViciPacketType::CmdResponse:
        case ViciPacketType::EventConfirm:
            result.ok = true;
            result.body = reply.body;
            break;
        case ViciPacketType::CmdUnknown: result.error = "charon does not know the command"; break;
        case ViciPacketType::EventUnknown: result.error = "charon does not know the event"; break;
        default: result.error = "unexpected reply from charon"; break;
        }
    }
    return results;
}

ViciResult ViciClient::request(const std::string& command, const ViciSection& args, std::chrono::milliseconds timeout) {
    return wait(send({ViciClient::command(command, args)}), std::chrono::steady_clock::now() + timeout).front();
}

bool ViciClient::registerEvent(const std::string& event, std::chrono::milliseconds timeout, std::string* error) {
    auto r = wait(send({registration(event)}), std::chrono::steady_clock::now() + timeout).front();
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
            if (awaiting_.empty()) {
                bad = true;  // a reply nobody asked for: the stream is out of step
                break;
            }
            auto [batch, slot] = std::move(awaiting_.front());
            awaiting_.pop_front();
            batch->replies[slot] = std::move(*packet);
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
        awaiting_.clear();
        byPeer = !closing_;
        replied_.notify_all();
    }
    if (byPeer && onClose_) onClose_();
}

}  // namespace hw::ike
