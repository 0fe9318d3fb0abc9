// Typed accessors: optional forms answer empty for another type, value forms
// convert and never fail; every setter goes through setObject.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "json/json.h"

namespace hw {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The longest numeric prefix of the text; text without one reads as 0.
JSONNumber numberOfString(std::string_view s) {
  std::size_t start = 0;
  if (!s.empty() && s[0] == '+') start = 1;
  const char* first = s.data() + start;
  const char* last = s.data() + s.size();
  if (start == 1 && first != last && *first == '-') return JSONNumber::fromInteger(0);
  std::int64_t i = 0;
  auto ri = std::from_chars(first, last, i);
  const bool fractional = ri.ec != std::errc::invalid_argument && ri.ptr != last && (*ri.ptr == '.' || *ri.ptr == 'e' || *ri.ptr == 'E');
  if (ri.ec == std::errc() && !fractional) return JSONNumber::fromInteger(i);
  if (ri.ec == std::errc::result_out_of_range && *first != '-') {
    std::uint64_t u = 0;
    auto ru = std::from_chars(first, last, u);
    const bool frac = ru.ptr != last && (*ru.ptr == '.' || *ru.ptr == 'e' || *ru.ptr == 'E');
    if (ru.ec == std::errc() && !frac) return JSONNumber::fromUnsigned(u);
  }
  double d = 0;
  auto rd = std::from_chars(first, last, d, std::chars_format::general);
  // Out-of-range text and a bare "nan" or "inf" are not decimal numbers.
  if (rd.ec != std::errc() || !std::isfinite(d)) return JSONNumber::fromInteger(0);
  return JSONNumber::fromDouble(d);
}

}  // namespace

// ---- collections ----

std::optional<std::vector<JSON>> JSON::array() const {
  if (type_ != Type::array) return std::nullopt;
  std::vector<JSON> out;
  out.reserve(object_.items().size());
  for (const JSONObject& item : object_.items()) out.emplace_back(item);
  return out;
}

std::vector<JSON> JSON::arrayValue() const { return array().value_or(std::vector<JSON>{}); }

std::optional<JSON::RawArray> JSON::arrayObject() const {
  if (type_ != Type::array) return std::nullopt;
  return object_.arrayCopy();
}

void JSON::setArrayObject(const std::optional<RawArray>& items) {
  setObject(items ? JSONObject(*items) : JSONObject::null());
}

std::optional<std::map<std::string, JSON>> JSON::dictionary() const {
  if (type_ != Type::dictionary) return std::nullopt;
  std::map<std::string, JSON> out;
  for (const auto& m : object_.members()) out.emplace_hint(out.end(), m.key, JSON(m.value));
  return out;
}

std::map<std::string, JSON> JSON::dictionaryValue() const {
  return dictionary().value_or(std::map<std::string, JSON>{});
}

std::optional<JSON::RawDictionary> JSON::dictionaryObject() const {
  if (type_ != Type::dictionary) return std::nullopt;
  return object_.dictionaryCopy();
}

void JSON::setDictionaryObject(const std::optional<RawDictionary>& members) {
  setObject(members ? JSONObject(*members) : JSONObject::null());
}

// ---- scalars ----

std::optional<bool> JSON::bool_() const {
  if (type_ != Type::bool_) return std::nullopt;
  return object_.number()->boolValue();
}

bool JSON::boolValue() const {
  switch (type_) {
    case Type::bool_:
    case Type::number: return object_.number()->boolValue();
    case Type::string: {
      const std::string_view s = object_.stringView();
      return equalsIgnoringCase(s, "true") || equalsIgnoringCase(s, "y") || equalsIgnoringCase(s, "t");
    }
    default: return false;
  }
}

void JSON::setBool(std::optional<bool> value) { setObject(value ? JSONObject(*value) : JSONObject::null()); }
void JSON::setBoolValue(bool value) { setObject(JSONObject(value)); }

std::optional<std::string> JSON::string() const {
  if (type_ != Type::string) return std::nullopt;
  return std::string(object_.stringView());
}

std::string JSON::stringValue() const {
  switch (type_) {
    case Type::string: return std::string(object_.stringView());
    case Type::number: return object_.number()->stringValue();
    case Type::bool_: return object_.number()->boolValue() ? "true" : "false";
    default: return std::string();
  }
}

void JSON::setString(const std::optional<std::string>& value) {
  setObject(value ? JSONObject(*value) : JSONObject::null());
}
void JSON::setStringValue(const std::string& value) { setObject(JSONObject(value)); }

std::optional<JSONNumber> JSON::number() const {
  if (type_ == Type::number) return object_.number();
  if (type_ == Type::bool_) return JSONNumber::fromInteger(object_.number()->boolValue() ? 1 : 0);
  return std::nullopt;
}

JSONNumber JSON::numberValue() const {
  switch (type_) {
    case Type::number:
    case Type::bool_: return *number();
    case Type::string: return numberOfString(object_.stringView());
    default: return JSONNumber::fromDouble(0.0);
  }
}

void JSON::setNumber(std::optional<JSONNumber> value) { setObject(value ? JSONObject(*value) : JSONObject::null()); }
void JSON::setNumberValue(JSONNumber value) { setObject(JSONObject(value)); }

std::optional<std::nullptr_t> JSON::nullObject() const {
  if (type_ != Type::null) return std::nullopt;
  return nullptr;
}

void JSON::setNullObject(std::optional<std::nullptr_t>) { setObject(JSONObject::null()); }

std::optional<JSONURL> JSON::url() const {
  if (type_ != Type::string) return std::nullopt;
  const std::string_view s = object_.stringView();
  // Text already escaped is taken as it stands, so it is not escaped twice.
  if (jsonContainsPercentEscape(s)) return JSONURL::fromString(s);
  const auto encoded = jsonPercentEncodeQuery(s);
  if (!encoded) return std::nullopt;
  return JSONURL::fromString(*encoded);
}

void JSON::setURL(const std::optional<JSONURL>& value) {
  setObject(value ? JSONObject(value->absoluteString()) : JSONObject::null());
}

// ---- numbers of every width ----

#define HW_JSON_NUMERIC(Type_, Optional, Value, SetOptional, SetValue, reading, store) \
  std::optional<Type_> JSON::Optional() const {                                           \
    const auto n = number();                                                              \
    if (!n) return std::nullopt;                                                          \
    return n->reading();                                                                  \
  }                                                                                       \
  Type_ JSON::Value() const { return numberValue().reading(); }                           \
  void JSON::SetOptional(std::optional<Type_> v) {                                        \
    setObject(v ? JSONObject(store(*v)) : JSONObject::null());                            \
  }                                                                                       \
  void JSON::SetValue(Type_ v) { setObject(JSONObject(store(v))); }

namespace {
JSONNumber storeDouble(double v) { return JSONNumber::fromDouble(v); }
JSONNumber storeSigned(std::int64_t v) { return JSONNumber::fromInteger(v); }
JSONNumber storeUnsigned(std::uint64_t v) { return JSONNumber::fromUnsigned(v); }
}  // namespace

HW_JSON_NUMERIC(double, double_, doubleValue, setDouble, setDoubleValue, doubleValue, storeDouble)
HW_JSON_NUMERIC(float, float_, floatValue, setFloat, setFloatValue, floatValue, storeDouble)
HW_JSON_NUMERIC(std::int64_t, int_, intValue, setInt, setIntValue, integerValue, storeSigned)
HW_JSON_NUMERIC(std::uint64_t, uInt, uIntValue, setUInt, setUIntValue, unsignedIntegerValue, storeUnsigned)
HW_JSON_NUMERIC(std::int8_t, int8, int8Value, setInt8, setInt8Value, charValue, storeSigned)
HW_JSON_NUMERIC(std::uint8_t, uInt8, uInt8Value, setUInt8, setUInt8Value, unsignedCharValue, storeUnsigned)
HW_JSON_NUMERIC(std::int16_t, int16, int16Value, setInt16, setInt16Value, shortValue, storeSigned)
HW_JSON_NUMERIC(std::uint16_t, uInt16, uInt16Value, setUInt16, setUInt16Value, unsignedShortValue, storeUnsigned)
HW_JSON_NUMERIC(std::int32_t, int32, int32Value, setInt32, setInt32Value, intValue, storeSigned)
HW_JSON_NUMERIC(std::uint32_t, uInt32, uInt32Value, setUInt32, setUInt32Value, unsignedIntValue, storeUnsigned)
HW_JSON_NUMERIC(std::int64_t, int64, int64Value, setInt64, setInt64Value, longLongValue, storeSigned)
HW_JSON_NUMERIC(std::uint64_t, uInt64, uInt64Value, setUInt64, setUInt64Value, unsignedLongLongValue, storeUnsigned)

#undef HW_JSON_NUMERIC

}  // namespace hw
