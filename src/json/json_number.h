#pragma once

#include <compare>
#include <concepts>
#include <cstdint>
#include <string>

namespace hw {

// The number object of a JSON value. Keeps booleans, signed, unsigned and
// floating numbers apart: a boolean is told from 0 and 1 by its storage kind.
class JSONNumber {
 public:
  enum class Kind : std::uint8_t { boolean, integer, unsignedInteger, real };

  constexpr JSONNumber() noexcept : kind_(Kind::integer), i_(0) {}
  static constexpr JSONNumber fromBool(bool value) noexcept { return JSONNumber(Kind::boolean, value ? 1 : 0); }
  static constexpr JSONNumber fromInteger(std::int64_t value) noexcept { return JSONNumber(Kind::integer, value); }
  static constexpr JSONNumber fromUnsigned(std::uint64_t value) noexcept {
    JSONNumber n(Kind::unsignedInteger, 0);
    n.u_ = value;
    return n;
  }
  static constexpr JSONNumber fromDouble(double value) noexcept {
    JSONNumber n(Kind::real, 0);
    n.d_ = value;
    return n;
  }

  constexpr Kind kind() const noexcept { return kind_; }
  // True only for numbers stored as booleans.
  constexpr bool isBool() const noexcept { return kind_ == Kind::boolean; }
  constexpr std::int64_t rawInteger() const noexcept { return i_; }
  constexpr std::uint64_t rawUnsigned() const noexcept { return u_; }
  constexpr double rawDouble() const noexcept { return d_; }

  // Readings. Integer readings of values out of the width's range saturate,
  // fractions truncate toward zero, NaN reads as 0.
  bool boolValue() const noexcept;
  double doubleValue() const noexcept;
  float floatValue() const noexcept;
  std::int64_t integerValue() const noexcept;
  std::uint64_t unsignedIntegerValue() const noexcept;
  std::int8_t charValue() const noexcept;
  std::uint8_t unsignedCharValue() const noexcept;
  std::int16_t shortValue() const noexcept;
  std::uint16_t unsignedShortValue() const noexcept;
  std::int32_t intValue() const noexcept;
  std::uint32_t unsignedIntValue() const noexcept;
  std::int64_t longLongValue() const noexcept { return integerValue(); }
  std::uint64_t unsignedLongLongValue() const noexcept { return unsignedIntegerValue(); }
  // Integers in decimal, floating numbers in their shortest round-trip form,
  // booleans as "1" or "0".
  std::string stringValue() const;

  // Order by value across kinds; NaN orders below every other number and
  // equal to itself, so the order is total.
  std::partial_ordering compare(const JSONNumber& other) const noexcept;

 private:
  constexpr JSONNumber(Kind kind, std::int64_t value) noexcept : kind_(kind), i_(value) {}
  template <typename T>
  T saturated() const noexcept;

  Kind kind_;
  union {
    std::int64_t i_;
    std::uint64_t u_;
    double d_;
  };
};

// A boolean number never equals or orders against a non-boolean one.
bool operator==(const JSONNumber& a, const JSONNumber& b) noexcept;
bool operator<(const JSONNumber& a, const JSONNumber& b) noexcept;
bool operator<=(const JSONNumber& a, const JSONNumber& b) noexcept;
bool operator>(const JSONNumber& a, const JSONNumber& b) noexcept;
bool operator>=(const JSONNumber& a, const JSONNumber& b) noexcept;

}  // namespace hw
