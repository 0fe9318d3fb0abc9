#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "json/json.h"

namespace hw {
namespace {

// Values share their tree; these tests hold the copy-on-write promise and the
// reference counting behind it.

TEST(JSONSharing, WritesThroughOneCopyNeverReachAnother) {
  const JSON original = JSON::fromData(R"({"a": {"b": [1, 2, {"c": "d"}]}, "e": "f"})");
  JSON copy = original;
  copy.setAt({"a", "b", 2, "c"}, "changed");
  copy.set("e", JSON::arrayLiteral({1}));
  JSON merged = original.merged(JSON::fromData(R"({"a": {"x": 1}})"));

  EXPECT_EQ(original, JSON::fromData(R"({"a": {"b": [1, 2, {"c": "d"}]}, "e": "f"})"));
  EXPECT_EQ(copy, JSON::fromData(R"({"a": {"b": [1, 2, {"c": "changed"}]}, "e": [1]})"));
  EXPECT_EQ(merged.path("a", "x").intValue(), 1);

  // Raw copies handed out stay valid after the value they came from is gone.
  std::optional<JSON::RawArray> items;
  {
    const JSON temporary = JSON::fromData(R"([["deep", ["er"]], "x"])");
    items = temporary.arrayObject();
  }
  ASSERT_TRUE(items);
  EXPECT_EQ(JSON(items->at(0)).path(1, 0).stringValue(), "er");
}

TEST(JSONSharing, CopiesLiveOnOtherThreads) {
  const JSON shared = JSON::fromData(R"({"list": [{"name": "a long enough name"}, {"name": "b"}], "n": 1})");
  std::vector<std::thread> threads;
  std::vector<std::size_t> totals(4, 0);
  for (std::size_t t = 0; t < totals.size(); ++t) {
    threads.emplace_back([&shared, &totals, t] {
      for (int i = 0; i < 2000; ++i) {
        JSON copy = shared;
        totals[t] += copy.path("list", i % 2, "name").stringValue().size();
        copy.set("n", i);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (std::size_t total : totals) EXPECT_EQ(total, 1000u * (18 + 1));
  EXPECT_EQ(shared["n"].intValue(), 1);
}

TEST(JSONSharing, InlineAndSharedTextsAndSortedMaps) {
  // Short texts are held inline, longer ones in shared nodes: both read back whole.
  for (const std::string& text : std::vector<std::string>{"", "a", "12345678", "123456789", std::string(40, 'x')}) {
    const JSON v = JSON::fromData("[\"" + text + "\"]");
    JSON copy = v;
    copy.set(0, "other");
    EXPECT_EQ(v[0].stringValue(), text);
    EXPECT_EQ(JSON(JSONObject(text)), v[0]);
    EXPECT_EQ(JSONObject::bytes(text).stringView(), text);
  }

  // Maps are sorted once; duplicates keep the last, whatever the size.
  std::string many = "{";
  for (int i = 40; i >= 0; --i) many += "\"k" + std::to_string(i % 37) + "\": " + std::to_string(i) + ",";
  many += "\"z\": 0}";
  const JSON big = JSON::fromData(many);
  EXPECT_EQ(big.count(), 38u);
  EXPECT_EQ(big["k3"].intValue(), 3);   // 40 came first, 3 last
  EXPECT_EQ(big["k36"].intValue(), 36);
}

}  // namespace
}  // namespace hw
