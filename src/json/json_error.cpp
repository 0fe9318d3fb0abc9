#include "json/json_error.h"

namespace hw {

std::optional<JSONType> jsonTypeFromRawValue(std::int64_t raw) {
  if (raw < 0 || raw > 6) return std::nullopt;
  return static_cast<JSONType>(raw);
}

std::string_view jsonTypeName(JSONType type) {
  switch (type) {
    case JSONType::number: return "number";
    case JSONType::string: return "string";
    case JSONType::bool_: return "bool";
    case JSONType::array: return "array";
    case JSONType::dictionary: return "dictionary";
    case JSONType::null: return "null";
    case JSONType::unknown: return "unknown";
  }
  return "unknown";
}

namespace swifty_json_error {

std::optional<SwiftyJSONError> fromRawValue(std::int64_t raw) {
  switch (raw) {
    case 999: return SwiftyJSONError::unsupportedType;
    case 900: return SwiftyJSONError::indexOutOfBounds;
    case 902: return SwiftyJSONError::elementTooDeep;
    case 901: return SwiftyJSONError::wrongType;
    case 500: return SwiftyJSONError::notExist;
    case 490: return SwiftyJSONError::invalidJSON;
    default: return std::nullopt;
  }
}

std::string_view errorDomain() { return "com.swiftyjson.SwiftyJSON"; }

int errorCode(SwiftyJSONError error) { return static_cast<int>(error); }

std::string_view message(SwiftyJSONError error) {
  switch (error) {
    case SwiftyJSONError::unsupportedType: return "It is a unsupported type.";
    case SwiftyJSONError::indexOutOfBounds: return "Array Index is out of bounds.";
    case SwiftyJSONError::elementTooDeep:
      return "Element too deep. Increase maxObjectDepth and make sure there is no reference loop.";
    case SwiftyJSONError::wrongType: return "Couldn't merge, because the JSONs differ in type on top level.";
    case SwiftyJSONError::notExist: return "Dictionary key does not exist.";
    case SwiftyJSONError::invalidJSON: return "JSON is invalid.";
  }
  return {};
}

std::map<std::string, std::string> errorUserInfo(SwiftyJSONError error) {
  return {{std::string(localizedDescriptionKey), std::string(message(error))}};
}

}  // namespace swifty_json_error

SwiftyJSONException::SwiftyJSONException(SwiftyJSONError error)
    : std::runtime_error(std::string(swifty_json_error::message(error))), error_(error) {}

JSONParseError::JSONParseError(std::string message, std::size_t byteOffset)
    : std::runtime_error(std::move(message)), byteOffset_(byteOffset) {}

}  // namespace hw
