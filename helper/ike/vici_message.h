#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hw::ike {

// charon's own ceiling for one packet; anything larger is a broken peer.
inline constexpr std::size_t kViciMaxPacket = 512 * 1024;
inline constexpr int kViciMaxDepth = 32;

enum class ViciPacketType : std::uint8_t {
    CmdRequest = 0,
    CmdResponse = 1,
    CmdUnknown = 2,
    EventRegister = 3,
    EventUnregister = 4,
    EventConfirm = 5,
    EventUnknown = 6,
    Event = 7,
};

// An ordered message body: key-values, lists of strings and nested sections.
// Keys may repeat on the wire; lookups answer the first.
class ViciSection {
public:
    enum class Kind { Value, List, Section };
    struct Entry {
        Kind kind = Kind::Value;
        std::string key;
        std::string value;
        std::vector<std::string> list;
        std::unique_ptr<ViciSection> section;
    };

    ViciSection() = default;
    ViciSection(const ViciSection& other);
    ViciSection& operator=(const ViciSection& other);
    ViciSection(ViciSection&&) noexcept = default;
    ViciSection& operator=(ViciSection&&) noexcept = default;

    ViciSection& set(std::string key, std::string value);
    ViciSection& setList(std::string key, std::vector<std::string> items);
    ViciSection& addSection(std::string key);  // the new, empty child

    const std::string* value(std::string_view key) const;
    const std::vector<std::string>* list(std::string_view key) const;
    const ViciSection* section(std::string_view key) const;
    // "yes"/"no" as charon writes its flags; absent answers false.
    bool flag(std::string_view key) const;

    const std::vector<Entry>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }

private:
    const Entry* find(std::string_view key, Kind kind) const;
    std::vector<Entry> entries_;
};

struct ViciPacket {
    ViciPacketType type = ViciPacketType::CmdRequest;
    std::string name;  // only for request, register, unregister and event
    ViciSection body;  // only for request, response and event
};

bool viciTypeIsNamed(ViciPacketType type);
bool viciTypeHasBody(ViciPacketType type);

// The whole frame, length prefix included; none when a name, key or value does
// not fit its length field or the packet exceeds kViciMaxPacket.
std::optional<std::string> encodeViciPacket(const ViciPacket& packet);

// Decodes one packet (the bytes after the length prefix). Rejects unknown
// types and elements, unbalanced sections or lists, list items outside a
// list, nesting past kViciMaxDepth and trailing bytes.
std::optional<ViciPacket> decodeViciPacket(std::string_view payload);

// Splits a byte stream into packets' payloads.
class ViciFrameReader {
public:
    // Appends bytes; false once the stream announced an impossible length.
    bool feed(std::string_view bytes);
    // The next complete payload, if one has arrived.
    std::optional<std::string> next();
    bool broken() const { return broken_; }

private:
    std::string buffer_;
    std::size_t offset_ = 0;
    bool broken_ = false;
};

}  // namespace hw::ike
