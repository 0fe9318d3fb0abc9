#include "platform/helper_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/log.h"

namespace hw {

namespace {
constexpr const char* kLog = "HelperServer";
constexpr int kReplyTimeoutMs = 5000;
// Replies that wait for room in their channel, each on a thread of its own;
// past these, a channel that is full is closed instead.
constexpr int kRepliesWaiting = 16;
std::atomic<int> g_repliesWaiting{0};

void replyLater(UniqueFd channel, HelperFrame frame) {
    if (g_repliesWaiting.fetch_add(1) >= kRepliesWaiting) {
        g_repliesWaiting.fetch_sub(1);
        log::warning(kLog, "reply dropped: its channel is full and too many replies wait already");
        return;
    }
    std::thread([channel = std::move(channel), frame = std::move(frame)] {
        std::string error;
        if (!sendHelperFrame(channel.get(), frame, kReplyTimeoutMs, &error)) log::warning(kLog, "reply failed: " + error);
        g_repliesWaiting.fetch_sub(1);
    }).detach();
}
}  // namespace

bool HelperRequest::reply(const HelperMessage& answer) {
    if (!replyChannel_) return false;
    std::string error;
    auto frame = encodeHelperMessage(answer, -1, &error);
    if (!frame) {
        log::warning(kLog, "reply failed: " + error);
        replyChannel_.reset();
        return false;
    }
    // Sent at once or not on this thread: a peer that does not read its
    // channel must not hold the loop that answers everyone else. A frame of
    // one packet goes whole or not at all.
    if (frame->bytes.size() < kHelperPacketBytes) {
        if (sendHelperFrame(replyChannel_.get(), *frame, 0, &error)) {
            replyChannel_.reset();
            return true;
        }
        if (error != kHelperSendTimedOut) {
            log::warning(kLog, "reply failed: " + error);
            replyChannel_.reset();
            return false;
        }
    }
    replyLater(std::move(replyChannel_), std::move(*frame));
    return true;
}

HelperServer::HelperServer(Options options, Handler handler)
    : options_(std::move(options)), handler_(std::move(handler)),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

HelperServer::~HelperServer() {
    if (listener_ && !options_.socketPath.empty()) ::unlink(options_.socketPath.c_str());
}

bool HelperServer::listen(std::string* error) {
    auto failWith = [&](std::string why) {
        if (error) *error = why + ": " + std::strerror(errno);
        return false;
    };
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const auto& path = options_.socketPath;
    if (path.empty() || path.size() >= sizeof(addr.sun_path)) {
        errno = ENAMETOOLONG;
        return failWith("bad socket path");
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return failWith("socket");
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            errno = EEXIST;
            return failWith("socket path is taken by another file");
        }
        ::unlink(path.c_str());
    }
    // Created with no access at all, then opened up to exactly the mode, so
    // there is no window in which others could connect.
    mode_t old = ::umask(0777);
    int b = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::umask(old);
    if (b != 0) return failWith("bind");
    if ((options_.owner || options_.group) &&
        ::chown(path.c_str(), options_.owner.value_or(static_cast<uid_t>(-1)),
                options_.group.value_or(static_cast<gid_t>(-1))) != 0)
        return failWith("chown");
    if (::chmod(path.c_str(), options_.mode) != 0) return failWith("chmod");
    if (::listen(fd.get(), 16) != 0) return failWith("listen");
    listener_ = std::move(fd);
    return true;
}

std::optional<HelperPeer> HelperServer::peerOf(int fd) {
    ucred cred{};
    socklen_t len = sizeof(cred);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof(cred)) return std::nullopt;
    return HelperPeer{cred.pid, cred.uid, cred.gid};
}

bool HelperServer::peerAllowed(const HelperPeer& peer) const {
    if (peer.uid == 0 && options_.allowRoot) return true;
    return std::find(options_.allowedUids.begin(), options_.allowedUids.end(), peer.uid) != options_.allowedUids.end();
}

bool HelperServer::adopt(UniqueFd connection, Handler handler) {
    auto peer = peerOf(connection.get());
    if (!peer || !peerAllowed(*peer)) {
        log::warning(kLog, "refused a peer with uid " + (peer ? std::to_string(peer->uid) : std::string("unknown")));
        return false;
    }
    auto c = std::make_unique<Client>();
    c->socket = std::move(connection);
    c->peer = *peer;
    c->handler = std::move(handler);
    c->lastHeard = std::chrono::steady_clock::now().time_since_epoch().count();
    std::lock_guard lock(mutex_);
    makeRoomFor(*peer);
    clients_.push_back(std::move(c));
    std::uint64_t one = 1;
    (void)!::write(wakeFd_.get(), &one, sizeof(one));
    return true;
}

void HelperServer::makeRoomFor(const HelperPeer& peer) {
    auto dropIdlest = [&](auto matches, std::size_t bound) {
        if (bound == 0) return;
        for (;;) {
            std::size_t count = 0;
            Client* idlest = nullptr;
            for (auto& c : clients_) {
                if (c->dropped || !matches(*c)) continue;
                ++count;
                if (!idlest || c->lastHeard.load() < idlest->lastHeard.load()) idlest = c.get();
            }
            if (count < bound || !idlest) return;
            // Closed by the serving loop, which may be polling it right now.
            idlest->dropped = true;
        }
    };
    const std::size_t before = std::count_if(clients_.begin(), clients_.end(), [](const auto& c) { return c->dropped; });
    dropIdlest([&](const Client& c) { return c.peer.pid == peer.pid; }, options_.maxClientsPerProcess);
    dropIdlest([](const Client&) { return true; }, options_.maxClients);
    const std::size_t after = std::count_if(clients_.begin(), clients_.end(), [](const auto& c) { return c->dropped; });
    if (after > before)
        log::warning(kLog, "too many connections: dropped " + std::to_string(after - before) + " heard from longest ago");
}

bool HelperServer::boundDescriptorsInFlight(Client& client) {
    if (options_.maxDescriptorsInFlight == 0) return true;
    std::lock_guard lock(mutex_);
    std::size_t dropped = 0;
    for (;;) {
        std::size_t held = 0;
        Client* idlest = nullptr;
        for (auto& c : clients_) {
            if (c->dropped || c->reader.descriptorsHeld() == 0) continue;
            held += c->reader.descriptorsHeld();
            // The one that just sent is heard from now, whatever its stamp says.
            if (c.get() != &client && (!idlest || c->lastHeard.load() < idlest->lastHeard.load())) idlest = c.get();
        }
        if (held <= options_.maxDescriptorsInFlight) break;
        // Alone over the bound, the sender itself goes.
        Client* victim = idlest ? idlest : &client;
        victim->dropped = true;
        ++dropped;
    }
    if (dropped > 0)
        log::warning(kLog, "too many descriptors in unfinished messages: dropped " + std::to_string(dropped) +
                               " connections heard from longest ago");
    return !client.dropped;
}

void HelperServer::acceptOne() {
    int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        acceptStalled_ = false;
        adopt(UniqueFd(fd));
        return;
    }
    // The connection stays queued; polling the listener again at once would
    // only spin on it.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        if (!acceptStalled_) log::warning(kLog, std::string("cannot take a connection now: ") + std::strerror(errno));
        acceptStalled_ = true;
        acceptResumes_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    }
}

bool HelperServer::serve(Client& client) {
    // One message per turn, so that one busy peer cannot starve the others.
    for (int budget = 256; budget > 0; --budget) {
        std::string error;
        switch (client.reader.readPacket(client.socket.get(), &error)) {
        case HelperFrameReader::Status::Partial:
            if (client.reader.descriptorsHeld() > 0 && !boundDescriptorsInFlight(client)) return false;
            continue;
        case HelperFrameReader::Status::WouldBlock:
            return true;
        case HelperFrameReader::Status::Closed:
            return false;
        case HelperFrameReader::Status::Failed:
            log::warning(kLog, "dropping a peer: " + error);
            return false;
        case HelperFrameReader::Status::Complete: {
            auto env = client.reader.take(&error);
            if (!env) {
                // A malformed message gets no reply channel back, so its
                // sender sees the request fail; the stream itself is intact.
                log::warning(kLog, "malformed message: " + error);
                continue;
            }
            auto& handler = client.handler ? client.handler : handler_;
            handler(HelperRequest(std::move(env->message), std::move(env->replyChannel), client.peer));
            // Back to poll, which tells whether more waits: no empty read per request.
            return true;
        }
        }
    }
    return true;
}

void HelperServer::run() {
    std::vector<pollfd> fds;
    std::vector<Client*> owners;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            fds.clear();
            owners.clear();
            fds.push_back({wakeFd_.get(), POLLIN, 0});
            owners.push_back(nullptr);
            std::erase_if(clients_, [](const auto& c) { return c->dropped; });
            if (acceptResumes_ && std::chrono::steady_clock::now() >= *acceptResumes_) acceptResumes_.reset();
            if (listener_ && !acceptResumes_) {
                fds.push_back({listener_.get(), POLLIN, 0});
                owners.push_back(nullptr);
            }
            for (auto& c : clients_) {
                fds.push_back({c->socket.get(), POLLIN, 0});
                owners.push_back(c.get());
            }
        }
        int timeout = -1;
        if (acceptResumes_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*acceptResumes_ - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        int r = ::poll(fds.data(), fds.size(), timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            log::error(kLog, std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        std::vector<Client*> dropped;
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (!fds[k].revents) continue;
            if (fds[k].fd == wakeFd_.get()) {
                std::uint64_t v;
                (void)!::read(wakeFd_.get(), &v, sizeof(v));
            } else if (!owners[k]) {
                acceptOne();
            } else if (!serve(*owners[k])) {
                dropped.push_back(owners[k]);
            } else {
                owners[k]->lastHeard = std::chrono::steady_clock::now().time_since_epoch().count();
            }
        }
        if (!dropped.empty()) {
            std::lock_guard lock(mutex_);
            std::erase_if(clients_, [&](const auto& c) {
                return std::find(dropped.begin(), dropped.end(), c.get()) != dropped.end();
            });
        }
    }
}

void HelperServer::stop() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    std::uint64_t one = 1;
    (void)!::write(wakeFd_.get(), &one, sizeof(one));
}

}  // namespace hw
