#include "json/json_parser.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "json/json.h"

namespace hw::json_detail {

namespace {

// Builds the tree straight from the parser's events. Values of open
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
  bool number_float(json::number_float_t v, const json::string_t&) {
    if (!std::isfinite(v)) return fail("The data is not valid JSON: number out of range.");
    return push(JSONObject(static_cast<double>(v)));
  }
  bool string(json::string_t& v) { return push(JSONObject(std::string_view(v))); }
  bool binary(json::binary_t&) { return fail("The data is not valid JSON."); }
  bool start_object(std::size_t) { return open(false); }
  bool key(json::string_t& k) {
    keys_.push_back(k);
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

}  // namespace

JSONObject parseJSONBytes(std::string_view bytes) {
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
