#include <gtest/gtest.h>

#include "json/json.h"

namespace hw {
namespace {

using Type = JSON::Type;
using Error = SwiftyJSONError;

TEST(JSONModel, ParsedKindsStayApart) {
  const JSON v = JSON::fromData(R"([1, true, "1", null, {"a": 2}, 1.5, 18446744073709551615, -3])");
  const Type kinds[] = {Type::number, Type::bool_, Type::string, Type::null, Type::dictionary};
  for (std::size_t i = 0; i < std::size(kinds); ++i) EXPECT_EQ(v[i].type(), kinds[i]) << i;
  EXPECT_EQ(v[0].number()->kind(), JSONNumber::Kind::integer);
  EXPECT_EQ(v[5].number()->kind(), JSONNumber::Kind::real);
  EXPECT_EQ(v[6].uInt64Value(), 18446744073709551615ULL);
  EXPECT_EQ(v[7].intValue(), -3);
  EXPECT_FALSE(v[0] == v[1]);
}

TEST(JSONModel, BadInputThrowsFromDataAndIsPlainNullElsewhere) {
  for (const char* text : {"", "{", "1 2", "\"\\ud800\"", "\xff", "1e400"}) {
    EXPECT_THROW(JSON::fromData(text), JSONParseError) << text;
    const JSON a = JSON::parseJSON(text), b = JSON::parse(text), c(JSONObject::bytes(text));
    for (const JSON* v : {&a, &b, &c}) {
      EXPECT_EQ(v->type(), Type::null) << text;
      EXPECT_FALSE(v->error()) << text;
    }
  }
  try {
    JSON::fromData(R"({"token": "s3cr3t-value" x})");
    ADD_FAILURE() << "accepted";
  } catch (const JSONParseError& e) {
    EXPECT_EQ(std::string(e.what()).find("s3cr3t"), std::string::npos) << e.what();  // messages may be logged
    EXPECT_EQ(e.byteOffset(), 26u);
  }
  EXPECT_EQ(JSON::parse("42").intValue(), 42);
}

TEST(JSONModel, NestingBeyondTheLimitIsRefusedAtParse) {
  const std::string ok = std::string(kJSONMaxNesting, '[') + std::string(kJSONMaxNesting, ']');
  EXPECT_EQ(JSON::fromData(ok).type(), Type::array);
  const std::string deep = std::string(kJSONMaxNesting + 1, '[') + std::string(kJSONMaxNesting + 1, ']');
  EXPECT_THROW(JSON::fromData(deep), JSONParseError);
  EXPECT_EQ(JSON::parseJSON(std::string(1'000'000, '{')).type(), Type::null);
}

TEST(JSONModel, UnsupportedObjectsAndUnwrapping) {
  JSON v;
  v.setObject(JSONObject::unsupported());
  EXPECT_EQ(v.type(), Type::unknown);
  EXPECT_EQ(v["a"].error(), Error::unsupportedType);  // steps hand the error on
  const JSON list(JSONObject::Array{1, JSONObject::unsupported()});
  EXPECT_FALSE(list.error());
  EXPECT_EQ(list[1].error(), Error::unsupportedType);

  // Wrapping drops errors; lists of values are stored as their objects.
  const JSON missing = JSON::dictionaryLiteral({{"a", 1}})["b"];
  EXPECT_FALSE(JSON::wrap(missing).error());
  EXPECT_EQ(JSON::wrap(v).type(), Type::null);
  const JSON nested(std::vector<JSON>{JSON(std::vector<JSON>{1, "x"}), missing});
  EXPECT_EQ(nested.rawString(JSONEncoding::utf8, JSONWritingOptions::none), R"([[1,"x"],null])");

  // Bytes inside a list are parsed when the element is read.
  const JSON withBytes(JSONObject::Array{JSONObject::bytes("[7]"), JSONObject::bytes("nope")});
  EXPECT_EQ(withBytes[0][0].intValue(), 7);
  EXPECT_EQ(withBytes[1].type(), Type::null);
}

TEST(JSONAccess, ChainsCarryTheFirstError) {
  const JSON v = JSON::fromData(R"({"list": [1, 2, 3], "map": {"k": "v"}})");
  const std::pair<JSON, Error> rows[] = {
      {v["list"][-1], Error::indexOutOfBounds}, {v["list"][3], Error::indexOutOfBounds},
      {v["map"][0], Error::wrongType},          {v["list"]["k"], Error::wrongType},
      {v.path("nope", "k", 0), Error::notExist}, {v.path("list", 5, "x", 0), Error::indexOutOfBounds}};
  for (const auto& [got, error] : rows) {
    EXPECT_EQ(got.error(), error) << got;
    EXPECT_EQ(got.type(), Type::null);
  }
  EXPECT_EQ((v[JSONPath{"list", 2}].intValue()), 3);
  EXPECT_EQ(v.at({}), v);
  EXPECT_EQ(v["nope"].at({}).error(), Error::notExist);
}

TEST(JSONAccess, WritesNeverGrowListsOrCreateContainers) {
  JSON v = JSON::fromData(R"({"list": [1, 2, 3], "map": {"k": "v"}})");
  const JSON before = v;
  v.set("added", 5);
  v.setAt({"list", 1}, "two");
  v.setAt({"map", "k2"}, true);
  EXPECT_EQ(v, JSON::fromData(R"({"added": 5, "list": [1, "two", 3], "map": {"k": "v", "k2": true}})"));
  EXPECT_EQ(before.path("list", 1).intValue(), 2);  // copies are independent

  const JSON snapshot = v;
  for (const JSONPath& refused : {JSONPath{"missing", "inner"}, JSONPath{"list", 5}, JSONPath{"list", -1},
                                  JSONPath{"map", "k", "deeper"}, JSONPath{}}) {
    v.setAt(refused, 1);
  }
  EXPECT_EQ(v, snapshot);
  JSON text("string");
  text.set("a", 1);
  EXPECT_EQ(text.stringValue(), "string");

  // Through a path the new value's own error is not examined: a null is stored.
  v.set("added", v["no such key"]);
  EXPECT_EQ(v["added"].type(), Type::null);
  EXPECT_FALSE(v["added"].error());
}

TEST(JSONMerge, InterleavedKeysMergeDeepAndKeepEveryMemberInOrder) {
  // Keys only on one side, on both, before, between and after the other's.
  JSON a = JSON::fromData(R"({"b": 1, "d": {"x": 1}, "f": 2, "h": [1], "s": 1})");
  a.merge(JSON::fromData(R"({"a": 0, "d": {"y": 2}, "e": 5, "h": [2], "s": "t", "z": null})"));
  EXPECT_EQ(a, JSON::fromData(
                   R"({"a": 0, "b": 1, "d": {"x": 1, "y": 2}, "e": 5, "f": 2, "h": [1, 2], "s": "t", "z": null})"));
  // Lookups search the sorted members: each key must still be found.
  for (const char* key : {"a", "b", "d", "e", "f", "h", "s", "z"}) EXPECT_TRUE(a[key].exists()) << key;
  EXPECT_EQ(JSON::fromData("{}").merged(a), a);
  EXPECT_EQ(a.merged(JSON::fromData("{}")), a);

  JSON number(1);
  try {
    number.merge(JSON("s"));
    FAIL() << "merge of different types must throw";
  } catch (const SwiftyJSONException& e) {
    EXPECT_EQ(e.error(), Error::wrongType);
  }
  EXPECT_EQ(number.merged(JSON(2)).intValue(), 2);
  EXPECT_EQ(number.intValue(), 1);
}

JSON nestedMaps(int depth) {
  JSON v = JSON::dictionaryLiteral({{"leaf", 1}});
  for (int i = 0; i < depth; ++i) v = JSON::dictionaryLiteral({{"k", v}});
  return v;
}

TEST(JSONMerge, DeepValuesBuiltInCodeFailInsteadOfOverflowing) {
  JSON deep = nestedMaps(kJSONMaxNesting + 10);
  try {
    deep.merge(nestedMaps(kJSONMaxNesting + 10));
    FAIL() << "merge past the nesting limit must throw";
  } catch (const SwiftyJSONException& e) {
    EXPECT_EQ(e.error(), Error::elementTooDeep);
  }
  JSON shallow = nestedMaps(20);
  EXPECT_NO_THROW(shallow.merge(nestedMaps(20)));

  // A very deep list renders as none, compares and is released without recursion.
  JSON list(std::vector<JSON>{});
  for (int i = 0; i < 200'000; ++i) list = JSON(std::vector<JSON>{list});
  JSON same = list;
  EXPECT_EQ(list, same);
  EXPECT_FALSE(list.rawString());
  EXPECT_FALSE(list.rawString({{writingOptionsKeys::castNilToNSNull, true},
                               {writingOptionsKeys::maxObjextDepth, std::int64_t{1'000'000}}}));
  EXPECT_THROW(list.rawData(), SwiftyJSONException);
}

TEST(JSONIteration, PairsAndPositions) {
  const JSON list = JSON::arrayLiteral({"a", "b"});
  std::vector<std::pair<std::string, std::string>> seen;
  for (const auto& [key, value] : list) seen.emplace_back(key, value.stringValue());
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{{"0", "a"}, {"1", "b"}}));

  std::map<std::string, std::int64_t> members;
  const JSON map = JSON::fromData(R"({"x": 1, "y": 2, "x": 3})"), scalar("s");
  for (const auto& [key, value] : map) EXPECT_TRUE(members.emplace(key, value.intValue()).second);
  EXPECT_EQ(members, (std::map<std::string, std::int64_t>{{"x", 3}, {"y", 2}}));
  EXPECT_EQ(scalar.begin(), scalar.end());
  EXPECT_EQ(list[list.endIndex()].first, "");  // a foreign position reads as ("", null)
}

}  // namespace
}  // namespace hw
