// Parses arbitrary bytes, walks every value through every accessor, renders
// it both ways and parses the rendering back: it must be the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/json.h"

namespace {

void walk(const hw::JSON& v, int level) {
  (void)v.boolValue();
  (void)v.stringValue();
  (void)v.intValue();
  (void)v.uInt8Value();
  (void)v.doubleValue();
  (void)v.int_();
  (void)v.url();
  (void)v.description();
  (void)(v == v);
  (void)(v < v);
  (void)v[0];
  (void)v["k"];
  if (level > hw::kJSONMaxNesting + 1) std::abort();
  for (const auto& [key, element] : v) {
    (void)key;
    walk(element, level + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  hw::JSON value;
  try {
    value = hw::JSON::fromData(bytes);
  } catch (const hw::JSONParseError&) {
    if (hw::JSON::parseJSON(bytes).type() != hw::JSONType::null) std::abort();
    return 0;
  }
  walk(value, 0);

  const auto library = value.rawString({{hw::writingOptionsKeys::castNilToNSNull, true},
                                        {hw::writingOptionsKeys::maxObjextDepth, std::int64_t{600}}});
  try {
    const std::string compact = value.rawData();
    if (!(hw::JSON::fromData(compact) == value)) std::abort();
    if (!(hw::JSON::fromData(*value.rawString()) == value)) std::abort();
    if (!library || !(hw::JSON::fromData(*library) == value)) std::abort();
  } catch (const hw::SwiftyJSONException&) {
    // Only a scalar at the top is refused.
    if (value.type() == hw::JSONType::array || value.type() == hw::JSONType::dictionary) std::abort();
  }

  hw::JSON copy = value;
  try {
    copy.merge(value);
  } catch (const hw::SwiftyJSONException&) {
  }
  copy.setAt({"k", 0}, hw::JSON(1));
  return 0;
}
