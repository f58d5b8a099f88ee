#include "yaml/yaml_value.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#ifndef __cpp_lib_to_chars
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <locale.h>
#endif

namespace core {
namespace {

bool is_digit_in(char c, int base) {
  if (base == 16) return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  return c >= '0' && c < static_cast<char>('0' + base);
}

bool all_digits(std::string_view s, int base) {
  if (s.empty()) return false;
  for (char c : s)
    if (!is_digit_in(c, base)) return false;
  return true;
}

size_t count_decimal_digits(std::string_view s, size_t from) {
  size_t i = from;
  while (i < s.size() && is_digit_in(s[i], 10)) ++i;
  return i - from;
}

std::string_view drop_sign(std::string_view text, bool& negative) {
  negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  return text;
}

std::optional<YamlValue> resolve_integer(std::string_view text) {
  bool negative = false;
  std::string_view digits = drop_sign(text, negative);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0') {
    if (digits[1] == 'x') base = 16;
    if (digits[1] == 'o') base = 8;
    if (digits[1] == 'b') base = 2;
    if (base != 10) digits.remove_prefix(2);
  }
  if (!all_digits(digits, base)) return std::nullopt;
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  if (ec != std::errc{} || magnitude > limit) return YamlValue{YamlValue::BigInteger{std::string(text)}};
  // Unsigned negation wraps modulo 2^64, which also gives the minimum for 2^63.
  return YamlValue{static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude)};
}

// Sign, digits with a fraction or an exponent or both; ".5" and "1." count.
bool is_decimal_float(std::string_view t) {
  size_t i = (t.starts_with('-') || t.starts_with('+')) ? 1 : 0;
  const size_t whole = count_decimal_digits(t, i);
  i += whole;
  size_t fraction = 0;
  const bool dot = i < t.size() && t[i] == '.';
  if (dot) {
    fraction = count_decimal_digits(t, i + 1);
    i += 1 + fraction;
  }
  if (whole + fraction == 0) return false;
  const bool exponent = i < t.size() && (t[i] == 'e' || t[i] == 'E');
  if (exponent) {
    ++i;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
    const size_t digits = count_decimal_digits(t, i);
    if (digits == 0) return false;
    i += digits;
  }
  return i == t.size() && (dot || exponent);
}

// The value of an unsigned decimal float (one that passed is_decimal_float,
// not all zeros) too large or too small for a double: zero when its first
// significant digit stands right of the point by more than its exponent
// brings it back, else infinity. Only the sign of that sum matters, so the
// exponent is read no further than a bound far beyond any double.
double out_of_range_value(std::string_view text) {
  const size_t e = std::min(text.find_first_of("eE"), text.size());
  const std::string_view mantissa = text.substr(0, e);
  const size_t point = std::min(mantissa.find('.'), mantissa.size());
  const size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) return 0.0;
  // The power of ten of the first significant digit, before the exponent.
  const long long place = first < point ? static_cast<long long>(point - first - 1)
                                        : -static_cast<long long>(first - point);
  long long exponent = 0;
  if (e < text.size()) {
    std::string_view digits = text.substr(e + 1);
    bool negative = false;
    digits = drop_sign(digits, negative);
    for (char c : digits)
      if (exponent < 1'000'000'000'000) exponent = exponent * 10 + (c - '0');
    if (negative) exponent = -exponent;
  }
  return place + exponent < 0 ? 0.0 : std::numeric_limits<double>::infinity();
}

#ifdef __cpp_lib_to_chars
double decimal_float_value(std::string_view text) {
  bool negative = false;
  std::string_view unsigned_text = drop_sign(text, negative);
  double value = 0;
  auto [end, ec] = std::from_chars(unsigned_text.data(), unsigned_text.data() + unsigned_text.size(), value);
  if (ec == std::errc::result_out_of_range) value = out_of_range_value(unsigned_text);
  return negative ? -value : value;
}
#else
// For standard libraries without a floating-point from_chars (libc++ 16, used
// by the fuzz build); gives the values of the version above. `text` has
// passed is_decimal_float, so strtod reads all of it; under the "C" locale
// the decimal point is "." whatever the process locale is. Both round to
// nearest, and both report out of range exactly when the result is infinite
// or is zero from digits that are not all zero (a subnormal is a value).
double decimal_float_value(std::string_view text) {
  bool negative = false;
  const std::string unsigned_text(drop_sign(text, negative));
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
  errno = 0;
  double value = strtod_l(unsigned_text.c_str(), nullptr, c_locale);
  if (errno == ERANGE && (value == 0.0 || std::isinf(value))) value = out_of_range_value(unsigned_text);
  return negative ? -value : value;
}
#endif

std::optional<double> special_float(std::string_view text) {
  bool negative = false;
  std::string_view rest = drop_sign(text, negative);
  if (rest == ".inf" || rest == ".Inf" || rest == ".INF")
    return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  if (text == ".nan" || text == ".NaN" || text == ".NAN") return std::numeric_limits<double>::quiet_NaN();
  return std::nullopt;
}

std::string float_form(double value) {
  if (std::isnan(value)) return ".nan";
  if (std::isinf(value)) return value < 0 ? "-.inf" : ".inf";
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, end);
  // "3" or "1e+20" would read back as an integer or, for older readers, as
  // text; a ".0" keeps the value a float everywhere.
  if (text.find('.') == std::string::npos) text.insert(std::min(text.find('e'), text.size()), ".0");
  return text;
}

}  // namespace

YamlValue resolve_plain_scalar(std::string_view text) {
  if (text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL") return {YamlValue::Null{}};
  if (text == "true" || text == "True" || text == "TRUE") return {true};
  if (text == "false" || text == "False" || text == "FALSE") return {false};
  if (auto integer = resolve_integer(text)) return std::move(*integer);
  if (is_decimal_float(text)) return {decimal_float_value(text)};
  if (auto special = special_float(text)) return {*special};
  return {std::string(text)};
}

bool reads_as_text(std::string_view text) {
  return std::holds_alternative<std::string>(resolve_plain_scalar(text).value);
}

std::string plain_form(const YamlValue& scalar) {
  const auto& v = scalar.value;
  if (std::holds_alternative<YamlValue::Null>(v)) return "null";
  if (const bool* b = std::get_if<bool>(&v)) return *b ? "true" : "false";
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const double* d = std::get_if<double>(&v)) return float_form(*d);
  if (const auto* big = std::get_if<YamlValue::BigInteger>(&v)) return big->text;
  if (const auto* text = std::get_if<std::string>(&v)) return *text;
  return {};
}

}  // namespace core
