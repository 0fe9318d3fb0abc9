#include "platform/helper_connection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"

namespace hw {

namespace {
constexpr const char* kLog = "HelperConnection";
constexpr const char* kInterrupted = "connection interrupted";
constexpr const char* kInvalid = "connection invalid";
constexpr const char* kCancelled = "connection cancelled";
}  // namespace

struct HelperConnection::Pending {
    UniqueFd local;
    ReplyHandler handler;
    HelperFrameReader reader;
};

struct HelperConnection::Listener {
    UniqueFd local;
    std::shared_ptr<EventHandler> handler;
    std::function<void()> onClosed;
    HelperFrameReader reader;
};

bool HelperIncoming::reply(const HelperMessage& answer) {
    if (!replyChannel_) return false;
    std::string error;
    bool ok = sendHelperMessage(replyChannel_.get(), answer, -1, HelperConnection::kSendTimeoutMs, &error);
    if (!ok) log::warning(kLog, "reply on channel failed: " + error);
    replyChannel_.reset();
    return ok;
}

HelperConnection::HelperConnection(MainQueue& queue) : queue_(queue) {}

HelperConnection::~HelperConnection() { cancel(); }

bool HelperConnection::connect(const std::string& socketPath, std::string* error) {
    UniqueFd fd = connectToHelper(socketPath, error);
    if (!fd) return false;
    start(std::move(fd));
    return true;
}

void HelperConnection::adopt(UniqueFd socket) { start(std::move(socket)); }

void HelperConnection::start(UniqueFd socket) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return;
    wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    socket_ = std::move(socket);
    connected_ = static_cast<bool>(socket_) && static_cast<bool>(wakeFd_);
    thread_ = std::thread([this] { run(); });
}

void HelperConnection::wake() {
    std::uint64_t one = 1;
    if (wakeFd_) (void)!::write(wakeFd_.get(), &one, sizeof(one));
}

void HelperConnection::deliver(ReplyHandler handler, HelperReply reply) {
    if (!handler) return;
    queue_.post([handler = std::move(handler), reply = std::move(reply)]() mutable { handler(std::move(reply)); });
}

void HelperConnection::send(HelperMessage message, ReplyHandler onReply) {
    enqueue(0, std::move(message), std::move(onReply));
}

void HelperConnection::sendOnChannel(std::uint64_t channelId, HelperMessage message, ReplyHandler onReply) {
    if (channelId == 0) {
        deliver(std::move(onReply), HelperReply{{}, kInvalid});
        return;
    }
    enqueue(channelId, std::move(message), std::move(onReply));
}

void HelperConnection::enqueue(std::uint64_t channel, HelperMessage message, ReplyHandler onReply) {
    std::string error;
    auto [local, peer] = makeHelperSocketPair();
    std::optional<HelperFrame> frame;
    if (!local) error = "cannot create a reply channel";
    else frame = encodeHelperMessage(message, peer.get(), &error);
    std::lock_guard lock(mutex_);
    bool open = channel ? listeners_.count(channel) > 0 : connected_.load();
    if (!frame || !open || stopping_) {
        if (error.empty()) error = kInvalid;
        log::warning(kLog, "request not sent: " + error);
        deliver(std::move(onReply), HelperReply{{}, error});
        return;
    }
    auto id = nextId_++;
    auto p = std::make_unique<Pending>();
    p->local = std::move(local);
    p->handler = std::move(onReply);
    pending_.emplace(id, std::move(p));
    outgoing_.push_back(Outgoing{id, channel, std::move(message), std::move(*frame), std::move(peer)});
    wake();
}

void HelperConnection::sendWithoutReply(HelperMessage message) {
    std::string error;
    auto frame = encodeHelperMessage(message, -1, &error);
    std::lock_guard lock(mutex_);
    if (!frame || !connected_ || stopping_) {
        log::warning(kLog, "message not sent: " + (error.empty() ? std::string(kInvalid) : error));
        return;
    }
    outgoing_.push_back(Outgoing{0, 0, std::move(message), std::move(*frame), UniqueFd()});
    wake();
}

HelperConnection::ChannelEnd HelperConnection::makeChannel(EventHandler onEvent, std::function<void()> onClosed) {
    auto [local, peer] = makeHelperSocketPair();
    if (!local) return {HelperValue(HelperChannel()), 0};
    std::lock_guard lock(mutex_);
    auto l = std::make_unique<Listener>();
    l->local = std::move(local);
    l->handler = std::make_shared<EventHandler>(std::move(onEvent));
    l->onClosed = std::move(onClosed);
    auto id = nextId_++;
    listeners_.emplace(id, std::move(l));
    wake();
    return {HelperValue(std::make_shared<UniqueFd>(std::move(peer))), id};
}

void HelperConnection::dropListener(std::uint64_t id) {
    auto it = listeners_.find(id);
    if (it == listeners_.end()) return;
    // Queued after the channel's last messages, so they arrive first.
    if (it->second->onClosed) queue_.post(std::move(it->second->onClosed));
    listeners_.erase(it);
}

void HelperConnection::setInterruptionHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    onInterrupted_ = std::move(handler);
}

void HelperConnection::cancel() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake();
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    failAll(kCancelled, false);
    listeners_.clear();
}

void HelperConnection::fail(std::uint64_t id, const std::string& why) {
    auto it = pending_.find(id);
    if (it == pending_.end()) return;
    deliver(std::move(it->second->handler), HelperReply{{}, why});
    pending_.erase(it);
}

// Called with mutex_ held.
void HelperConnection::failAll(const std::string& why, bool interrupted) {
    outgoing_.clear();
    for (auto& [id, p] : pending_) deliver(std::move(p->handler), HelperReply{{}, why});
    pending_.clear();
    bool wasConnected = connected_.exchange(false);
    socket_.reset();
    if (interrupted && wasConnected && onInterrupted_) {
        log::warning(kLog, why);
        queue_.post(onInterrupted_);
    }
}

// Reads what is waiting on one reply channel; true when it is finished with.
bool HelperConnection::drainReply(std::uint64_t id) {
    auto& p = *pending_.at(id);
    for (;;) {
        std::string error;
        switch (p.reader.readPacket(p.local.get(), &error)) {
        case HelperFrameReader::Status::Partial:
            continue;
        case HelperFrameReader::Status::WouldBlock:
            return false;
        case HelperFrameReader::Status::Complete: {
            auto env = p.reader.take(&error);
            if (!env) {
                log::warning(kLog, "invalid reply: " + error);
                fail(id, kInvalid);
            } else {
                deliver(std::move(p.handler), HelperReply{std::move(env->message), {}});
                pending_.erase(id);
            }
            return true;
        }
        case HelperFrameReader::Status::Closed:
            fail(id, kInterrupted);
            return true;
        case HelperFrameReader::Status::Failed:
            log::warning(kLog, "invalid reply: " + error);
            fail(id, kInvalid);
            return true;
        }
    }
}

void HelperConnection::run() {
    std::unique_lock lock(mutex_);
    std::vector<pollfd> fds;
    std::vector<std::pair<char, std::uint64_t>> owners;  // 'r' reply, 'l' listener
    while (!stopping_) {
        // Send what is queued; a failed send leaves the stream unusable.
        auto batch = std::move(outgoing_);
        outgoing_.clear();
        for (auto& o : batch) {
            int fd = -1;
            if (o.channel == 0 && socket_) fd = socket_.get();
            if (o.channel != 0 && listeners_.count(o.channel)) fd = listeners_.at(o.channel)->local.get();
            if (fd < 0) {
                fail(o.id, kInterrupted);
                continue;
            }
            std::string error;
            lock.unlock();
            bool sent = sendHelperFrame(fd, o.frame, kSendTimeoutMs, &error);
            lock.lock();
            o.peerEnd.reset();
            if (!sent) {
                log::warning(kLog, "send failed: " + error);
                fail(o.id, kInterrupted);
                if (o.channel == 0) failAll(kInterrupted, true);
                else dropListener(o.channel);
            }
        }
        if (stopping_) break;
        if (!outgoing_.empty()) continue;

        fds.clear();
        owners.clear();
        fds.push_back({wakeFd_.get(), POLLIN, 0});
        owners.push_back({'w', 0});
        if (socket_) {
            fds.push_back({socket_.get(), POLLIN, 0});
            owners.push_back({'s', 0});
        }
        for (auto& [id, p] : pending_) {
            fds.push_back({p->local.get(), POLLIN, 0});
            owners.push_back({'r', id});
        }
        for (auto& [id, l] : listeners_) {
            fds.push_back({l->local.get(), POLLIN, 0});
            owners.push_back({'l', id});
        }
        lock.unlock();
        int r = ::poll(fds.data(), fds.size(), -1);
        lock.lock();
        if (r < 0) {
            if (errno == EINTR) continue;
            log::error(kLog, std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        bool socketBroke = false;
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (!fds[k].revents) continue;
            auto [kind, id] = owners[k];
            if (kind == 'w') {
                std::uint64_t v;
                (void)!::read(wakeFd_.get(), &v, sizeof(v));
            } else if (kind == 's') {
                // The helper answers on reply channels only; anything else
                // arriving here, or the end of the stream, ends the connection.
                char b;
                ssize_t n = ::recv(socket_.get(), &b, 1, MSG_DONTWAIT);
                if (n >= 0 || (errno != EAGAIN && errno != EINTR)) socketBroke = true;
            } else if (kind == 'r' && pending_.count(id)) {
                drainReply(id);
            } else if (kind == 'l' && listeners_.count(id)) {
                auto& l = *listeners_.at(id);
                for (bool more = true; more;) {
                    std::string error;
                    switch (l.reader.readPacket(l.local.get(), &error)) {
                    case HelperFrameReader::Status::Partial:
                        break;
                    case HelperFrameReader::Status::WouldBlock:
                        more = false;
                        break;
                    case HelperFrameReader::Status::Complete:
                        if (auto env = l.reader.take(&error)) {
                            auto in = std::make_shared<HelperIncoming>(std::move(env->message),
                                                                       std::move(env->replyChannel));
                            queue_.post([h = l.handler, in] { (*h)(std::move(*in)); });
                        } else {
                            log::warning(kLog, "invalid message on channel: " + error);
                        }
                        break;
                    case HelperFrameReader::Status::Closed:
                    case HelperFrameReader::Status::Failed:
                        dropListener(id);
                        more = false;
                        break;
                    }
                }
            }
        }
        if (socketBroke) {
            // Replies already written before the helper went away still count.
            std::vector<std::uint64_t> ids;
            for (auto& [id, p] : pending_) ids.push_back(id);
            for (auto id : ids) drainReply(id);
            failAll(kInterrupted, true);
        }
    }
}

}  // namespace hw
