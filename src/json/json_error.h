#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace hw {

// Which slot of a JSON value is live. Raw values are part of the contract.
enum class JSONType : int { number = 0, string = 1, bool_ = 2, array = 3, dictionary = 4, null = 5, unknown = 6 };

std::optional<JSONType> jsonTypeFromRawValue(std::int64_t raw);
std::string_view jsonTypeName(JSONType type);

enum class SwiftyJSONError : int {
  unsupportedType = 999,
  indexOutOfBounds = 900,
  elementTooDeep = 902,
  wrongType = 901,
  notExist = 500,
  invalidJSON = 490,
};

namespace swifty_json_error {
std::optional<SwiftyJSONError> fromRawValue(std::int64_t raw);
// Each case as a general error: domain, code and a user info map.
std::string_view errorDomain();
int errorCode(SwiftyJSONError error);
std::string_view message(SwiftyJSONError error);
std::map<std::string, std::string> errorUserInfo(SwiftyJSONError error);
inline constexpr std::string_view localizedDescriptionKey = "NSLocalizedDescription";
}  // namespace swifty_json_error

// The plain constants; note the domain differs from the enumeration's.
inline constexpr std::string_view ErrorDomain = "SwiftyJSONErrorDomain";
inline constexpr int ErrorUnsupportedType = 999;
inline constexpr int ErrorIndexOutOfBounds = 900;
inline constexpr int ErrorWrongType = 901;
inline constexpr int ErrorNotExist = 500;
inline constexpr int ErrorInvalidJSON = 490;

// Thrown by merge and rawData.
class SwiftyJSONException : public std::runtime_error {
 public:
  explicit SwiftyJSONException(SwiftyJSONError error);
  SwiftyJSONError error() const noexcept { return error_; }
  int code() const noexcept { return static_cast<int>(error_); }

 private:
  SwiftyJSONError error_;
};

// Thrown by JSON::fromData when the bytes are not JSON text.
class JSONParseError : public std::runtime_error {
 public:
  JSONParseError(std::string message, std::size_t byteOffset);
  std::size_t byteOffset() const noexcept { return byteOffset_; }

 private:
  std::size_t byteOffset_;
};

}  // namespace hw
