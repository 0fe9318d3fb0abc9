#include "json/json_parser.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <simdjson.h>
#include <string>
#include <vector>

#include "json/json.h"

namespace hw::json_detail {

namespace {

// Builds the tree straight from either parser's events. Values of open
// containers wait on one shared stack and move into an exact-size node when
// their container closes, so no container ever over-allocates.
class TreeBuilder {
 public:
  using json = nlohmann::json;

  bool null() { return push(JSONObject::null()); }
  bool boolean(bool v) { return push(JSONObject(v)); }
  bool number_integer(json::number_integer_t v) { return push(JSONObject(static_cast<std::int64_t>(v))); }
  // Non-negative integers stay signed while they fit, like every other integer.
  bool number_unsigned(json::number_unsigned_t v) {
    if (v <= static_cast<json::number_unsigned_t>(INT64_MAX)) return push(JSONObject(static_cast<std::int64_t>(v)));
    return push(JSONObject(static_cast<std::uint64_t>(v)));
  }
  bool number_float(json::number_float_t v, const json::string_t&) { return real(v); }
  bool real(double v) {
    if (!std::isfinite(v)) return fail("The data is not valid JSON: number out of range.");
    return push(JSONObject(v));
  }
  bool string(std::string_view v) { return push(JSONObject(v)); }
  bool binary(json::binary_t&) { return fail("The data is not valid JSON."); }
  bool start_object(std::size_t) { return open(false); }
  bool key(std::string_view k) {
    keys_.emplace_back(k);
    return true;
  }
  bool end_object() {
    const Frame frame = frames_.back();
    frames_.pop_back();
    const std::size_t count = values_.size() - frame.valueStart;
    members_.clear();
    members_.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
      members_.push_back({std::move(keys_[frame.keyStart + i]), std::move(values_[frame.valueStart + i])});
    keys_.resize(frame.keyStart);
    values_.resize(frame.valueStart);
    const std::size_t unique = sortAndDeduplicate(members_.data(), members_.size());
    return push(JSONObject::adoptSortedMembers(members_.data(), unique));
  }
  bool start_array(std::size_t) { return open(true); }
  bool end_array() {
    const Frame frame = frames_.back();
    frames_.pop_back();
    JSONObject array = JSONObject::adoptArray(values_.data() + frame.valueStart, values_.size() - frame.valueStart);
    values_.resize(frame.valueStart);
    return push(std::move(array));
  }
  // The parser's own message quotes the offending input, which may be a
  // secret; ours names only the position.
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
    errorOffset_ = position;
    return fail("The data is not valid JSON: syntax error at byte " + std::to_string(position) + ".");
  }

  JSONObject take() { return std::move(values_.back()); }
  const std::string& errorMessage() const { return error_; }
  std::size_t errorOffset() const { return errorOffset_; }

 private:
  struct Frame {
    std::size_t valueStart;
    std::size_t keyStart;
  };

  bool push(JSONObject&& value) {
    values_.push_back(std::move(value));
    return true;
  }
  bool open(bool) {
    if (frames_.size() >= static_cast<std::size_t>(kJSONMaxNesting)) return fail("The data is not valid JSON: nesting deeper than " + std::to_string(kJSONMaxNesting) + " levels.");
    frames_.push_back({values_.size(), keys_.size()});
    return true;
  }
  bool fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
  }

  std::vector<JSONObject> values_;
  std::vector<std::string> keys_;
  std::vector<Member> members_;
  std::vector<Frame> frames_;
  std::string error_;
  std::size_t errorOffset_ = 0;
};

// Replays a parsed document into the builder, depth first, without
// recursion. False when the builder refuses it.
bool replay(simdjson::dom::element root, TreeBuilder& builder) {
  using Type = simdjson::dom::element_type;
  struct Open {
    simdjson::dom::array::iterator item, itemsEnd;
    simdjson::dom::object::iterator member, membersEnd;
    bool object;
  };
  std::vector<Open> open;
  simdjson::dom::element next = root;
  for (;;) {
    bool ok = true;
    switch (next.type()) {
      case Type::ARRAY: {
        const simdjson::dom::array array = next.get_array().value_unsafe();
        ok = builder.start_array(0);
        open.push_back({array.begin(), array.end(), {}, {}, false});
        break;
      }
      case Type::OBJECT: {
        const simdjson::dom::object object = next.get_object().value_unsafe();
        ok = builder.start_object(0);
        open.push_back({{}, {}, object.begin(), object.end(), true});
        break;
      }
      case Type::INT64: ok = builder.number_integer(next.get_int64().value_unsafe()); break;
      case Type::UINT64: ok = builder.number_unsigned(next.get_uint64().value_unsafe()); break;
      case Type::DOUBLE: ok = builder.real(next.get_double().value_unsafe()); break;
      case Type::STRING: ok = builder.string(next.get_string().value_unsafe()); break;
      case Type::BOOL: ok = builder.boolean(next.get_bool().value_unsafe()); break;
      case Type::NULL_VALUE: ok = builder.null(); break;
    }
    if (!ok) return false;
    // The next value, closing every container it leaves.
    for (;;) {
      if (open.empty()) return true;
      Open& top = open.back();
      if (top.object && top.member != top.membersEnd) {
        builder.key(top.member.key());
        next = top.member.value();
        ++top.member;
        break;
      }
      if (!top.object && top.item != top.itemsEnd) {
        next = *top.item;
        ++top.item;
        break;
      }
      const bool object = top.object;
      open.pop_back();
      if (!(object ? builder.end_object() : builder.end_array())) return false;
    }
  }
}

// The fast road: false for anything simdjson or the builder refuses, which
// the other parser then judges, so both roads answer every input alike.
bool parseQuickly(std::string_view bytes, JSONObject& out) {
  // simdjson reads in blocks past the end of its input.
  const auto padded = std::make_unique_for_overwrite<char[]>(bytes.size() + simdjson::SIMDJSON_PADDING);
  if (!bytes.empty()) std::memcpy(padded.get(), bytes.data(), bytes.size());
  std::memset(padded.get() + bytes.size(), 0, simdjson::SIMDJSON_PADDING);
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (parser.parse(padded.get(), bytes.size(), false).get(root) != simdjson::SUCCESS) return false;
  TreeBuilder builder;
  if (!replay(root, builder)) return false;
  out = builder.take();
  return true;
}

}  // namespace

JSONObject parseJSONBytes(std::string_view bytes) {
  JSONObject quick;
  if (parseQuickly(bytes, quick)) return quick;
  TreeBuilder builder;
  const bool ok = nlohmann::json::sax_parse(bytes.begin(), bytes.end(), &builder,
                                            nlohmann::json::input_format_t::json, true);
  if (!ok) {
    throw JSONParseError(builder.errorMessage().empty() ? "The data is not valid JSON." : builder.errorMessage(),
                         builder.errorOffset());
  }
  return builder.take();
}

}  // namespace hw::json_detail
