#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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

// One VICI connection. Commands go one at a time (callers queue up); events
// are read by a thread of the client's own and handed to the event handler
// on that thread, in wire order, before any response that follows them. The
// handler must not issue commands on the same client.
class ViciClient {
public:
    using EventHandler = std::function<void(const std::string& name, const ViciSection& body)>;

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

    // A timed-out command leaves the stream out of step, so the client closes.
    ViciResult request(const std::string& command, const ViciSection& args, std::chrono::milliseconds timeout);
    bool registerEvent(const std::string& event, std::chrono::milliseconds timeout, std::string* error = nullptr);

    void close();
    bool isOpen() const;

private:
    ViciResult exchange(const ViciPacket& packet, std::chrono::milliseconds timeout);
    void readLoop();
    bool writeAll(const std::string& bytes);

    EventHandler handler_;
    std::function<void()> onClose_;
    bool closing_ = false;  // close() was called
    std::mutex commandMutex_;  // one command at a time
    mutable std::mutex mutex_;
    std::condition_variable replied_;
    std::optional<ViciPacket> reply_;
    bool open_ = false;
    bool awaiting_ = false;
    int fd_ = -1;
    std::thread reader_;
};

}  // namespace hw::ike
