#pragma once
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "helper/ike/vici_message.h"

namespace hw::ike {

struct ViciResult {
    bool ok = false;      // a response arrived (for commands: it may still say success = no)
    ViciSection body;
    std::string error;    // why no response came
    // charon's own verdict in the body: "success" = "yes".
    bool succeeded() const { return ok && body.flag("success"); }
    std::string errmsg() const;
};

// One VICI connection. Requests may be pipelined: charon answers one
// connection's requests in the order they came, so answers are matched to
// requests by their order. Events are read by a thread of the client's own
// and handed to the event handler on that thread, in wire order, before any
// response that follows them. The handler must not issue commands on the
// same client.
class ViciClient {
public:
    using EventHandler = std::function<void(const std::string& name, const ViciSection& body)>;
    // Requests sent together whose answers are still to be collected.
    class Batch;

    ViciClient() = default;
    ~ViciClient();
    ViciClient(const ViciClient&) = delete;
    ViciClient& operator=(const ViciClient&) = delete;

    void setEventHandler(EventHandler handler);  // before connect
    // Runs on the reader thread when charon ends the connection (not on close()).
    void setCloseHandler(std::function<void()> handler);  // before connect
    // Connects to charon's socket; also accepts an already connected stream
    // socket (tests hand in one end of a socketpair).
    bool connect(const std::string& socketPath, std::string* error = nullptr);
    bool adopt(int fd);

    static ViciPacket command(std::string name, ViciSection args = {});
    static ViciPacket registration(std::string event);

    // Writes the requests in one go and returns at once; wait() collects
    // their answers.
    std::shared_ptr<Batch> send(const std::vector<ViciPacket>& packets);
    // The answers to the first `count` requests of a batch (all by
    // default), in order, waiting until the deadline for those still
    // missing; the rest may be collected by a later call. A late answer
    // leaves the stream out of step, so the client then closes.
    std::vector<ViciResult> wait(const std::shared_ptr<Batch>& batch, std::chrono::steady_clock::time_point deadline,
                                 std::size_t count = SIZE_MAX);

    ViciResult request(const std::string& command, const ViciSection& args, std::chrono::milliseconds timeout);
    bool registerEvent(const std::string& event, std::chrono::milliseconds timeout, std::string* error = nullptr);

    void close();
    bool isOpen() const;

private:
    void readLoop();
    bool writeAll(const std::string& bytes);

    EventHandler handler_;
    std::function<void()> onClose_;
    bool closing_ = false;     // close() was called
    std::mutex sendMutex_;     // keeps the order of the slots that of the bytes on the wire
    mutable std::mutex mutex_;
    std::condition_variable replied_;
    // One slot per request sent and not yet answered, in wire order.
    std::deque<std::pair<std::shared_ptr<Batch>, std::size_t>> awaiting_;
    bool open_ = false;
    int fd_ = -1;
    std::thread reader_;
};

}  // namespace hw::ike
