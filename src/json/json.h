#pragma once

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "json/json_error.h"
#include "json/json_number.h"
#include "json/json_object.h"
#include "json/json_url.h"

namespace hw {

class JSON;

// One step of a path: an index into a list or a key into a map.
class JSONKey {
 public:
  enum class Kind { index, key };
  static JSONKey index(std::int64_t i) { return JSONKey(Kind::index, i, {}); }
  static JSONKey key(std::string k) { return JSONKey(Kind::key, 0, std::move(k)); }
  Kind kind() const noexcept { return kind_; }
  std::int64_t indexValue() const noexcept { return index_; }
  const std::string& keyValue() const noexcept { return key_; }

 private:
  JSONKey(Kind kind, std::int64_t index, std::string key) : kind_(kind), index_(index), key_(std::move(key)) {}
  Kind kind_;
  std::int64_t index_;
  std::string key_;
};

// What a path step may be written as: integers are index steps, texts key steps.
class JSONSubscriptType {
 public:
  template <std::integral I>
    requires(!std::same_as<I, bool>)
  JSONSubscriptType(I i) : key_(JSONKey::index(static_cast<std::int64_t>(i))) {}
  JSONSubscriptType(std::string_view k) : key_(JSONKey::key(std::string(k))) {}
  JSONSubscriptType(const std::string& k) : key_(JSONKey::key(k)) {}
  JSONSubscriptType(const char* k) : key_(JSONKey::key(k)) {}
  const JSONKey& jsonKey() const noexcept { return key_; }

 private:
  JSONKey key_;
};

using JSONPath = std::vector<JSONSubscriptType>;

// Writing options of the serialiser: a bit set, 1 is pretty-printed.
enum class JSONWritingOptions : unsigned { none = 0, prettyPrinted = 1 };
enum class JSONEncoding { utf8, ascii };
enum class writingOptionsKeys { jsonSerialization, castNilToNSNull, maxObjextDepth, encoding };
using JSONWritingOptionValue = std::variant<JSONWritingOptions, bool, std::int64_t, JSONEncoding>;
using JSONWritingOptionsMap = std::map<writingOptionsKeys, JSONWritingOptionValue>;

// The deepest nesting the parser accepts and that rendering, merging and
// comparing will descend into.
inline constexpr int kJSONMaxNesting = 512;

// A dynamically typed JSON value. Lookups never throw: a failed one yields a
// null value carrying an error, and later steps hand that error on, so a
// chain can be written without checks and inspected once at its end.
// Copies are cheap and independent: the tree is shared and copied on write.
class JSON {
 public:
  using Type = JSONType;
  using Error = SwiftyJSONError;
  using RawArray = JSONObject::Array;
  using RawDictionary = JSONObject::Dictionary;

  // A collection position.
  class Index {
   public:
    enum class Kind { array, dictionary, null };
    static Index array(std::int64_t i) { return Index(Kind::array, i); }
    static Index dictionary(std::int64_t position) { return Index(Kind::dictionary, position); }
    static Index null() { return Index(Kind::null, 0); }
    Kind kind() const noexcept { return kind_; }
    std::int64_t position() const noexcept { return position_; }
    // Positions of different kinds are neither equal nor ordered.
    friend bool operator==(const Index& a, const Index& b) noexcept;
    friend bool operator<(const Index& a, const Index& b) noexcept;
    friend bool operator<=(const Index& a, const Index& b) noexcept { return !(b < a); }
    friend bool operator>=(const Index& a, const Index& b) noexcept { return !(a < b); }
    friend bool operator>(const Index& a, const Index& b) noexcept { return b < a; }

   private:
    Index(Kind kind, std::int64_t position) : kind_(kind), position_(position) {}
    Kind kind_;
    std::int64_t position_;
  };

  // ---- construction ----
  JSON() noexcept;  // a plain null without error
  JSON(const JSON&) = default;
  JSON(JSON&&) noexcept = default;
  JSON& operator=(const JSON&) = default;
  JSON& operator=(JSON&&) noexcept = default;
  // Any raw object; raw bytes are parsed, and bytes that fail give a plain null.
  JSON(JSONObject object);
  // Literal forms.
  JSON(std::nullptr_t) : JSON(JSONObject::null()) {}
  template <std::same_as<bool> B>
  JSON(B b) : JSON(JSONObject(b)) {}
  template <typename N>
    requires((std::integral<N> || std::floating_point<N>) && !std::same_as<N, bool>)
  JSON(N n) : JSON(JSONObject(n)) {}
  JSON(JSONNumber n) : JSON(JSONObject(n)) {}
  JSON(const char* text) : JSON(JSONObject(text)) {}
  JSON(std::string_view text) : JSON(JSONObject(text)) {}
  JSON(const std::string& text) : JSON(JSONObject(text)) {}
  // Lists and maps of values; each value is unwrapped to its object, and
  // values carrying errors are stored as their (null) objects.
  JSON(const std::vector<JSON>& items);
  JSON(const std::map<std::string, JSON>& members);
  JSON(const RawArray& items) : JSON(JSONObject(items)) {}
  JSON(const RawDictionary& members) : JSON(JSONObject(members)) {}

  static JSON arrayLiteral(std::initializer_list<JSON> items);
  // Pairs in order; a later pair replaces an earlier one with the same key.
  static JSON dictionaryLiteral(std::initializer_list<std::pair<std::string, JSON>> pairs);
  // Throws JSONParseError when the bytes are not JSON text (or nest too deep).
  static JSON fromData(std::string_view bytes);
  static JSON fromData(const std::vector<std::uint8_t>& bytes) {
    return fromData(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  // Never throw: text that is not JSON gives a plain null.
  static JSON parseJSON(std::string_view text);
  static JSON parse(std::string_view text);
  // The same object with no error: an erroneous null becomes a plain null.
  static JSON wrap(const JSON& value) { return JSON(value.object()); }
  // Empty when the object is of no supported kind.
  static std::optional<JSON> fromRawValue(JSONObject object);
  static JSON jsonNull() { return JSON(); }

  // ---- model ----
  Type type() const noexcept { return type_; }
  std::optional<Error> error() const noexcept { return error_; }
  bool exists() const noexcept { return !error_; }
  // The raw object; null and unknown read as the null marker.
  JSONObject object() const;
  // Classifies the new object and clears the error.
  void setObject(JSONObject object);
  JSONObject rawValue() const { return object(); }

  // ---- access ----
  template <std::integral I>
    requires(!std::same_as<I, bool>)
  JSON operator[](I index) const {
    return indexStep(static_cast<std::int64_t>(index));
  }
  JSON operator[](std::string_view key) const { return keyStep(key); }
  JSON operator[](const char* key) const { return keyStep(key); }
  JSON operator[](const std::string& key) const { return keyStep(key); }
  JSON operator[](const JSONPath& path) const { return at(path); }
  JSON at(const JSONPath& path) const;
  template <typename... Steps>
  JSON path(Steps&&... steps) const {
    return at(JSONPath{JSONSubscriptType(std::forward<Steps>(steps))...});
  }
  // Writes never grow a list and never create a missing container; a refused
  // write leaves the value unchanged.
  void set(const JSONSubscriptType& step, const JSON& newValue) { setAt(JSONPath{step}, newValue); }
  void setAt(const JSONPath& path, const JSON& newValue);

  // Deep merge. Throws SwiftyJSONException(wrongType) when the top-level types
  // differ, (elementTooDeep) past the nesting limit; the receiver is then unchanged.
  void merge(const JSON& other);
  JSON merged(const JSON& other) const;

  // ---- iteration: pairs of (key or decimal index, element) ----
  Index startIndex() const noexcept;
  Index endIndex() const noexcept;
  Index indexAfter(const Index& i) const noexcept;
  std::pair<std::string, JSON> operator[](const Index& position) const;
  std::size_t count() const noexcept;

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::pair<std::string, JSON>;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = value_type;
    const_iterator() = default;
    value_type operator*() const { return (*owner_)[index_]; }
    const_iterator& operator++() {
      index_ = owner_->indexAfter(index_);
      return *this;
    }
    const_iterator operator++(int) {
      auto copy = *this;
      ++*this;
      return copy;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) noexcept { return a.index_ == b.index_; }

   private:
    friend class JSON;
    const_iterator(const JSON* owner, Index index) : owner_(owner), index_(index) {}
    const JSON* owner_ = nullptr;
    Index index_ = Index::null();
  };
  const_iterator begin() const { return {this, startIndex()}; }
  const_iterator end() const { return {this, endIndex()}; }

  // ---- typed accessors: optional forms answer empty for another type,
  // value forms convert and never fail ----
  std::optional<std::vector<JSON>> array() const;
  std::vector<JSON> arrayValue() const;
  std::optional<RawArray> arrayObject() const;
  void setArrayObject(const std::optional<RawArray>& items);

  std::optional<std::map<std::string, JSON>> dictionary() const;
  std::map<std::string, JSON> dictionaryValue() const;
  std::optional<RawDictionary> dictionaryObject() const;
  void setDictionaryObject(const std::optional<RawDictionary>& members);

  std::optional<bool> bool_() const;
  bool boolValue() const;
  void setBool(std::optional<bool> value);
  void setBoolValue(bool value);

  std::optional<std::string> string() const;
  std::string stringValue() const;
  void setString(const std::optional<std::string>& value);
  void setStringValue(const std::string& value);

  std::optional<JSONNumber> number() const;
  JSONNumber numberValue() const;
  void setNumber(std::optional<JSONNumber> value);
  void setNumberValue(JSONNumber value);

  // The null marker for a null value, empty otherwise; setting always stores null.
  std::optional<std::nullptr_t> nullObject() const;
  void setNullObject(std::optional<std::nullptr_t> ignored);

  std::optional<JSONURL> url() const;
  void setURL(const std::optional<JSONURL>& value);

  std::optional<double> double_() const;
  double doubleValue() const;
  void setDouble(std::optional<double> v);
  void setDoubleValue(double v);
  std::optional<float> float_() const;
  float floatValue() const;
  void setFloat(std::optional<float> v);
  void setFloatValue(float v);
  std::optional<std::int64_t> int_() const;
  std::int64_t intValue() const;
  void setInt(std::optional<std::int64_t> v);
  void setIntValue(std::int64_t v);
  std::optional<std::uint64_t> uInt() const;
  std::uint64_t uIntValue() const;
  void setUInt(std::optional<std::uint64_t> v);
  void setUIntValue(std::uint64_t v);
  std::optional<std::int8_t> int8() const;
  std::int8_t int8Value() const;
  void setInt8(std::optional<std::int8_t> v);
  void setInt8Value(std::int8_t v);
  std::optional<std::uint8_t> uInt8() const;
  std::uint8_t uInt8Value() const;
  void setUInt8(std::optional<std::uint8_t> v);
  void setUInt8Value(std::uint8_t v);
  std::optional<std::int16_t> int16() const;
  std::int16_t int16Value() const;
  void setInt16(std::optional<std::int16_t> v);
  void setInt16Value(std::int16_t v);
  std::optional<std::uint16_t> uInt16() const;
  std::uint16_t uInt16Value() const;
  void setUInt16(std::optional<std::uint16_t> v);
  void setUInt16Value(std::uint16_t v);
  std::optional<std::int32_t> int32() const;
  std::int32_t int32Value() const;
  void setInt32(std::optional<std::int32_t> v);
  void setInt32Value(std::int32_t v);
  std::optional<std::uint32_t> uInt32() const;
  std::uint32_t uInt32Value() const;
  void setUInt32(std::optional<std::uint32_t> v);
  void setUInt32Value(std::uint32_t v);
  std::optional<std::int64_t> int64() const;
  std::int64_t int64Value() const;
  void setInt64(std::optional<std::int64_t> v);
  void setInt64Value(std::int64_t v);
  std::optional<std::uint64_t> uInt64() const;
  std::uint64_t uInt64Value() const;
  void setUInt64(std::optional<std::uint64_t> v);
  void setUInt64Value(std::uint64_t v);

  // ---- rendering ----
  // Only a list or a map at the top; NaN, infinity and unsupported objects
  // refused: throws SwiftyJSONException(invalidJSON).
  std::string rawData(JSONWritingOptions options = JSONWritingOptions::none) const;
  // A string value renders as its bare text, a number by its stringValue,
  // lists and maps as JSON text; empty on failure.
  std::optional<std::string> rawString(JSONEncoding encoding = JSONEncoding::utf8,
                                       JSONWritingOptions options = JSONWritingOptions::prettyPrinted) const;
  std::optional<std::string> rawString(const JSONWritingOptionsMap& options) const;
  std::string description() const;
  std::string debugDescription() const { return description(); }

 private:
  JSON indexStep(std::int64_t index) const;
  JSON keyStep(std::string_view key) const;
  void setIndexStep(std::int64_t index, const JSON& newValue);
  void setKeyStep(std::string_view key, const JSON& newValue);
  void setAtFrom(const JSONPath& path, std::size_t first, const JSON& newValue);
  void mergeInto(const JSON& other, bool typeCheck, int depth);
  static JSON failure(Error error);

  JSONObject object_;
  Type type_ = Type::null;
  std::optional<Error> error_;
};

// Numbers by value (a boolean never equals a number), strings by Unicode
// canonical equivalence, lists and maps member by member; errors take no part.
bool operator==(const JSON& l, const JSON& r);
bool operator<(const JSON& l, const JSON& r);
bool operator<=(const JSON& l, const JSON& r);
bool operator>(const JSON& l, const JSON& r);
bool operator>=(const JSON& l, const JSON& r);
std::ostream& operator<<(std::ostream& out, const JSON& value);

// Canonical-equivalence comparison of UTF-8 texts (ICU NFC).
bool jsonStringsEqual(std::string_view a, std::string_view b);
int jsonStringsCompare(std::string_view a, std::string_view b);

}  // namespace hw
