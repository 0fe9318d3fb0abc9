#include "json/json_object.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <utility>

namespace hw {

namespace json_detail {

// Empty strings, lists and maps have no node: a null pointer stands for them.
struct StringNode {
  std::atomic<std::uint32_t> refs{1};
  std::size_t size = 0;
  char* data() noexcept { return reinterpret_cast<char*>(this + 1); }
};

struct ContainerNode {
  std::atomic<std::uint32_t> refs{1};
  bool isArray = true;
  std::size_t size = 0;
  ContainerNode* next = nullptr;  // worklist link while a tree is released
  JSONObject* items() noexcept { return reinterpret_cast<JSONObject*>(this + 1); }
  Member* members() noexcept { return reinterpret_cast<Member*>(this + 1); }
};

static_assert(sizeof(JSONObject) == 16);
static_assert(sizeof(ContainerNode) % alignof(JSONObject) == 0);
static_assert(sizeof(ContainerNode) % alignof(Member) == 0);

namespace {

StringNode* newString(std::string_view text) {
  if (text.empty()) return nullptr;
  void* memory = ::operator new(sizeof(StringNode) + text.size());
  auto* node = new (memory) StringNode();
  node->size = text.size();
  std::memcpy(node->data(), text.data(), text.size());
  return node;
}

ContainerNode* newContainer(bool isArray, std::size_t count) {
  const std::size_t element = isArray ? sizeof(JSONObject) : sizeof(Member);
  void* memory = ::operator new(sizeof(ContainerNode) + element * count);
  auto* node = new (memory) ContainerNode();
  node->isArray = isArray;
  node->size = 0;  // raised as elements are constructed, so a throw frees exactly those
  return node;
}

}  // namespace

std::size_t sortAndDeduplicate(Member* first, std::size_t count) {
  Member* last = first + count;
  const auto byKey = [](const Member& a, const Member& b) { return a.key < b.key; };
  if (std::adjacent_find(first, last, [](const Member& a, const Member& b) { return !(a.key < b.key); }) == last)
    return count;  // already strictly ascending
  if (count <= 32) {
    // Stable and allocation-free for the small maps replies are made of.
    for (std::size_t i = 1; i < count; ++i) {
      if (!byKey(first[i], first[i - 1])) continue;
      Member moving = std::move(first[i]);
      std::size_t j = i;
      for (; j > 0 && byKey(moving, first[j - 1]); --j) first[j] = std::move(first[j - 1]);
      first[j] = std::move(moving);
    }
  } else {
    std::stable_sort(first, last, byKey);
  }
  // Keep the last of each run of equal keys: later members replace earlier ones.
  std::size_t out = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (i + 1 < count && first[i + 1].key == first[i].key) continue;
    if (out != i) first[out] = std::move(first[i]);
    ++out;
  }
  return out;
}

}  // namespace json_detail

using json_detail::ContainerNode;
using json_detail::Member;
using json_detail::StringNode;

JSONObject::JSONObject(std::string_view text) : JSONObject() {
  kind_ = Kind::string;
  if (!text.empty() && text.size() <= sizeof p_.chars) {
    std::memcpy(p_.chars, text.data(), text.size());
    aux_ = static_cast<std::uint8_t>(text.size());
  } else {
    p_.string = json_detail::newString(text);
  }
}

JSONObject JSONObject::bytes(std::string_view data) {
  JSONObject o;
  o.kind_ = Kind::bytes;
  o.p_.string = json_detail::newString(data);
  return o;
}

JSONObject JSONObject::unsupported() noexcept {
  JSONObject o;
  o.kind_ = Kind::unsupported;
  return o;
}

JSONObject::JSONObject(const Array& items) : JSONObject() {
  std::vector<JSONObject> copy(items);
  *this = adoptArray(std::move(copy));
}

JSONObject::JSONObject(const Dictionary& members) : JSONObject() {
  JSONObject o;
  o.kind_ = Kind::dictionary;
  o.p_.container = nullptr;
  if (!members.empty()) {
    ContainerNode* node = json_detail::newContainer(false, members.size());
    o.p_.container = node;
    for (const auto& [key, value] : members) {
      new (node->members() + node->size) Member{key, value};
      ++node->size;
    }
  }
  *this = std::move(o);
}

JSONObject::JSONObject(JSONNumber n) noexcept : JSONObject() {
  kind_ = Kind::number;
  aux_ = static_cast<std::uint8_t>(n.kind());
  switch (n.kind()) {
    case JSONNumber::Kind::boolean:
    case JSONNumber::Kind::integer: p_.i = n.rawInteger(); break;
    case JSONNumber::Kind::unsignedInteger: p_.u = n.rawUnsigned(); break;
    case JSONNumber::Kind::real: p_.d = n.rawDouble(); break;
  }
}

JSONObject JSONObject::adoptArray(std::vector<JSONObject>&& items) { return adoptArray(items.data(), items.size()); }

JSONObject JSONObject::adoptArray(JSONObject* first, std::size_t count) {
  JSONObject o;
  o.kind_ = Kind::array;
  o.p_.container = nullptr;
  if (count == 0) return o;
  ContainerNode* node = json_detail::newContainer(true, count);
  o.p_.container = node;
  for (std::size_t i = 0; i < count; ++i) {
    new (node->items() + i) JSONObject(std::move(first[i]));
    ++node->size;
  }
  return o;
}

JSONObject JSONObject::adoptSortedMembers(Member* first, std::size_t count) {
  JSONObject o;
  o.kind_ = Kind::dictionary;
  o.p_.container = nullptr;
  if (count == 0) return o;
  ContainerNode* node = json_detail::newContainer(false, count);
  o.p_.container = node;
  for (std::size_t i = 0; i < count; ++i) {
    new (node->members() + i) Member(std::move(first[i]));
    ++node->size;
  }
  return o;
}

JSONObject JSONObject::withMember(std::string_view key, JSONObject value) const {
  auto current = members();
  auto at = std::lower_bound(current.begin(), current.end(), key,
                             [](const Member& m, std::string_view k) { return std::string_view(m.key) < k; });
  const bool replace = at != current.end() && at->key == key;
  const std::size_t count = current.size() + (replace ? 0 : 1);
  JSONObject o;
  o.kind_ = Kind::dictionary;
  ContainerNode* node = json_detail::newContainer(false, count);
  o.p_.container = node;
  auto put = [&](std::string_view k, const JSONObject& v) {
    new (node->members() + node->size) Member{std::string(k), v};
    ++node->size;
  };
  for (auto it = current.begin(); it != at; ++it) put(it->key, it->value);
  put(key, value);
  for (auto it = replace ? at + 1 : at; it != current.end(); ++it) put(it->key, it->value);
  return o;
}

JSONObject JSONObject::withItem(std::size_t index, JSONObject value) const {
  std::vector<JSONObject> copy(items().begin(), items().end());
  if (index < copy.size()) copy[index] = std::move(value);
  return adoptArray(std::move(copy));
}

JSONObject::JSONObject(const JSONObject& other) noexcept : aux_(other.aux_), kind_(other.kind_), p_(other.p_) { retain(); }

JSONObject::JSONObject(JSONObject&& other) noexcept : aux_(other.aux_), kind_(other.kind_), p_(other.p_) {
  other.kind_ = Kind::absent;
}

JSONObject& JSONObject::operator=(const JSONObject& other) noexcept {
  if (this != &other) {
    other.retain();
    release();
    kind_ = other.kind_;
    aux_ = other.aux_;
    p_ = other.p_;
  }
  return *this;
}

JSONObject& JSONObject::operator=(JSONObject&& other) noexcept {
  if (this != &other) {
    release();
    kind_ = other.kind_;
    aux_ = other.aux_;
    p_ = other.p_;
    other.kind_ = Kind::absent;
  }
  return *this;
}

JSONObject::~JSONObject() { release(); }

void JSONObject::retain() const noexcept {
  switch (kind_) {
    case Kind::string:
    case Kind::bytes:
      if (aux_ == 0 && p_.string) p_.string->refs.fetch_add(1, std::memory_order_relaxed);
      break;
    case Kind::array:
    case Kind::dictionary:
      if (p_.container) p_.container->refs.fetch_add(1, std::memory_order_relaxed);
      break;
    default: break;
  }
}

void JSONObject::release() noexcept {
  switch (kind_) {
    case Kind::string:
    case Kind::bytes:
      if (aux_ == 0 && p_.string && p_.string->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        p_.string->~StringNode();
        ::operator delete(p_.string);
      }
      break;
    case Kind::array:
    case Kind::dictionary:
      if (p_.container && p_.container->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) destroyContainers(p_.container);
      break;
    default: break;
  }
  kind_ = Kind::absent;
  aux_ = 0;
}

// Walks a dying tree through a worklist threaded in the nodes themselves, so
// neither depth nor size can exhaust the stack, and nothing is allocated.
void JSONObject::destroyContainers(ContainerNode* root) noexcept {
  root->next = nullptr;
  ContainerNode* pending = root;
  while (pending) {
    ContainerNode* node = pending;
    pending = node->next;
    auto drop = [&pending](JSONObject& child) {
      if (child.isContainer()) {
        if (child.p_.container && child.p_.container->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
          child.p_.container->next = pending;
          pending = child.p_.container;
        }
        child.kind_ = Kind::absent;
      } else {
        child.release();
      }
    };
    if (node->isArray) {
      for (std::size_t i = 0; i < node->size; ++i) drop(node->items()[i]);
    } else {
      for (std::size_t i = 0; i < node->size; ++i) {
        Member& m = node->members()[i];
        drop(m.value);
        m.~Member();
      }
    }
    node->~ContainerNode();
    ::operator delete(node);
  }
}

std::optional<JSONNumber> JSONObject::number() const noexcept {
  if (kind_ != Kind::number) return std::nullopt;
  switch (static_cast<JSONNumber::Kind>(aux_)) {
    case JSONNumber::Kind::boolean: return JSONNumber::fromBool(p_.i != 0);
    case JSONNumber::Kind::integer: return JSONNumber::fromInteger(p_.i);
    case JSONNumber::Kind::unsignedInteger: return JSONNumber::fromUnsigned(p_.u);
    case JSONNumber::Kind::real: return JSONNumber::fromDouble(p_.d);
  }
  return std::nullopt;
}

std::string_view JSONObject::stringView() const noexcept {
  if (kind_ != Kind::string && kind_ != Kind::bytes) return {};
  if (aux_ != 0) return {p_.chars, aux_};
  if (!p_.string) return {};
  return {p_.string->data(), p_.string->size};
}

std::span<const JSONObject> JSONObject::items() const noexcept {
  if (kind_ != Kind::array || !p_.container) return {};
  return {p_.container->items(), p_.container->size};
}

std::span<const Member> JSONObject::members() const noexcept {
  if (kind_ != Kind::dictionary || !p_.container) return {};
  return {p_.container->members(), p_.container->size};
}

const JSONObject* JSONObject::find(std::string_view key) const noexcept {
  auto all = members();
  auto at = std::lower_bound(all.begin(), all.end(), key,
                             [](const Member& m, std::string_view k) { return std::string_view(m.key) < k; });
  if (at == all.end() || at->key != key) return nullptr;
  return &at->value;
}

JSONObject::Array JSONObject::arrayCopy() const {
  auto all = items();
  return Array(all.begin(), all.end());
}

JSONObject::Dictionary JSONObject::dictionaryCopy() const {
  Dictionary out;
  for (const Member& m : members()) out.emplace_hint(out.end(), m.key, m.value);
  return out;
}

bool JSONObject::sharesNodeWith(const JSONObject& other) const noexcept {
  if (kind_ != other.kind_) return false;
  if (kind_ == Kind::string || kind_ == Kind::bytes) return aux_ == 0 && other.aux_ == 0 && p_.string == other.p_.string;
  if (isContainer()) return p_.container == other.p_.container;
  return false;
}

}  // namespace hw
