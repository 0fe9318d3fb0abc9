#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/helper_message.h"

namespace hw {

// One frame travels as packets of at most this size on a SOCK_SEQPACKET
// socket, so a full-sized message never depends on the socket buffer limits.
inline constexpr std::size_t kHelperPacketBytes = 60 * 1024;

// Connects to the helper's listening socket, and keeps the connection only
// when root (or this very user, in tests) serves it: requests carry
// credentials, whoever put a socket at the path. Nothing is sent.
UniqueFd connectToHelper(const std::string& socketPath, std::string* error);

// A connected SOCK_SEQPACKET pair (close-on-exec); both invalid on failure.
std::pair<UniqueFd, UniqueFd> makeHelperSocketPair();

// Sends one frame; the descriptors ride with its first packet. Blocks while
// the socket is full, bounded by timeoutMs (the frame is then broken off and
// the socket should be given up).
bool sendHelperFrame(int fd, const HelperFrame& frame, int timeoutMs, std::string* error);
// The error of a send that found no room in time.
inline constexpr const char* kHelperSendTimedOut = "send timed out";
bool sendHelperMessage(int fd, const HelperMessage& message, int replyFd, int timeoutMs, std::string* error);

// Reassembles frames from packets, one packet per read.
class HelperFrameReader {
public:
    enum class Status { Complete, Partial, WouldBlock, Closed, Failed };
    // Reads one packet without blocking.
    Status readPacket(int fd, std::string* error);
    // After Complete: decodes the frame and resets for the next one.
    std::optional<HelperEnvelope> take(std::string* error);
    bool midFrame() const { return !buffer_.empty(); }
    // Descriptors received with a frame not yet complete.
    std::size_t descriptorsHeld() const { return complete_ ? 0 : fds_.size(); }

private:
    std::string buffer_;
    std::vector<UniqueFd> fds_;
    bool complete_ = false;
};

// Blocks until one whole message arrives on fd, the peer closes, or timeoutMs
// (negative: no limit) passes.
std::optional<HelperEnvelope> receiveHelperMessage(int fd, int timeoutMs, std::string* error);

}  // namespace hw
