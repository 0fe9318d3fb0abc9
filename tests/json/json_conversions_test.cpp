#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json/json.h"

namespace hw {
namespace {

using Type = JSON::Type;

TEST(JSONConversions, BoolsAndStrings) {
  for (const char* yes : {"TRUE", "true", "Y", "t"}) EXPECT_TRUE(JSON(yes).boolValue()) << yes;
  for (const char* no : {"yes", "1", "", " true"}) EXPECT_FALSE(JSON(no).boolValue()) << no;
  EXPECT_FALSE(JSON(0).boolValue());
  EXPECT_TRUE(JSON(2).boolValue());
  EXPECT_FALSE(JSON(1).bool_());
  const std::pair<JSON, std::string> texts[] = {
      {JSON(true), "true"}, {JSON(2.5), "2.5"}, {JSON(-7), "-7"}, {JSON::arrayLiteral({1}), ""}};
  for (const auto& [v, text] : texts) EXPECT_EQ(v.stringValue(), text) << v;
  EXPECT_FALSE(JSON(1).string());
}

TEST(JSONConversions, NumbersFromTextsAndOtherKinds) {
  // A numeric prefix counts, anything else is zero; typed reads refuse texts.
  for (const auto& [text, value] : {std::pair{"42", 42}, {"12abc", 12}, {"abc", 0}, {"+5", 5}, {"+-5", 0},
                                    {" 5", 0}, {"-12.9", -12}}) {
    EXPECT_EQ(JSON(text).intValue(), value) << text;
  }
  for (const auto& [text, value] : {std::pair{".5", 0.5}, {"-1.5e2", -150.0}, {"1e999", 0.0}, {"nan", 0.0}, {"", 0.0}}) {
    EXPECT_DOUBLE_EQ(JSON(text).doubleValue(), value) << text;
  }
  EXPECT_FALSE(JSON("42").int_());
  EXPECT_EQ(JSON("18446744073709551615").uInt64Value(), 18446744073709551615ULL);
  EXPECT_EQ(JSON("99999999999999999999").numberValue().kind(), JSONNumber::Kind::real);
  EXPECT_FALSE(JSON::arrayLiteral({1}).double_());
  EXPECT_EQ(JSON(true).int_(), 1);
  EXPECT_EQ(JSON(-3.7).int32Value(), -3);
  EXPECT_FLOAT_EQ(JSON(0.1).floatValue(), 0.1f);

  // An 8-bit write stores a full-width number: it reads back as a number, not a bool.
  JSON v;
  v.setInt8Value(1);
  EXPECT_EQ(v.type(), Type::number);
  v.setUInt16(std::nullopt);
  EXPECT_EQ(v.type(), Type::null);

  EXPECT_EQ(JSONNumber::fromDouble(0.1).stringValue(), "0.1");
  EXPECT_EQ(JSONNumber::fromDouble(1.0).stringValue(), "1");
  EXPECT_EQ(JSONNumber::fromDouble(1e21).stringValue(), "1e+21");
  EXPECT_EQ(JSONNumber::fromUnsigned(18446744073709551615ULL).stringValue(), "18446744073709551615");
  EXPECT_EQ(JSONNumber::fromInteger(-9223372036854775807LL - 1).stringValue(), "-9223372036854775808");
}

TEST(JSONConversions, IntegerReadingsSaturate) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(JSON(1e300).intValue(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(JSON(-1e300).int64Value(), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(JSON(inf).uInt64Value(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(JSON(-inf).uIntValue(), 0u);
  EXPECT_EQ(JSON(std::nan("")).int32Value(), 0);
  EXPECT_EQ(JSON(9.3e18).intValue(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(JSON(300).int8Value(), 127);
  EXPECT_EQ(JSON(300).uInt8Value(), 255);
  EXPECT_EQ(JSON(-1).uInt16Value(), 0);
  EXPECT_EQ(JSON(18446744073709551615ULL).intValue(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(JSON(-40000).int16(), std::numeric_limits<std::int16_t>::min());
}

TEST(JSONConversions, CollectionsAndSetters) {
  JSON v = JSON::fromData(R"({"a": [1, "x"], "b": {"c": null}})");
  ASSERT_TRUE(v.dictionaryObject());
  EXPECT_FALSE(v.arrayObject());
  EXPECT_TRUE(v["a"].dictionaryValue().empty());
  EXPECT_EQ(v["a"].arrayValue()[1].stringValue(), "x");
  // Raw objects a consumer reads back wrap into values again.
  EXPECT_EQ(JSON(v.dictionaryObject()->at("a"))[0].intValue(), 1);
  v.setArrayObject(JSON::RawArray{1, 2});
  EXPECT_EQ(v.count(), 2u);

  EXPECT_TRUE(JSON().exists());
  EXPECT_FALSE(JSON::dictionaryLiteral({})["x"].exists());
  EXPECT_EQ(JSON::dictionaryLiteral({{"a", 1}, {"a", 2}})["a"].intValue(), 2);
  EXPECT_FALSE(JSON::fromRawValue(JSONObject::unsupported()));
}

TEST(JSONConversions, URLs) {
  EXPECT_EQ(JSON("a b").url()->absoluteString(), "a%20b");
  EXPECT_EQ(JSON("a%20b").url()->absoluteString(), "a%20b");
  EXPECT_EQ(JSON("https://example.test/p?q=1#f").url()->absoluteString(), "https://example.test/p?q=1%23f");
  EXPECT_EQ(JSON("https://h/ü").url()->absoluteString(), "https://h/%C3%BC");
  // Escaped text is taken as it stands, and "100% sure" is not a URL.
  for (const JSON& no : {JSON(1), JSON(""), JSON("100% sure %41"), JSON(std::string("\xff"))}) EXPECT_FALSE(no.url()) << no;

  const auto parts = JSONURL::fromString("https://user@host:8443/a/b?x=1&y=2#frag");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->authority(), "user@host:8443");
  EXPECT_EQ(parts->query(), "x=1&y=2");
  EXPECT_EQ(parts->fragment(), "frag");
  EXPECT_FALSE(JSONURL::fromString("a#b#c"));
  EXPECT_FALSE(JSONURL::fromString("%zz"));
  JSON v;
  v.setURL(parts);
  EXPECT_EQ(v.stringValue(), "https://user@host:8443/a/b?x=1&y=2#frag");
}

}  // namespace
}  // namespace hw
