#include <gtest/gtest.h>

#include <cmath>

#include "json/json.h"
#include "json/json_log.h"

namespace hw {
namespace {

using Options = JSONWritingOptionsMap;
using K = writingOptionsKeys;

std::optional<std::string> library(const JSON& v, std::int64_t depth = 10) {
  return v.rawString(Options{{K::castNilToNSNull, true}, {K::maxObjextDepth, depth}});
}

TEST(JSONRendering, ScalarsRenderBareAndRawDataIsStrictJSON) {
  for (const auto& [v, text] : {std::pair{JSON("a \"q\" \\"), "a \"q\" \\"}, {JSON(5), "5"}, {JSON(), "null"}}) {
    EXPECT_EQ(v.rawString(), text);
  }
  JSON unknown;
  unknown.setObject(JSONObject::unsupported());
  EXPECT_FALSE(unknown.rawString());
  EXPECT_EQ(JSON::arrayLiteral({1, 2.5, true, nullptr, "x\n\"y\""}).rawData(), R"([1,2.5,true,null,"x\n\"y\""])");
  EXPECT_EQ(JSON::fromData(R"({"b": {"c": []}, "a": {}})").rawData(JSONWritingOptions::prettyPrinted),
            "{\n  \"a\": {},\n  \"b\": {\n    \"c\": []\n  }\n}");
  for (const JSON& refused : {JSON("s"), JSON(1), JSON(true), JSON(),
                              JSON::arrayLiteral({std::nan("")}),
                              JSON::arrayLiteral({std::numeric_limits<double>::infinity()}),
                              JSON(JSONObject::Array{JSONObject::unsupported()}),
                              JSON::arrayLiteral({std::string("\xc3")})}) {
    try {
      (void)refused.rawData();
      ADD_FAILURE() << "accepted " << refused;
    } catch (const SwiftyJSONException& e) {
      EXPECT_EQ(e.error(), SwiftyJSONError::invalidJSON);
    }
  }
  // An unparsed element is not JSON the serialiser can write.
  EXPECT_THROW((void)JSON(JSONObject::Array{JSONObject::bytes("[1]")}).rawData(), SwiftyJSONException);
  // ASCII reading refuses what UTF-8 accepts.
  const JSON accented = JSON::arrayLiteral({"é"});
  EXPECT_EQ(accented.rawString(JSONEncoding::utf8, JSONWritingOptions::none), "[\"é\"]");
  EXPECT_FALSE(accented.rawString(JSONEncoding::ascii));
}

TEST(JSONRendering, RenderedTextParsesBackToTheSameValue) {
  const JSON v = JSON::fromData(
      R"({"k\"ey": ["a\u0001b", -0.0, 1e-300, 9007199254740993, -9223372036854775808], "e": {}, "t": [true, null]})");
  EXPECT_EQ(JSON::fromData(v.rawData()), v);
  EXPECT_EQ(JSON::fromData(*v.rawString()), v);
  EXPECT_EQ(JSON::fromData(*library(v)), v);
}

TEST(JSONRendering, LibraryPathIsCompactAndEscaped) {
  EXPECT_EQ(library(JSON::arrayLiteral({"x", 1})), R"(["x",1])");
  EXPECT_EQ(library(JSON::dictionaryLiteral({{"q", "say \"hi\""}})), R"({"q": "say \"hi\""})");
  EXPECT_EQ(library(JSON::dictionaryLiteral({{"k\"\\", 1}})), R"({"k\"\\": 1})");  // keys escaped too
  EXPECT_EQ(library(JSON::arrayLiteral({"line\nbreak"})), R"(["line\nbreak"])");
  EXPECT_EQ(library(JSON(std::map<std::string, JSON>{})), "{}");
  EXPECT_EQ(library(JSON(JSONObject::Array{JSONObject::absent(), JSONObject::bytes("{\"a\":1}")})),
            R"([null,{"a": 1}])");
  EXPECT_FALSE(library(JSON::arrayLiteral({std::nan("")})));
  EXPECT_FALSE(library(JSON(JSONObject::Array{JSONObject::unsupported()})));
}

TEST(JSONRendering, DepthBudget) {
  EXPECT_EQ(library(JSON(std::vector<JSON>{}), 0), "[]");
  EXPECT_FALSE(library(JSON::arrayLiteral({1}), 0));
  EXPECT_EQ(library(JSON::arrayLiteral({JSON::arrayLiteral({1})}), 2), "[[1]]");
  EXPECT_FALSE(library(JSON::arrayLiteral({JSON::arrayLiteral({JSON::arrayLiteral({1})})}), 2));

  static std::vector<std::string> lines;
  setJSONLogSink([](std::string_view line) { lines.emplace_back(line); });
  EXPECT_FALSE(library(JSON(5), -1));
  setJSONLogSink(nullptr);
  EXPECT_EQ(lines, std::vector<std::string>{"Could not serialize object to JSON because: JSON is invalid."});

  // The strict serialiser ignores the budget.
  EXPECT_EQ(JSON::arrayLiteral({JSON::arrayLiteral({1})}).rawString(Options{{K::maxObjextDepth, std::int64_t{0}},
                                                                            {K::jsonSerialization, JSONWritingOptions::none}}),
            "[[1]]");
  // Options of the wrong kind fall back to their defaults.
  EXPECT_EQ(JSON::arrayLiteral({1}).rawString(Options{{K::castNilToNSNull, std::int64_t{1}}}), "[\n  1\n]");
}

}  // namespace
}  // namespace hw
