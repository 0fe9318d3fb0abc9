#include "helper/ike/vici_message.h"

namespace hw::ike {

namespace {

enum Element : std::uint8_t {
    SectionStart = 1,
    SectionEnd = 2,
    KeyValue = 3,
    ListStart = 4,
    ListItem = 5,
    ListEnd = 6,
};

class Writer {
public:
    bool name(std::string_view n) {
        if (n.empty() || n.size() > 0xff) return false;
        out_.push_back(static_cast<char>(n.size()));
        out_.append(n);
        return true;
    }
    bool value(std::string_view v) {
        if (v.size() > 0xffff) return false;
        out_.push_back(static_cast<char>((v.size() >> 8) & 0xff));
        out_.push_back(static_cast<char>(v.size() & 0xff));
        out_.append(v);
        return true;
    }
    void byte(std::uint8_t b) { out_.push_back(static_cast<char>(b)); }
    bool section(const ViciSection& s, int depth) {
        if (depth > kViciMaxDepth) return false;
        for (const auto& e : s.entries()) {
            switch (e.kind) {
            case ViciSection::Kind::Value:
                byte(KeyValue);
                if (!name(e.key) || !value(e.value)) return false;
                break;
            case ViciSection::Kind::List:
                byte(ListStart);
                if (!name(e.key)) return false;
                for (const auto& item : e.list) {
                    byte(ListItem);
                    if (!value(item)) return false;
                }
                byte(ListEnd);
                break;
            case ViciSection::Kind::Section:
                byte(SectionStart);
                if (!name(e.key) || !section(*e.section, depth + 1)) return false;
                byte(SectionEnd);
                break;
            }
            if (out_.size() > kViciMaxPacket + 4) return false;
        }
        return true;
    }
    std::string& out() { return out_; }

private:
    std::string out_;
};

class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool atEnd() const { return pos_ == in_.size(); }
    std::optional<std::uint8_t> byte() {
        if (pos_ >= in_.size()) return std::nullopt;
        return static_cast<std::uint8_t>(in_[pos_++]);
    }
    std::optional<std::string> name() {
        auto len = byte();
        if (!len || *len == 0) return std::nullopt;
        return take(*len);
    }
    std::optional<std::string> value() {
        auto hi = byte();
        auto lo = byte();
        if (!hi || !lo) return std::nullopt;
        return take((static_cast<std::size_t>(*hi) << 8) | *lo);
    }
    // Reads elements into s until the matching section end (or the end of
    // input at the top level).
    bool section(ViciSection& s, int depth) {
        if (depth > kViciMaxDepth) return false;
        while (!atEnd()) {
            auto type = byte();
            switch (*type) {
            case KeyValue: {
                auto key = name();
                if (!key) return false;
                auto v = value();
                if (!v) return false;
                s.set(std::move(*key), std::move(*v));
                break;
            }
            case ListStart: {
                auto key = name();
                if (!key) return false;
                std::vector<std::string> items;
                for (;;) {
                    auto t = byte();
                    if (!t) return false;
                    if (*t == ListEnd) break;
                    if (*t != ListItem) return false;
                    auto v = value();
                    if (!v) return false;
                    items.push_back(std::move(*v));
                }
                s.setList(std::move(*key), std::move(items));
                break;
            }
            case SectionStart: {
                auto key = name();
                if (!key) return false;
                auto& child = s.addSection(std::move(*key));
                if (!section(child, depth + 1)) return false;
                if (!closed_) return false;
                closed_ = false;
                break;
            }
            case SectionEnd:
                if (depth == 0) return false;
                closed_ = true;
                return true;
            default:
                return false;
            }
        }
        return depth == 0;
    }

private:
    std::optional<std::string> take(std::size_t n) {
        if (in_.size() - pos_ < n) return std::nullopt;
        std::string s(in_.substr(pos_, n));
        pos_ += n;
        return s;
    }
    std::string_view in_;
    std::size_t pos_ = 0;
    bool closed_ = false;
};

}  // namespace

ViciSection::ViciSection(const ViciSection& other) { *this = other; }

ViciSection& ViciSection::operator=(const ViciSection& other) {
    if (this == &other) return *this;
    std::vector<Entry> copy;
    copy.reserve(other.entries_.size());
    for (const auto& e : other.entries_) {
        Entry c;
        c.kind = e.kind;
        c.key = e.key;
        c.value = e.value;
        c.list = e.list;
        if (e.section) c.section = std::make_unique<ViciSection>(*e.section);
        copy.push_back(std::move(c));
    }
    entries_ = std::move(copy);
    return *this;
}

ViciSection& ViciSection::set(std::string key, std::string value) {
    Entry e;
    e.kind = Kind::Value;
    e.key = std::move(key);
    e.value = std::move(value);
    entries_.push_back(std::move(e));
    return *this;
}

ViciSection& ViciSection::setList(std::string key, std::vector<std::string> items) {
    Entry e;
    e.kind = Kind::List;
    e.key = std::move(key);
    e.list = std::move(items);
    entries_.push_back(std::move(e));
    return *this;
}

ViciSection& ViciSection::addSection(std::string key) {
    Entry e;
    e.kind = Kind::Section;
    e.key = std::move(key);
    e.section = std::make_unique<ViciSection>();
    entries_.push_back(std::move(e));
    return *entries_.back().section;
}

const ViciSection::Entry* ViciSection::find(std::string_view key, Kind kind) const {
    for (const auto& e : entries_) {
        if (e.kind == kind && e.key == key) return &e;
    }
    return nullptr;
}

const std::string* ViciSection::value(std::string_view key) const {
    const auto* e = find(key, Kind::Value);
    return e ? &e->value : nullptr;
}

const std::vector<std::string>* ViciSection::list(std::string_view key) const {
    const auto* e = find(key, Kind::List);
    return e ? &e->list : nullptr;
}

const ViciSection* ViciSection::section(std::string_view key) const {
    const auto* e = find(key, Kind::Section);
    return e ? e->section.get() : nullptr;
}

bool ViciSection::flag(std::string_view key) const {
    const auto* v = value(key);
    return v && (*v == "yes" || *v == "1" || *v == "true");
}

bool viciTypeIsNamed(ViciPacketType type) {
    return type == ViciPacketType::CmdRequest || type == ViciPacketType::EventRegister ||
           type == ViciPacketType::EventUnregister || type == ViciPacketType::Event;
}

bool viciTypeHasBody(ViciPacketType type) {
    return type == ViciPacketType::CmdRequest || type == ViciPacketType::CmdResponse ||
           type == ViciPacketType::Event;
}

std::optional<std::string> encodeViciPacket(const ViciPacket& packet) {
    Writer w;
    w.out().append(4, '\0');
    w.byte(static_cast<std::uint8_t>(packet.type));
    if (viciTypeIsNamed(packet.type)) {
        if (!w.name(packet.name)) return std::nullopt;
    } else if (!packet.name.empty()) {
        return std::nullopt;
    }
    if (viciTypeHasBody(packet.type)) {
        if (!w.section(packet.body, 0)) return std::nullopt;
    } else if (!packet.body.empty()) {
        return std::nullopt;
    }
    auto& out = w.out();
    const std::size_t len = out.size() - 4;
    if (len > kViciMaxPacket) return std::nullopt;
    out[0] = static_cast<char>((len >> 24) & 0xff);
    out[1] = static_cast<char>((len >> 16) & 0xff);
    out[2] = static_cast<char>((len >> 8) & 0xff);
    out[3] = static_cast<char>(len & 0xff);
    return std::move(out);
}

std::optional<ViciPacket> decodeViciPacket(std::string_view payload) {
    if (payload.empty() || payload.size() > kViciMaxPacket) return std::nullopt;
    Reader r(payload);
    const auto type = *r.byte();
    if (type > static_cast<std::uint8_t>(ViciPacketType::Event)) return std::nullopt;
    ViciPacket p;
    p.type = static_cast<ViciPacketType>(type);
    if (viciTypeIsNamed(p.type)) {
        auto n = r.name();
        if (!n) return std::nullopt;
        p.name = std::move(*n);
    }
    if (viciTypeHasBody(p.type)) {
        if (!r.section(p.body, 0)) return std::nullopt;
    }
    if (!r.atEnd()) return std::nullopt;
    return p;
}

bool ViciFrameReader::feed(std::string_view bytes) {
    if (broken_) return false;
    if (offset_ > 0 && offset_ == buffer_.size()) {
        buffer_.clear();
        offset_ = 0;
    }
    buffer_.append(bytes);
    if (buffer_.size() - offset_ >= 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(buffer_.data() + offset_);
        const std::size_t len = (std::size_t{b[0]} << 24) | (std::size_t{b[1]} << 16) | (std::size_t{b[2]} << 8) | b[3];
        if (len == 0 || len > kViciMaxPacket) broken_ = true;
    }
    return !broken_;
}

std::optional<std::string> ViciFrameReader::next() {
    if (broken_ || buffer_.size() - offset_ < 4) return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(buffer_.data() + offset_);
    const std::size_t len = (std::size_t{b[0]} << 24) | (std::size_t{b[1]} << 16) | (std::size_t{b[2]} << 8) | b[3];
    if (len == 0 || len > kViciMaxPacket) {
        broken_ = true;
        return std::nullopt;
    }
    if (buffer_.size() - offset_ - 4 < len) return std::nullopt;
    std::string payload = buffer_.substr(offset_ + 4, len);
    offset_ += 4 + len;
    if (offset_ > 64 * 1024 && offset_ * 2 > buffer_.size()) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    // The next header may already be here; check it so a lying length
    // is caught without waiting for more bytes.
    if (buffer_.size() - offset_ >= 4) {
        const auto* h = reinterpret_cast<const unsigned char*>(buffer_.data() + offset_);
        const std::size_t n = (std::size_t{h[0]} << 24) | (std::size_t{h[1]} << 16) | (std::size_t{h[2]} << 8) | h[3];
        if (n == 0 || n > kViciMaxPacket) broken_ = true;
    }
    return payload;
}

}  // namespace hw::ike
