#include "texts/locale_data.h"

#include <cstddef>
#include <initializer_list>
#include <unordered_map>
#include <vector>

#include "core/global_constants.h"
#include "platform/log.h"

namespace hw {
namespace {

enum class TextId : std::size_t {
#define HW_TEXT(key, ...) key,
#include "texts/locale_texts.inc"
#undef HW_TEXT
};

constexpr std::string_view kKeys[] = {
#define HW_TEXT(key, ...) #key,
#include "texts/locale_texts.inc"
#undef HW_TEXT
};

struct Piece {
    enum class Kind { Literal, ProductName, SupportEmail, Text };
    constexpr Piece(const char* text) : kind(Kind::Literal), literal(text) {}  // NOLINT: table syntax
    constexpr explicit Piece(Kind k, TextId text = {}) : kind(k), ref(text) {}
    Kind kind;
    std::string_view literal;
    TextId ref{};
};

constexpr Piece PRODUCT_NAME{Piece::Kind::ProductName};
constexpr Piece SUPPORT_EMAIL{Piece::Kind::SupportEmail};
#define TEXT_OF(key) Piece(Piece::Kind::Text, TextId::key)

// A text may only refer to an entry above it, which is then already built.
constexpr bool refersOnlyUpwards(TextId self, std::initializer_list<Piece> pieces) {
    for (const Piece& p : pieces) {
        if (p.kind == Piece::Kind::Text && p.ref >= self) return false;
    }
    return true;
}
#define HW_TEXT(key, ...) \
    static_assert(refersOnlyUpwards(TextId::key, {__VA_ARGS__}), "TEXT_OF in " #key " must name an entry above it");
#include "texts/locale_texts.inc"
#undef HW_TEXT

std::string compose(const std::vector<std::string>& built, std::initializer_list<Piece> pieces) {
    std::string out;
    for (const Piece& p : pieces) {
        switch (p.kind) {
            case Piece::Kind::Literal: out += p.literal; break;
            case Piece::Kind::ProductName: out += GlobalConstants::bundleName; break;
            case Piece::Kind::SupportEmail: out += GlobalConstants::supportEmail(); break;
            case Piece::Kind::Text: out += built[static_cast<std::size_t>(p.ref)]; break;
        }
    }
    return out;
}

const std::vector<std::string>& table() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> built;
        built.reserve(std::size(kKeys));
#define HW_TEXT(key, ...) built.push_back(compose(built, {__VA_ARGS__}));
#include "texts/locale_texts.inc"
#undef HW_TEXT
        return built;
    }();
    return texts;
}

const std::string& textAt(TextId id) { return table()[static_cast<std::size_t>(id)]; }

}  // namespace

std::optional<std::string> LocaleData::text(std::string_view key) {
    static const std::unordered_map<std::string_view, std::size_t> index = [] {
        std::unordered_map<std::string_view, std::size_t> m;
        for (std::size_t i = 0; i < std::size(kKeys); ++i) m.emplace(kKeys[i], i);
        return m;
    }();
    if (auto it = index.find(key); it != index.end()) return table()[it->second];
    constexpr std::size_t kShown = 80;
    std::string shown(key.substr(0, kShown));
    if (key.size() > kShown) shown += "...";
    log::warning("LocaleData", "no text for key '" + shown + "'");
    return std::nullopt;
}

std::string LocaleData::fill(std::string_view format, std::string_view value) {
    constexpr std::string_view kMarker = "%@";
    std::string out;
    out.reserve(format.size() + value.size());
    std::size_t from = 0;
    for (auto at = format.find(kMarker); at != std::string_view::npos; at = format.find(kMarker, from)) {
        out.append(format.substr(from, at - from));
        out.append(value);
        from = at + kMarker.size();
    }
    out.append(format.substr(from));
    return out;
}

std::span<const std::string_view> LocaleData::keys() { return kKeys; }

#define HW_TEXT(key, ...) \
    const std::string& LocaleData::key() { return textAt(TextId::key); }
#include "texts/locale_texts.inc"
#undef HW_TEXT

}  // namespace hw
