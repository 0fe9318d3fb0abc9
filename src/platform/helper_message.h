#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace hw {

// An owned file descriptor: closed when destroyed; moves only.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    int release() { int fd = fd_; fd_ = -1; return fd; }
    void reset(int fd = -1);
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

class HelperValue;
using HelperArray = std::vector<HelperValue>;
using HelperDictionary = std::map<std::string, HelperValue, std::less<>>;
using HelperData = std::vector<std::uint8_t>;
// A socket end travelling inside a message. Shared so that a message can be
// copied; the descriptor closes with its last holder.
using HelperChannel = std::shared_ptr<UniqueFd>;
// Every message on the helper socket is a dictionary at the top level.
using HelperMessage = HelperDictionary;

class HelperValue {
public:
    enum class Type { String, Int64, Bool, Data, Array, Dictionary, Channel };

    HelperValue() : v_(std::string()) {}
    HelperValue(std::string s) : v_(std::move(s)) {}
    HelperValue(std::string_view s) : v_(std::string(s)) {}
    HelperValue(const char* s) : v_(std::string(s)) {}
    HelperValue(std::int64_t i) : v_(i) {}
    HelperValue(int i) : v_(static_cast<std::int64_t>(i)) {}
    HelperValue(bool b) : v_(b) {}
    HelperValue(HelperData d) : v_(std::move(d)) {}
    HelperValue(HelperArray a) : v_(std::move(a)) {}
    HelperValue(HelperDictionary d) : v_(std::move(d)) {}
    HelperValue(HelperChannel c) : v_(std::move(c)) {}

    Type type() const { return static_cast<Type>(v_.index()); }

    // Typed reads: absent (null / nullopt) when the value is of another type.
    const std::string* string() const { return std::get_if<std::string>(&v_); }
    std::optional<std::int64_t> int64() const;
    std::optional<bool> boolean() const;
    const HelperData* data() const { return std::get_if<HelperData>(&v_); }
    const HelperArray* array() const { return std::get_if<HelperArray>(&v_); }
    const HelperDictionary* dictionary() const { return std::get_if<HelperDictionary>(&v_); }
    HelperChannel channel() const;

    bool operator==(const HelperValue& other) const { return v_ == other.v_; }

private:
    std::variant<std::string, std::int64_t, bool, HelperData, HelperArray, HelperDictionary, HelperChannel> v_;
};

// Typed lookups in a dictionary; absent when missing or of another type.
const std::string* helperString(const HelperDictionary& d, std::string_view key);
std::optional<std::int64_t> helperInt(const HelperDictionary& d, std::string_view key);
std::optional<bool> helperBool(const HelperDictionary& d, std::string_view key);
const HelperDictionary* helperDictionary(const HelperDictionary& d, std::string_view key);
HelperChannel helperChannel(const HelperDictionary& d, std::string_view key);

inline constexpr std::size_t kHelperMessageMaxBytes = 1024 * 1024;
inline constexpr int kHelperMessageMaxDepth = 32;
inline constexpr std::size_t kHelperMessageMaxChannels = 16;

// One message in wire form: the bytes, and the descriptors to pass beside
// them (borrowed from the message's channels, so keep the message alive).
struct HelperFrame {
    std::string bytes;
    std::vector<int> fds;
};

// A decoded frame: the message and, when the sender wants an answer, the
// channel on which exactly one reply goes back.
struct HelperEnvelope {
    HelperMessage message;
    UniqueFd replyChannel;
};

// Encodes a message; replyFd >= 0 attaches a reply channel. Fails (with a
// reason) on strings holding NUL or invalid UTF-8, too deep nesting, too many
// channels or more than kHelperMessageMaxBytes.
std::optional<HelperFrame> encodeHelperMessage(const HelperMessage& message, int replyFd, std::string* error);

// Strict decoder for bytes from another process: every length is bounded,
// every descriptor is referenced exactly once, nothing trails. Takes
// ownership of fds; those not handed out are closed.
std::optional<HelperEnvelope> decodeHelperMessage(std::string_view bytes, std::vector<UniqueFd> fds,
                                                  std::string* error);

}  // namespace hw
