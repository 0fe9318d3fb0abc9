#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/helper_message.h"
#include "platform/helper_socket.h"
#include "platform/main_queue.h"

namespace hw {

// The answer to one request: the reply message, or why none came (the
// connection broke, was cancelled, or the message could not be sent).
struct HelperReply {
    HelperMessage message;
    std::string error;  // empty when a reply arrived
    bool ok() const { return error.empty(); }
};

// A message that arrived on a channel we handed out; it may expect a reply.
class HelperIncoming {
public:
    HelperIncoming(HelperMessage message, UniqueFd replyChannel)
        : message(std::move(message)), replyChannel_(std::move(replyChannel)) {}
    HelperMessage message;
    bool expectsReply() const { return static_cast<bool>(replyChannel_); }
    // Answers once; later calls and calls without a reply channel do nothing.
    bool reply(const HelperMessage& answer);

private:
    UniqueFd replyChannel_;
};

// The application's end of the helper socket. Every request gets exactly one
// reply, handed over on the main queue in arrival order: the helper's answer,
// or an error reply when the connection breaks or is cancelled first. All I/O
// runs on a thread of its own; the public calls may come from any thread.
class HelperConnection {
public:
    using ReplyHandler = std::function<void(HelperReply)>;
    using EventHandler = std::function<void(HelperIncoming)>;

    static constexpr int kSendTimeoutMs = 5000;

    explicit HelperConnection(MainQueue& queue);
    ~HelperConnection();
    HelperConnection(const HelperConnection&) = delete;
    HelperConnection& operator=(const HelperConnection&) = delete;

    // Connects to the helper's listening socket.
    bool connect(const std::string& socketPath, std::string* error);
    // Takes an already connected socket (a socketpair end in tests).
    void adopt(UniqueFd socket);

    // Sends a request; onReply is called exactly once on the main queue.
    void send(HelperMessage message, ReplyHandler onReply);
    // Sends a message for which no answer is wanted.
    void sendWithoutReply(HelperMessage message);

    // A channel whose far end goes into messages: what the peer sends on it
    // reaches onEvent on the main queue, until this connection is cancelled;
    // sendOnChannel talks back to the peer over it.
    struct ChannelEnd {
        HelperValue peer;       // put this into a message
        std::uint64_t id = 0;   // 0: the channel could not be made
    };
    // onClosed, when given, runs once on the main queue when the channel
    // breaks (the peer closed it or it failed), not on cancel.
    ChannelEnd makeChannel(EventHandler onEvent, std::function<void()> onClosed = {});
    // Sends a request on a channel; onReply is called exactly once, with an
    // error reply when the channel is gone.
    void sendOnChannel(std::uint64_t channelId, HelperMessage message, ReplyHandler onReply);

    // Called once on the main queue when the connection breaks (not on cancel).
    void setInterruptionHandler(std::function<void()> handler);

    bool isConnected() const { return connected_.load(); }
    // Ends the connection: outstanding requests get an error reply.
    void cancel();

private:
    struct Pending;
    struct Listener;
    struct Outgoing {
        std::uint64_t id = 0;  // 0: no reply wanted
        std::uint64_t channel = 0;  // 0: the helper socket
        HelperMessage message;  // keeps the channels' descriptors open until sent
        HelperFrame frame;
        UniqueFd peerEnd;       // the reply channel's far end, closed once sent
    };

    void start(UniqueFd socket);
    void enqueue(std::uint64_t channel, HelperMessage message, ReplyHandler onReply);
    void run();
    void wake();
    void deliver(ReplyHandler handler, HelperReply reply);
    // These three expect mutex_ held.
    void failAll(const std::string& why, bool interrupted);
    void fail(std::uint64_t id, const std::string& why);
    bool drainReply(std::uint64_t id);
    void dropListener(std::uint64_t id);  // mutex_ held

    MainQueue& queue_;
    std::mutex mutex_;
    UniqueFd socket_;
    UniqueFd wakeFd_;
    std::thread thread_;
    std::atomic<bool> connected_{false};
    bool stopping_ = false;
    std::uint64_t nextId_ = 1;
    std::vector<Outgoing> outgoing_;
    std::map<std::uint64_t, std::unique_ptr<Pending>> pending_;
    std::map<std::uint64_t, std::unique_ptr<Listener>> listeners_;
    std::function<void()> onInterrupted_;
};

}  // namespace hw
