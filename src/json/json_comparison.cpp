// Comparison of values. Strings compare by Unicode canonical equivalence
// (NFC through ICU); deep equality walks an explicit stack, so no nesting
// depth can exhaust the call stack.
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <vector>

#include "json/json.h"

namespace hw {

namespace {

bool isASCII(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// NFC form as UTF-16; invalid UTF-8 sequences become U+FFFD.
std::u16string normalized(std::string_view s) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8WithSub(nullptr, 0, &length, s.data(), static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &status);
  status = U_ZERO_ERROR;
  std::u16string utf16(static_cast<std::size_t>(length), u'\0');
  u_strFromUTF8WithSub(utf16.data(), length, &length, s.data(), static_cast<int32_t>(s.size()), 0xFFFD, nullptr,
                       &status);
  if (U_FAILURE(status)) return utf16;
  const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
  if (U_FAILURE(status)) return utf16;
  if (unorm2_isNormalized(nfc, utf16.data(), length, &status) && U_SUCCESS(status)) return utf16;
  status = U_ZERO_ERROR;
  const int32_t needed = unorm2_normalize(nfc, utf16.data(), length, nullptr, 0, &status);
  status = U_ZERO_ERROR;
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  unorm2_normalize(nfc, utf16.data(), length, out.data(), needed, &status);
  return U_SUCCESS(status) ? out : utf16;
}

bool fitsICU(std::string_view a, std::string_view b) {
  constexpr std::size_t limit = 0x3FFFFFFF;  // int32 lengths, with room for UTF-16 growth
  return a.size() < limit && b.size() < limit;
}

bool deepEqual(const JSONObject& a, const JSONObject& b) {
  std::vector<std::pair<const JSONObject*, const JSONObject*>> pending{{&a, &b}};
  auto nullish = [](JSONObject::Kind k) { return k == JSONObject::Kind::null || k == JSONObject::Kind::absent; };
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (nullish(x->kind()) && nullish(y->kind())) continue;
    if (x->kind() != y->kind()) return false;
    if (x->sharesNodeWith(*y)) continue;
    switch (x->kind()) {
      case JSONObject::Kind::number:
        if (!(*x->number() == *y->number())) return false;
        break;
      case JSONObject::Kind::string:
        if (!jsonStringsEqual(x->stringView(), y->stringView())) return false;
        break;
      case JSONObject::Kind::bytes:
        if (x->stringView() != y->stringView()) return false;
        break;
      case JSONObject::Kind::array: {
        const auto xs = x->items(), ys = y->items();
        if (xs.size() != ys.size()) return false;
        for (std::size_t i = 0; i < xs.size(); ++i) pending.push_back({&xs[i], &ys[i]});
        break;
      }
      case JSONObject::Kind::dictionary: {
        const auto xs = x->members(), ys = y->members();
        if (xs.size() != ys.size()) return false;
        for (std::size_t i = 0; i < xs.size(); ++i) {
          if (xs[i].key != ys[i].key) return false;
          pending.push_back({&xs[i].value, &ys[i].value});
        }
        break;
      }
      default: return false;  // unsupported objects equal nothing
    }
  }
  return true;
}

}  // namespace

bool jsonStringsEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  if ((isASCII(a) && isASCII(b)) || !fitsICU(a, b)) return false;
  return normalized(a) == normalized(b);
}

int jsonStringsCompare(std::string_view a, std::string_view b) {
  if (a == b) return 0;
  if ((isASCII(a) && isASCII(b)) || !fitsICU(a, b)) return a < b ? -1 : 1;
  const std::u16string x = normalized(a), y = normalized(b);
  const int32_t r = u_strCompare(x.data(), static_cast<int32_t>(x.size()), y.data(), static_cast<int32_t>(y.size()), true);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool operator==(const JSON& l, const JSON& r) {
  if (l.type() != r.type()) return false;
  switch (l.type()) {
    case JSONType::number: return *l.number() == *r.number();
    case JSONType::string: return jsonStringsEqual(l.object().stringView(), r.object().stringView());
    case JSONType::bool_: return l.boolValue() == r.boolValue();
    case JSONType::array:
    case JSONType::dictionary: return deepEqual(l.object(), r.object());
    case JSONType::null: return true;
    case JSONType::unknown: return false;
  }
  return false;
}

namespace {

// Orderings of two values of one type; lists, maps and bools are never ordered
// strictly, only "<=" and ">=" hold when they are equal.
enum class Relation { less, lessOrEqual, greater, greaterOrEqual };

bool related(const JSON& l, const JSON& r, Relation rel) {
  if (l.type() != r.type()) return false;
  const bool strict = rel == Relation::less || rel == Relation::greater;
  switch (l.type()) {
    case JSONType::number: {
      const JSONNumber a = *l.number(), b = *r.number();
      switch (rel) {
        case Relation::less: return a < b;
        case Relation::lessOrEqual: return a <= b;
        case Relation::greater: return a > b;
        case Relation::greaterOrEqual: return a >= b;
      }
      return false;
    }
    case JSONType::string: {
      const int c = jsonStringsCompare(l.object().stringView(), r.object().stringView());
      switch (rel) {
        case Relation::less: return c < 0;
        case Relation::lessOrEqual: return c <= 0;
        case Relation::greater: return c > 0;
        case Relation::greaterOrEqual: return c >= 0;
      }
      return false;
    }
    case JSONType::bool_:
    case JSONType::array:
    case JSONType::dictionary:
    case JSONType::null: return !strict && l == r;
    case JSONType::unknown: return false;
  }
  return false;
}

}  // namespace

bool operator<(const JSON& l, const JSON& r) { return related(l, r, Relation::less); }
bool operator<=(const JSON& l, const JSON& r) { return related(l, r, Relation::lessOrEqual); }
bool operator>(const JSON& l, const JSON& r) { return related(l, r, Relation::greater); }
bool operator>=(const JSON& l, const JSON& r) { return related(l, r, Relation::greaterOrEqual); }

}  // namespace hw
