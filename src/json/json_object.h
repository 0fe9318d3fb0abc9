#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/json_number.h"

namespace hw {

class JSONObject;

namespace json_detail {
struct StringNode;
struct ContainerNode;
struct Member;
}  // namespace json_detail

// A raw object: what a parser produces (number, string, null marker, list,
// map with string keys), plus the inputs a JSON value also accepts (absent,
// raw bytes to be parsed on read, an unsupported object).
//
// Sixteen bytes; strings, lists and maps are immutable shared nodes, so a
// copy is a reference count and never a deep copy. Releasing a tree never
// recurses, whatever its depth.
class JSONObject {
 public:
  enum class Kind : std::uint8_t {
    absent,
    null,
    number,
    string,
    bytes,
    array,
    dictionary,
    unsupported,
  };
  using Array = std::vector<JSONObject>;
  using Dictionary = std::map<std::string, JSONObject, std::less<>>;

  JSONObject() noexcept : aux_(0), kind_(Kind::absent), p_{.i = 0} {}
  JSONObject(std::nullptr_t) noexcept : JSONObject() { kind_ = Kind::null; }
  JSONObject(JSONNumber n) noexcept;
  template <std::same_as<bool> B>
  JSONObject(B b) noexcept : JSONObject(JSONNumber::fromBool(b)) {}
  template <std::signed_integral I>
    requires(!std::same_as<I, bool>)
  JSONObject(I i) noexcept : JSONObject(JSONNumber::fromInteger(i)) {}
  template <std::unsigned_integral U>
    requires(!std::same_as<U, bool>)
  JSONObject(U u) noexcept : JSONObject(JSONNumber::fromUnsigned(u)) {}
  template <std::floating_point F>
  JSONObject(F f) noexcept : JSONObject(JSONNumber::fromDouble(static_cast<double>(f))) {}
  JSONObject(std::string_view text);
  JSONObject(const std::string& text) : JSONObject(std::string_view(text)) {}
  JSONObject(const char* text) : JSONObject(std::string_view(text)) {}
  JSONObject(const Array& items);
  JSONObject(const Dictionary& members);

  static JSONObject null() noexcept { return JSONObject(nullptr); }
  static JSONObject absent() noexcept { return JSONObject(); }
  // Bytes that a JSON value parses when it wraps this object.
  static JSONObject bytes(std::string_view data);
  // An object of no kind a JSON value supports (a date, say).
  static JSONObject unsupported() noexcept;

  JSONObject(const JSONObject& other) noexcept;
  JSONObject(JSONObject&& other) noexcept;
  JSONObject& operator=(const JSONObject& other) noexcept;
  JSONObject& operator=(JSONObject&& other) noexcept;
  ~JSONObject();

  Kind kind() const noexcept { return kind_; }
  bool isContainer() const noexcept { return kind_ == Kind::array || kind_ == Kind::dictionary; }

  // Readers; each answers empty for another kind.
  std::optional<JSONNumber> number() const noexcept;
  std::string_view stringView() const noexcept;  // string and bytes
  std::span<const JSONObject> items() const noexcept;
  std::span<const json_detail::Member> members() const noexcept;
  const JSONObject* find(std::string_view key) const noexcept;
  Array arrayCopy() const;
  Dictionary dictionaryCopy() const;

  // Builders used by the parser and the setters. Members must be sorted by
  // key with no duplicates.
  static JSONObject adoptArray(std::vector<JSONObject>&& items);
  static JSONObject adoptArray(JSONObject* first, std::size_t count);
  static JSONObject adoptSortedMembers(json_detail::Member* first, std::size_t count);
  // Copy of a map with one member added or replaced; of a list with one element replaced.
  JSONObject withMember(std::string_view key, JSONObject value) const;
  JSONObject withItem(std::size_t index, JSONObject value) const;

  // Same node (cheap identity test before a deep comparison).
  bool sharesNodeWith(const JSONObject& other) const noexcept;

 private:
  void release() noexcept;
  void retain() const noexcept;
  static void destroyContainers(json_detail::ContainerNode* root) noexcept;

  union Payload {
    char chars[8];  // a short string, held inline
    std::int64_t i;
    std::uint64_t u;
    double d;
    json_detail::StringNode* string;
    json_detail::ContainerNode* container;
  };

  // Numbers: the JSONNumber kind. Strings: the length when held inline in
  // the payload (1 to 8), else 0 and the payload points at a shared node.
  std::uint8_t aux_;
  Kind kind_;
  Payload p_;
};

namespace json_detail {
struct Member {
  std::string key;
  JSONObject value;
};
// Sorts by key; a later duplicate replaces an earlier one. Returns the new count.
std::size_t sortAndDeduplicate(Member* first, std::size_t count);
}  // namespace json_detail

}  // namespace hw
