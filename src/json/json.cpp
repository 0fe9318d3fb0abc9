#include "json/json.h"

#include "json/json_parser.h"

namespace hw {

JSON::JSON() noexcept = default;

JSON::JSON(JSONObject object) {
  if (object.kind() == JSONObject::Kind::bytes) {
    try {
      object = json_detail::parseJSONBytes(object.stringView());
    } catch (const JSONParseError&) {
      object = JSONObject::null();
    }
  }
  setObject(std::move(object));
}

namespace {

JSONObject unwrapped(const std::vector<JSON>& items) {
  std::vector<JSONObject> objects;
  objects.reserve(items.size());
  for (const JSON& item : items) objects.push_back(item.object());
  return JSONObject::adoptArray(std::move(objects));
}

}  // namespace

JSON::JSON(const std::vector<JSON>& items) : JSON(unwrapped(items)) {}

JSON::JSON(const std::map<std::string, JSON>& members) {
  std::vector<json_detail::Member> list;
  list.reserve(members.size());
  for (const auto& [key, value] : members) list.push_back({key, value.object()});
  setObject(JSONObject::adoptSortedMembers(list.data(), list.size()));
}

JSON JSON::arrayLiteral(std::initializer_list<JSON> items) { return JSON(std::vector<JSON>(items)); }

JSON JSON::dictionaryLiteral(std::initializer_list<std::pair<std::string, JSON>> pairs) {
  std::vector<json_detail::Member> list;
  list.reserve(pairs.size());
  for (const auto& [key, value] : pairs) list.push_back({key, value.object()});
  const std::size_t n = json_detail::sortAndDeduplicate(list.data(), list.size());
  return JSON(JSONObject::adoptSortedMembers(list.data(), n));
}

JSON JSON::fromData(std::string_view bytes) { return JSON(json_detail::parseJSONBytes(bytes)); }

JSON JSON::parseJSON(std::string_view text) { return JSON(JSONObject::bytes(text)); }

JSON JSON::parse(std::string_view text) {
  if (text.empty()) return JSON();
  try {
    return fromData(text);
  } catch (const JSONParseError&) {
    return JSON();
  }
}

std::optional<JSON> JSON::fromRawValue(JSONObject object) {
  JSON value(std::move(object));
  if (value.type() == Type::unknown) return std::nullopt;
  return value;
}

JSON JSON::failure(Error error) {
  JSON value;
  value.error_ = error;
  return value;
}

JSONObject JSON::object() const {
  switch (type_) {
    case Type::null:
    case Type::unknown: return JSONObject::null();
    default: return object_;
  }
}

void JSON::setObject(JSONObject object) {
  error_.reset();
  switch (object.kind()) {
    case JSONObject::Kind::number:
      type_ = object.number()->isBool() ? Type::bool_ : Type::number;
      object_ = std::move(object);
      break;
    case JSONObject::Kind::string:
      type_ = Type::string;
      object_ = std::move(object);
      break;
    case JSONObject::Kind::null:
    case JSONObject::Kind::absent:
      type_ = Type::null;
      object_ = JSONObject::null();
      break;
    case JSONObject::Kind::array:
      type_ = Type::array;
      object_ = std::move(object);
      break;
    case JSONObject::Kind::dictionary:
      type_ = Type::dictionary;
      object_ = std::move(object);
      break;
    case JSONObject::Kind::bytes:
    case JSONObject::Kind::unsupported:
      type_ = Type::unknown;
      error_ = Error::unsupportedType;
      object_ = JSONObject::null();
      break;
  }
}

// ---- steps and paths ----

JSON JSON::indexStep(std::int64_t index) const {
  if (type_ != Type::array) return failure(error_.value_or(Error::wrongType));
  const auto items = object_.items();
  if (index < 0 || static_cast<std::uint64_t>(index) >= items.size()) return failure(Error::indexOutOfBounds);
  return JSON(items[static_cast<std::size_t>(index)]);
}

JSON JSON::keyStep(std::string_view key) const {
  if (type_ != Type::dictionary) return failure(error_.value_or(Error::wrongType));
  const JSONObject* member = object_.find(key);
  if (!member) return failure(Error::notExist);
  return JSON(*member);
}

JSON JSON::at(const JSONPath& path) const {
  JSON current = *this;
  for (const JSONSubscriptType& step : path) {
    const JSONKey& key = step.jsonKey();
    current = key.kind() == JSONKey::Kind::index ? current.indexStep(key.indexValue()) : current.keyStep(key.keyValue());
  }
  return current;
}

void JSON::setIndexStep(std::int64_t index, const JSON& newValue) {
  if (type_ != Type::array || newValue.error_) return;
  const auto size = object_.items().size();
  if (index < 0 || static_cast<std::uint64_t>(index) >= size) return;
  object_ = object_.withItem(static_cast<std::size_t>(index), newValue.object());
}

void JSON::setKeyStep(std::string_view key, const JSON& newValue) {
  if (type_ != Type::dictionary || newValue.error_) return;
  object_ = object_.withMember(key, newValue.object());
}

void JSON::setAt(const JSONPath& path, const JSON& newValue) { setAtFrom(path, 0, newValue); }

void JSON::setAtFrom(const JSONPath& path, std::size_t first, const JSON& newValue) {
  if (first >= path.size()) return;
  const JSONKey& key = path[first].jsonKey();
  const bool isIndex = key.kind() == JSONKey::Kind::index;
  JSON step = isIndex ? indexStep(key.indexValue()) : keyStep(key.keyValue());
  if (first + 1 == path.size()) {
    step.setObject(newValue.object());
  } else {
    step.setAtFrom(path, first + 1, newValue);
  }
  if (isIndex) {
    setIndexStep(key.indexValue(), step);
  } else {
    setKeyStep(key.keyValue(), step);
  }
}

// ---- merge ----

void JSON::merge(const JSON& other) {
  JSON result = *this;
  result.mergeInto(other, true, 0);
  *this = std::move(result);
}

JSON JSON::merged(const JSON& other) const {
  JSON result = *this;
  result.mergeInto(other, true, 0);
  return result;
}

void JSON::mergeInto(const JSON& other, bool typeCheck, int depth) {
  if (depth > kJSONMaxNesting) throw SwiftyJSONException(Error::elementTooDeep);
  if (type_ != other.type_) {
    if (typeCheck) throw SwiftyJSONException(Error::wrongType);
    *this = other;
    return;
  }
  switch (type_) {
    case Type::dictionary: {
      // Both member lists are sorted by key: one pass over the two builds
      // the result, instead of a copy of the whole map per key.
      const auto a = object_.members(), b = other.object_.members();
      std::vector<json_detail::Member> joined;
      joined.reserve(a.size() + b.size());
      std::size_t i = 0;
      for (const json_detail::Member& theirs : b) {
        while (i < a.size() && a[i].key < theirs.key) joined.push_back(a[i++]);
        JSON mine = i < a.size() && a[i].key == theirs.key ? JSON(a[i++].value) : keyStep(theirs.key);
        mine.mergeInto(JSON(theirs.value), false, depth + 1);
        joined.push_back({theirs.key, mine.object()});
      }
      while (i < a.size()) joined.push_back(a[i++]);
      object_ = JSONObject::adoptSortedMembers(joined.data(), joined.size());
      break;
    }
    case Type::array: {
      std::vector<JSONObject> joined;
      const auto a = object_.items(), b = other.object_.items();
      joined.reserve(a.size() + b.size());
      joined.insert(joined.end(), a.begin(), a.end());
      joined.insert(joined.end(), b.begin(), b.end());
      *this = JSON(JSONObject::adoptArray(std::move(joined)));
      break;
    }
    default: *this = other; break;
  }
}

// ---- iteration ----

bool operator==(const JSON::Index& a, const JSON::Index& b) noexcept {
  return a.kind_ == b.kind_ && (a.kind_ == JSON::Index::Kind::null || a.position_ == b.position_);
}

bool operator<(const JSON::Index& a, const JSON::Index& b) noexcept {
  return a.kind_ == b.kind_ && a.kind_ != JSON::Index::Kind::null && a.position_ < b.position_;
}

std::size_t JSON::count() const noexcept {
  if (type_ == Type::array) return object_.items().size();
  if (type_ == Type::dictionary) return object_.members().size();
  return 0;
}

JSON::Index JSON::startIndex() const noexcept {
  if (type_ == Type::array) return Index::array(0);
  if (type_ == Type::dictionary) return Index::dictionary(0);
  return Index::null();
}

JSON::Index JSON::endIndex() const noexcept {
  const auto n = static_cast<std::int64_t>(count());
  if (type_ == Type::array) return Index::array(n);
  if (type_ == Type::dictionary) return Index::dictionary(n);
  return Index::null();
}

JSON::Index JSON::indexAfter(const Index& i) const noexcept {
  switch (i.kind()) {
    case Index::Kind::array: return Index::array(i.position() + 1);
    case Index::Kind::dictionary: return Index::dictionary(i.position() + 1);
    case Index::Kind::null: return Index::null();
  }
  return Index::null();
}

// A position that is not one of this value's own gives ("", null) instead of
// reading out of bounds.
std::pair<std::string, JSON> JSON::operator[](const Index& position) const {
  const auto p = position.position();
  if (position.kind() == Index::Kind::array && type_ == Type::array) {
    const auto items = object_.items();
    if (p >= 0 && static_cast<std::uint64_t>(p) < items.size())
      return {std::to_string(p), JSON(items[static_cast<std::size_t>(p)])};
  } else if (position.kind() == Index::Kind::dictionary && type_ == Type::dictionary) {
    const auto members = object_.members();
    if (p >= 0 && static_cast<std::uint64_t>(p) < members.size()) {
      const auto& m = members[static_cast<std::size_t>(p)];
      return {m.key, JSON(m.value)};
    }
  }
  return {std::string(), JSON()};
}

}  // namespace hw
