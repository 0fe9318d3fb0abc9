#pragma once
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/helper_message.h"
#include "platform/helper_socket.h"

namespace hw {

// Who is on the other end of a connection, as the kernel reports it.
struct HelperPeer {
    pid_t pid = -1;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};

// One request as the helper receives it. Exactly one reply goes back: the
// first reply() call, or, when the request is dropped unanswered, the closing
// of its reply channel, which the client sees as an error reply.
class HelperRequest {
public:
    HelperRequest(HelperMessage message, UniqueFd replyChannel, HelperPeer peer)
        : message(std::move(message)), peer(peer), replyChannel_(std::move(replyChannel)) {}
    HelperRequest(HelperRequest&&) = default;
    HelperRequest& operator=(HelperRequest&&) = default;

    HelperMessage message;
    HelperPeer peer;
    bool expectsReply() const { return static_cast<bool>(replyChannel_); }
    // Never waits: a reply its channel has no room for waits on a thread of
    // its own (a few at most; past them the channel is closed).
    bool reply(const HelperMessage& answer);

private:
    UniqueFd replyChannel_;
};

// The helper's listening socket: accepts peers that SO_PEERCRED shows to be
// root or an allowed user, reads their requests and hands each to the
// handler on the serving thread, in arrival order per connection.
class HelperServer {
public:
    struct Options {
        std::string socketPath;
        std::vector<uid_t> allowedUids;
        bool allowRoot = true;
        mode_t mode = 0660;
        std::optional<uid_t> owner;  // chown the socket to this user
        std::optional<gid_t> group;  // and this group
        // Connections held at once, in all and per peer process (0: no
        // bound); past either, the one heard from longest ago is dropped.
        std::size_t maxClients = 0;
        std::size_t maxClientsPerProcess = 0;
        // Descriptors held in frames not yet complete, over all connections
        // (0: no bound); past it, the holders heard from longest ago are
        // dropped and what they sent is closed.
        std::size_t maxDescriptorsInFlight = 0;
    };
    using Handler = std::function<void(HelperRequest)>;

    HelperServer(Options options, Handler handler);
    ~HelperServer();
    HelperServer(const HelperServer&) = delete;
    HelperServer& operator=(const HelperServer&) = delete;

    // Binds and listens, replacing a stale socket file. Not needed when only
    // adopt() is used.
    bool listen(std::string* error);
    // Serves an already connected socket (a socketpair end, or a channel a
    // client handed over) after the same peer check; its requests go to
    // handler when one is given, else to the server's. False when the peer is
    // refused (the socket is then closed).
    bool adopt(UniqueFd connection, Handler handler = {});
    // Serves until stop(); call on the thread that should run the handler.
    void run();
    // Thread-safe; run() returns soon after.
    void stop();

    static std::optional<HelperPeer> peerOf(int fd);
    bool peerAllowed(const HelperPeer& peer) const;

private:
    struct Client {
        UniqueFd socket;
        HelperPeer peer;
        HelperFrameReader reader;
        Handler handler;
        // Set by the serving loop, read by adopt() on any thread.
        std::atomic<std::chrono::steady_clock::rep> lastHeard{0};
        bool dropped = false;  // under the mutex
    };
    void acceptOne();
    // With the mutex held: makes room for one more connection of peer.
    void makeRoomFor(const HelperPeer& peer);
    // False when the client is to be dropped.
    bool serve(Client& client);
    // After client took descriptors with a frame's first packet; false when
    // it is dropped itself.
    bool boundDescriptorsInFlight(Client& client);

    Options options_;
    Handler handler_;
    UniqueFd listener_;
    UniqueFd wakeFd_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Client>> clients_;
    bool stopping_ = false;
    // Out of descriptors: the listener rests until then instead of waking
    // the loop for a connection it cannot take.
    std::optional<std::chrono::steady_clock::time_point> acceptResumes_;
    bool acceptStalled_ = false;  // said once per stall
};

}  // namespace hw
