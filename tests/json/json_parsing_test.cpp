#include <gtest/gtest.h>

#include <charconv>
#include <string>

#include "json/json.h"

namespace hw {
namespace {

// Bytes outside printable ASCII as \xHH escapes.
std::string printable(std::string_view bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
    }
  }
  return out;
}

// A parse result spelled out with every number's storage kind, so a real
// -0 is told from an integer 0 and a signed 1 from an unsigned one.
std::string spell(const JSON& v) {
  switch (v.type()) {
    case JSON::Type::null: return "null";
    case JSON::Type::bool_: return v.boolValue() ? "true" : "false";
    case JSON::Type::number: {
      const JSONNumber n = *v.number();
      if (n.kind() == JSONNumber::Kind::integer) return "i" + std::to_string(n.rawInteger());
      if (n.kind() == JSONNumber::Kind::unsignedInteger) return "u" + std::to_string(n.rawUnsigned());
      char text[32];
      return "d" + std::string(text, std::to_chars(text, text + sizeof text, n.rawDouble()).ptr);
    }
    case JSON::Type::string: return "\"" + printable(v.stringValue()) + "\"";
    case JSON::Type::array:
    case JSON::Type::dictionary: {
      const bool map = v.type() == JSON::Type::dictionary;
      std::string out = map ? "{" : "[";
      for (const auto& [key, element] : v) {
        if (out.size() > 1) out += ",";
        if (map) out += printable(key) + ":";
        out += spell(element);
      }
      return out + (map ? "}" : "]");
    }
    default: return "?";
  }
}

std::string outcome(const std::string& text) {
  try {
    return spell(JSON::fromData(text));
  } catch (const JSONParseError& e) {
    return "! " + std::string(e.what()) + " @" + std::to_string(e.byteOffset());
  }
}

std::string nested(int depth, const std::string& open, const std::string& leaf, const std::string& close) {
  std::string out;
  for (int i = 0; i < depth; ++i) out += open;
  out += leaf;
  for (int i = 0; i < depth; ++i) out += close;
  return out;
}

TEST(JSONParsing, EdgeInputsKeepTheirKindsValuesAndErrors) {
  const std::string syntax = "! The data is not valid JSON: syntax error at byte ";
  const std::string tooDeep = "! The data is not valid JSON: nesting deeper than 512 levels. @0";
  const int limit = kJSONMaxNesting;
  const std::pair<std::string, std::string> rows[] = {
      // Numbers: kinds and the 64-bit and double edges.
      {"[0, -0, -0.0, 0e5, -0e5, 1.5, 1E2]", "[i0,i0,d-0,d0,d-0,d1.5,d100]"},
      {"[9223372036854775807, 9223372036854775808, 18446744073709551615]",
       "[i9223372036854775807,u9223372036854775808,u18446744073709551615]"},
      {"[-9223372036854775808, -9223372036854775809]", "[i-9223372036854775808,d-9223372036854775808]"},
      {"18446744073709551616", "d18446744073709551616"},
      {"[1e308, 1e-400, 4.9e-324, 9007199254740993]", "[d1e+308,d0,d5e-324,i9007199254740993]"},
      {"1e309", syntax + "5. @5"},
      {"01", syntax + "2. @2"},
      {"1.", syntax + "3. @3"},
      // Strings: escapes, NUL, surrogates, UTF-8.
      {R"(["a\u0000b", "\/\"\\", "\ud83d\ude00", "\u00e9"])", R"(["a\x00b","/"\","\xf0\x9f\x98\x80","\xc3\xa9"])"},
      {"\"\xc3\xa9\x7f\"", R"("\xc3\xa9\x7f")"},
      {R"("\ud800")", syntax + "8. @8"},
      {R"(["\udc00"])", syntax + "8. @8"},
      {R"("\ud800\u0041")", syntax + "13. @13"},
      {"\"\xff\"", syntax + "2. @2"},
      {"\"\xed\xa0\x80\"", syntax + "3. @3"},
      {"\"\xc0\x80\"", syntax + "2. @2"},
      {"\"a\x01\"", syntax + "3. @3"},
      // Maps: a later duplicate wins; keys differ by every byte.
      {R"({"b": 1, "a": 2, "b": {"c": 3, "c": 4}})", "{a:i2,b:{c:i4}}"},
      {R"({"a\u0000": 1, "a": 2})", "{a:i2,a\\x00:i1}"},
      // Structure and whitespace.
      {" \t\n\r[true, false, null, [], {}] \t\n\r", "[true,false,null,[],{}]"},
      {"\xef\xbb\xbf[1]", "[i1]"},
      {"", syntax + "1. @1"},
      {"[1,]", syntax + "4. @4"},
      {R"({"a": 1,})", syntax + "9. @9"},
      {"\f[1]", syntax + "1. @1"},
      {"[1] x", syntax + "5. @5"},
      // Nesting at and past the limit, past simdjson's own depth too.
      {nested(limit, "[", "", "]"), nested(limit, "[", "", "]")},
      {nested(limit - 1, R"({"k":)", "[]", "}"), nested(limit - 1, "{k:", "[]", "}")},
      {nested(limit + 1, "[", "", "]"), tooDeep},
      {nested(limit, R"({"k":)", "[]", "}"), tooDeep},
      {nested(1100, "[", "", "]"), tooDeep},
  };
  for (const auto& [text, expected] : rows) EXPECT_EQ(outcome(text), expected) << printable(text.substr(0, 80));
}

}  // namespace
}  // namespace hw
