#include "platform/helper_message.h"

#include <unistd.h>

#include <cstring>

namespace hw {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

std::optional<std::int64_t> HelperValue::int64() const {
    if (auto p = std::get_if<std::int64_t>(&v_)) return *p;
    return std::nullopt;
}

std::optional<bool> HelperValue::boolean() const {
    if (auto p = std::get_if<bool>(&v_)) return *p;
    return std::nullopt;
}

HelperChannel HelperValue::channel() const {
    if (auto p = std::get_if<HelperChannel>(&v_)) return *p;
    return nullptr;
}

namespace {
const HelperValue* find(const HelperDictionary& d, std::string_view key) {
    auto it = d.find(key);
    return it == d.end() ? nullptr : &it->second;
}
}  // namespace

const std::string* helperString(const HelperDictionary& d, std::string_view key) {
    auto v = find(d, key);
    return v ? v->string() : nullptr;
}
std::optional<std::int64_t> helperInt(const HelperDictionary& d, std::string_view key) {
    auto v = find(d, key);
    return v ? v->int64() : std::nullopt;
}
std::optional<bool> helperBool(const HelperDictionary& d, std::string_view key) {
    auto v = find(d, key);
    return v ? v->boolean() : std::nullopt;
}
const HelperDictionary* helperDictionary(const HelperDictionary& d, std::string_view key) {
    auto v = find(d, key);
    return v ? v->dictionary() : nullptr;
}
HelperChannel helperChannel(const HelperDictionary& d, std::string_view key) {
    auto v = find(d, key);
    return v ? v->channel() : nullptr;
}

// Wire form: "HW" 0x01, flags (bit 0: reply channel follows as a u32 index),
// then the top-level dictionary. Values are a tag byte and a body; lengths
// and counts are u32 little-endian, integers i64 little-endian. Channels are
// indices into the descriptors passed beside the bytes.
namespace {

constexpr char kMagic0 = 'H', kMagic1 = 'W';
constexpr std::uint8_t kVersion = 1;
constexpr std::uint8_t kFlagReply = 0x01;

enum Tag : std::uint8_t {
    TagString = 's',
    TagInt = 'i',
    TagTrue = 'T',
    TagFalse = 'F',
    TagData = 'd',
    TagArray = 'a',
    TagDict = 'D',
    TagChannel = 'c',
};

bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c == 0) return false;
        if (c < 0x80) { ++i; continue; }
        int n;
        std::uint32_t cp;
        if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07; }
        else return false;
        if (s.size() - i <= static_cast<std::size_t>(n)) return false;
        for (int k = 1; k <= n; ++k) {
            auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // No overlong forms, no surrogates, nothing past U+10FFFF.
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000)) return false;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

class Writer {
public:
    std::string out;
    std::vector<int> fds;
    std::string error;

    bool value(const HelperValue& v, int depth) {
        if (depth > kHelperMessageMaxDepth) return fail("nested too deeply");
        if (out.size() > kHelperMessageMaxBytes) return fail("message too large");
        switch (v.type()) {
        case HelperValue::Type::String:
            if (!validUtf8(*v.string())) return fail("string is not valid UTF-8 or holds NUL");
            return tag(TagString) && bytes(*v.string());
        case HelperValue::Type::Int64: {
            tag(TagInt);
            auto u = static_cast<std::uint64_t>(*v.int64());
            for (int k = 0; k < 8; ++k) out.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
            return true;
        }
        case HelperValue::Type::Bool:
            return tag(*v.boolean() ? TagTrue : TagFalse);
        case HelperValue::Type::Data: {
            const auto& d = *v.data();
            return tag(TagData) && bytes(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
        }
        case HelperValue::Type::Array:
            tag(TagArray);
            if (!u32(v.array()->size())) return false;
            for (const auto& e : *v.array())
                if (!value(e, depth + 1)) return false;
            return true;
        case HelperValue::Type::Dictionary:
            return dictionary(*v.dictionary(), depth);
        case HelperValue::Type::Channel: {
            auto ch = v.channel();
            if (!ch || !*ch) return fail("channel is closed");
            if (fds.size() >= kHelperMessageMaxChannels) return fail("too many channels");
            tag(TagChannel);
            u32(fds.size());
            fds.push_back(ch->get());
            return true;
        }
        }
        return fail("unknown value");
    }

    bool dictionary(const HelperDictionary& d, int depth) {
        if (depth > kHelperMessageMaxDepth) return fail("nested too deeply");
        tag(TagDict);
        if (!u32(d.size())) return false;
        for (const auto& [k, e] : d) {
            if (!validUtf8(k)) return fail("key is not valid UTF-8 or holds NUL");
            if (!bytes(k) || !value(e, depth + 1)) return false;
        }
        return true;
    }

    bool tag(std::uint8_t t) {
        out.push_back(static_cast<char>(t));
        return true;
    }
    bool u32(std::size_t n) {
        if (n > kHelperMessageMaxBytes) return fail("message too large");
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((n >> (8 * k)) & 0xFF));
        return true;
    }
    bool bytes(std::string_view s) {
        if (!u32(s.size())) return false;
        out.append(s);
        return true;
    }
    bool fail(const char* why) {
        if (error.empty()) error = why;
        return false;
    }
};

class Reader {
public:
    Reader(std::string_view in, std::vector<UniqueFd>& fds) : in_(in), fds_(fds), used_(fds.size(), false) {}
    std::string error;

    bool header(bool& hasReply) {
        if (in_.size() < 4 || in_[0] != kMagic0 || in_[1] != kMagic1) return fail("bad magic");
        if (static_cast<std::uint8_t>(in_[2]) != kVersion) return fail("unsupported version");
        auto flags = static_cast<std::uint8_t>(in_[3]);
        if (flags & ~kFlagReply) return fail("unknown flags");
        pos_ = 4;
        hasReply = flags & kFlagReply;
        return true;
    }

    bool fd(UniqueFd& out) {
        std::uint32_t index;
        if (!u32(index)) return false;
        if (index >= fds_.size()) return fail("channel index out of range");
        if (used_[index]) return fail("channel used twice");
        used_[index] = true;
        out = std::move(fds_[index]);
        return true;
    }

    bool dictionary(HelperDictionary& out, int depth) {
        std::uint8_t t = 0;
        if (!byte(t)) return false;
        if (t != TagDict) return fail("dictionary expected");
        return dictionaryBody(out, depth);
    }

    bool atEnd() const { return pos_ == in_.size(); }
    bool allFdsUsed() const {
        for (bool u : used_)
            if (!u) return false;
        return true;
    }

private:
    bool dictionaryBody(HelperDictionary& out, int depth) {
        if (depth > kHelperMessageMaxDepth) return fail("nested too deeply");
        std::uint32_t count;
        if (!u32(count)) return false;
        // Each entry takes at least 4 (key length) + 1 (tag) bytes.
        if (count > remaining() / 5) return fail("count exceeds message");
        for (std::uint32_t n = 0; n < count; ++n) {
            std::string key;
            if (!string(key)) return false;
            HelperValue v;
            if (!value(v, depth + 1)) return false;
            if (!out.emplace(std::move(key), std::move(v)).second) return fail("duplicate key");
        }
        return true;
    }

    bool value(HelperValue& out, int depth) {
        if (depth > kHelperMessageMaxDepth) return fail("nested too deeply");
        std::uint8_t t = 0;
        if (!byte(t)) return false;
        switch (t) {
        case TagString: {
            std::string s;
            if (!string(s)) return false;
            out = HelperValue(std::move(s));
            return true;
        }
        case TagInt: {
            if (remaining() < 8) return fail("truncated integer");
            std::uint64_t u = 0;
            for (int k = 0; k < 8; ++k) u |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(in_[pos_ + k])) << (8 * k);
            pos_ += 8;
            out = HelperValue(static_cast<std::int64_t>(u));
            return true;
        }
        case TagTrue: out = HelperValue(true); return true;
        case TagFalse: out = HelperValue(false); return true;
        case TagData: {
            std::string_view s;
            if (!raw(s)) return false;
            out = HelperValue(HelperData(s.begin(), s.end()));
            return true;
        }
        case TagArray: {
            std::uint32_t count;
            if (!u32(count)) return false;
            if (count > remaining()) return fail("count exceeds message");
            HelperArray a;
            a.reserve(count);
            for (std::uint32_t n = 0; n < count; ++n) {
                HelperValue e;
                if (!value(e, depth + 1)) return false;
                a.push_back(std::move(e));
            }
            out = HelperValue(std::move(a));
            return true;
        }
        case TagDict: {
            HelperDictionary d;
            if (!dictionaryBody(d, depth)) return false;
            out = HelperValue(std::move(d));
            return true;
        }
        case TagChannel: {
            UniqueFd f;
            if (!fd(f)) return false;
            out = HelperValue(std::make_shared<UniqueFd>(std::move(f)));
            return true;
        }
        default:
            return fail("unknown tag");
        }
    }

    bool string(std::string& out) {
        std::string_view s;
        if (!raw(s)) return false;
        if (!validUtf8(s)) return fail("string is not valid UTF-8 or holds NUL");
        out.assign(s);
        return true;
    }
    bool raw(std::string_view& out) {
        std::uint32_t n;
        if (!u32(n)) return false;
        if (n > remaining()) return fail("length exceeds message");
        out = in_.substr(pos_, n);
        pos_ += n;
        return true;
    }
    bool u32(std::uint32_t& out) {
        if (remaining() < 4) return fail("truncated length");
        out = 0;
        for (int k = 0; k < 4; ++k) out |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(in_[pos_ + k])) << (8 * k);
        pos_ += 4;
        return true;
    }
    bool byte(std::uint8_t& out) {
        if (remaining() < 1) return fail("truncated value");
        out = static_cast<std::uint8_t>(in_[pos_++]);
        return true;
    }
    std::size_t remaining() const { return in_.size() - pos_; }
    bool fail(const char* why) {
        if (error.empty()) error = why;
        return false;
    }

    std::string_view in_;
    std::size_t pos_ = 0;
    std::vector<UniqueFd>& fds_;
    std::vector<bool> used_;
};

}  // namespace

std::optional<HelperFrame> encodeHelperMessage(const HelperMessage& message, int replyFd, std::string* error) {
    Writer w;
    w.out = {kMagic0, kMagic1, static_cast<char>(kVersion), static_cast<char>(replyFd >= 0 ? kFlagReply : 0)};
    if (replyFd >= 0) {
        w.u32(0);
        w.fds.push_back(replyFd);
    }
    if (!w.dictionary(message, 0) || w.out.size() > kHelperMessageMaxBytes) {
        if (error) *error = w.error.empty() ? "message too large" : w.error;
        return std::nullopt;
    }
    return HelperFrame{std::move(w.out), std::move(w.fds)};
}

std::optional<HelperEnvelope> decodeHelperMessage(std::string_view bytes, std::vector<UniqueFd> fds,
                                                  std::string* error) {
    auto failWith = [&](const std::string& why) -> std::optional<HelperEnvelope> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (bytes.size() > kHelperMessageMaxBytes) return failWith("message too large");
    if (fds.size() > kHelperMessageMaxChannels + 1) return failWith("too many channels");
    Reader r(bytes, fds);
    HelperEnvelope env;
    bool hasReply = false;
    if (!r.header(hasReply)) return failWith(r.error);
    if (hasReply && !r.fd(env.replyChannel)) return failWith(r.error);
    if (!r.dictionary(env.message, 0)) return failWith(r.error);
    if (!r.atEnd()) return failWith("trailing bytes");
    if (!r.allFdsUsed()) return failWith("unreferenced channel");
    return env;
}

}  // namespace hw
