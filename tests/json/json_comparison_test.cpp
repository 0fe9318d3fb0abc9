#include <gtest/gtest.h>

#include <cmath>

#include "json/json.h"

namespace hw {
namespace {

struct Relations {
  bool eq, lt, le, ge, gt;
  bool operator==(const Relations&) const = default;
};

void expect(const JSON& a, const JSON& b, Relations want) {
  const Relations got{a == b, a < b, a <= b, a >= b, a > b};
  EXPECT_TRUE(got == want) << a << " against " << b << ": == < <= >= > gave " << got.eq << got.lt << got.le << got.ge
                           << got.gt;
}

TEST(JSONComparison, NumbersAndBools) {
  expect(JSON(1), JSON(1.0), {true, false, true, true, false});
  expect(JSON(1), JSON(true), {false, false, false, false, false});
  expect(JSON(true), JSON(false), {false, false, false, false, false});
  expect(JSON(true), JSON(true), {true, false, true, true, false});
  expect(JSON(2), JSON(2.5), {false, true, true, false, false});
  // Exact across kinds, where a conversion to double would round.
  expect(JSON(9007199254740993LL), JSON(9007199254740992.0), {false, false, false, true, true});
  expect(JSON(18446744073709551615ULL), JSON(-1), {false, false, false, true, true});
  expect(JSON(std::nan("")), JSON(std::nan("")), {true, false, true, true, false});
}

TEST(JSONComparison, StringsByCanonicalEquivalence) {
  const JSON composed("caf\u00e9"), decomposed("cafe\u0301");
  expect(composed, decomposed, {true, false, true, true, false});
  expect(JSON("B"), JSON("a"), {false, true, true, false, false});  // ASCII by byte value
  expect(JSON("\u00c5"), JSON("A\u030a"), {true, false, true, true, false});
  EXPECT_EQ(JSON::arrayLiteral({composed}), JSON::arrayLiteral({decomposed}));
  EXPECT_EQ(jsonStringsCompare("e\u0301", "\u00e9"), 0);
  EXPECT_GT(jsonStringsCompare("a\u0301", "b"), 0);  // orders as its composed form
}

TEST(JSONComparison, ContainersNullAndTypes) {
  const JSON empty(std::vector<JSON>{});
  expect(empty, JSON(std::vector<JSON>{}), {true, false, true, true, false});
  expect(JSON::arrayLiteral({1, 2}), JSON::arrayLiteral({1, 2.0}), {true, false, true, true, false});
  expect(JSON::arrayLiteral({1}), JSON::arrayLiteral({true}), {false, false, false, false, false});
  EXPECT_NE(JSON::fromData(R"({"a": [1, {"b": null}]})"), JSON::fromData(R"({"a": [1, {"b": 0}]})"));
  EXPECT_EQ(JSON::fromData(R"({"a": [1, {"b": null}]})"), JSON::fromData(R"({"a":[1,{"b":null}]})"));
  EXPECT_NE(JSON::fromData(R"({"a": 1})"), JSON::fromData(R"({"b": 1})"));

  const JSON missing = JSON::dictionaryLiteral({})["x"];
  expect(missing, JSON(), {true, false, true, true, false});  // errors take no part
  JSON unknown;
  unknown.setObject(JSONObject::unsupported());
  expect(unknown, unknown, {false, false, false, false, false});
  expect(JSON(1), JSON("1"), {false, false, false, false, false});
}

}  // namespace
}  // namespace hw
