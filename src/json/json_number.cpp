#include "json/json_number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace hw {

namespace {

template <typename T>
T saturateDouble(double d) noexcept {
  if (std::isnan(d)) return 0;
  // Bounds as doubles: max() may round up, so compare with >=.
  constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
  constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
  if (d <= lo) return std::numeric_limits<T>::min();
  if (d >= hi) return std::numeric_limits<T>::max();
  return static_cast<T>(d);
}

template <typename T>
T saturateSigned(std::int64_t v) noexcept {
  if (std::cmp_less(v, std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (std::cmp_greater(v, std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(v);
}

template <typename T>
T saturateUnsigned(std::uint64_t v) noexcept {
  if (std::cmp_greater(v, std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(v);
}

// Exact comparison of an integer with a double, without a lossy conversion.
std::partial_ordering compareIntDouble(std::int64_t i, double d) noexcept {
  if (std::isnan(d)) return std::partial_ordering::greater;
  if (d >= 9223372036854775808.0) return std::partial_ordering::less;
  if (d < -9223372036854775808.0) return std::partial_ordering::greater;
  const double t = std::trunc(d);
  const auto ti = static_cast<std::int64_t>(t);
  if (i != ti) return i < ti ? std::partial_ordering::less : std::partial_ordering::greater;
  if (d > t) return std::partial_ordering::less;
  if (d < t) return std::partial_ordering::greater;
  return std::partial_ordering::equivalent;
}

std::partial_ordering compareUnsignedDouble(std::uint64_t u, double d) noexcept {
  if (std::isnan(d)) return std::partial_ordering::greater;
  if (d >= 18446744073709551616.0) return std::partial_ordering::less;
  if (d < 0) return std::partial_ordering::greater;
  const double t = std::trunc(d);
  const auto tu = static_cast<std::uint64_t>(t);
  if (u != tu) return u < tu ? std::partial_ordering::less : std::partial_ordering::greater;
  if (d > t) return std::partial_ordering::less;
  return std::partial_ordering::equivalent;
}

std::partial_ordering flip(std::partial_ordering o) noexcept {
  if (o == std::partial_ordering::less) return std::partial_ordering::greater;
  if (o == std::partial_ordering::greater) return std::partial_ordering::less;
  return o;
}

}  // namespace

template <typename T>
T JSONNumber::saturated() const noexcept {
  switch (kind_) {
    case Kind::boolean:
    case Kind::integer: return saturateSigned<T>(i_);
    case Kind::unsignedInteger: return saturateUnsigned<T>(u_);
    case Kind::real: return saturateDouble<T>(d_);
  }
  return 0;
}

std::int8_t JSONNumber::charValue() const noexcept { return saturated<std::int8_t>(); }
std::uint8_t JSONNumber::unsignedCharValue() const noexcept { return saturated<std::uint8_t>(); }
std::int16_t JSONNumber::shortValue() const noexcept { return saturated<std::int16_t>(); }
std::uint16_t JSONNumber::unsignedShortValue() const noexcept { return saturated<std::uint16_t>(); }
std::int32_t JSONNumber::intValue() const noexcept { return saturated<std::int32_t>(); }
std::uint32_t JSONNumber::unsignedIntValue() const noexcept { return saturated<std::uint32_t>(); }

bool JSONNumber::boolValue() const noexcept {
  switch (kind_) {
    case Kind::boolean:
    case Kind::integer: return i_ != 0;
    case Kind::unsignedInteger: return u_ != 0;
    case Kind::real: return d_ != 0;  // NaN is true, as any non-zero
  }
  return false;
}

double JSONNumber::doubleValue() const noexcept {
  switch (kind_) {
    case Kind::boolean:
    case Kind::integer: return static_cast<double>(i_);
    case Kind::unsignedInteger: return static_cast<double>(u_);
    case Kind::real: return d_;
  }
  return 0;
}

// Beyond the float range the reading is infinite, never an undefined conversion.
float JSONNumber::floatValue() const noexcept {
  const double d = doubleValue();
  if (d > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (d < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(d);
}

std::int64_t JSONNumber::integerValue() const noexcept { return saturated<std::int64_t>(); }

std::uint64_t JSONNumber::unsignedIntegerValue() const noexcept { return saturated<std::uint64_t>(); }

std::string JSONNumber::stringValue() const {
  char buffer[64];
  std::to_chars_result r{};
  switch (kind_) {
    case Kind::boolean:
    case Kind::integer: r = std::to_chars(buffer, buffer + sizeof buffer, i_); break;
    case Kind::unsignedInteger: r = std::to_chars(buffer, buffer + sizeof buffer, u_); break;
    case Kind::real:
      if (std::isnan(d_)) return "nan";
      if (std::isinf(d_)) return d_ > 0 ? "inf" : "-inf";
      r = std::to_chars(buffer, buffer + sizeof buffer, d_);
      break;
  }
  return std::string(buffer, r.ptr);
}

std::partial_ordering JSONNumber::compare(const JSONNumber& o) const noexcept {
  const bool aReal = kind_ == Kind::real, bReal = o.kind_ == Kind::real;
  if (aReal && bReal) {
    const bool an = std::isnan(d_), bn = std::isnan(o.d_);
    if (an || bn) {
      if (an && bn) return std::partial_ordering::equivalent;
      return an ? std::partial_ordering::less : std::partial_ordering::greater;
    }
    return d_ <=> o.d_;
  }
  const bool aUnsigned = kind_ == Kind::unsignedInteger, bUnsigned = o.kind_ == Kind::unsignedInteger;
  if (aReal) return flip(bUnsigned ? compareUnsignedDouble(o.u_, d_) : compareIntDouble(o.i_, d_));
  if (bReal) return aUnsigned ? compareUnsignedDouble(u_, o.d_) : compareIntDouble(i_, o.d_);
  if (aUnsigned && bUnsigned) return u_ <=> o.u_;
  if (aUnsigned) return o.i_ < 0 ? std::partial_ordering::greater : (u_ <=> static_cast<std::uint64_t>(o.i_));
  if (bUnsigned) return i_ < 0 ? std::partial_ordering::less : (static_cast<std::uint64_t>(i_) <=> o.u_);
  return i_ <=> o.i_;
}

namespace {
bool comparable(const JSONNumber& a, const JSONNumber& b) noexcept { return a.isBool() == b.isBool(); }
}  // namespace

bool operator==(const JSONNumber& a, const JSONNumber& b) noexcept {
  return comparable(a, b) && a.compare(b) == std::partial_ordering::equivalent;
}
bool operator<(const JSONNumber& a, const JSONNumber& b) noexcept {
  return comparable(a, b) && a.compare(b) == std::partial_ordering::less;
}
bool operator<=(const JSONNumber& a, const JSONNumber& b) noexcept {
  return comparable(a, b) && a.compare(b) != std::partial_ordering::greater;
}
bool operator>(const JSONNumber& a, const JSONNumber& b) noexcept {
  return comparable(a, b) && a.compare(b) == std::partial_ordering::greater;
}
bool operator>=(const JSONNumber& a, const JSONNumber& b) noexcept {
  return comparable(a, b) && a.compare(b) != std::partial_ordering::less;
}

}  // namespace hw
