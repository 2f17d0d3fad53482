#include "decimal_frequency.h"

#include <cctype>
#include <cstdint>

#include "ascii_text.h"

namespace quillmere {

namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

constexpr int kMaxDigits = 18;       // 10^18 still fits a signed 64-bit integer
constexpr long kExponentCap = 100000;  // far beyond any digit count a text can hold

}  // namespace

ScaledDecimal ScaleDecimalText(std::string_view text, int decimals) {
  ScaledDecimal out;
  std::string_view t = TrimWhiteSpace(text);
  const bool negative = TakeSign(t);
  // Mantissa: the digits without the point, and how many of them stand before it.
  std::string digits;
  long beforePoint = 0;
  bool point = false;
  size_t i = 0;
  for (; i < t.size(); ++i) {
    if (IsDigit(t[i])) {
      digits += t[i];
      if (!point) ++beforePoint;
    } else if (t[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits.empty()) return out;
  long exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negativeExponent = t[i++] == '-';
    if (i >= t.size() || !IsDigit(t[i])) return out;
    for (; i < t.size() && IsDigit(t[i]); ++i)
      if (exponent < kExponentCap) exponent = exponent * 10 + (t[i] - '0');
    if (negativeExponent) exponent = -exponent;
  }
  if (i != t.size()) return out;

  // The digits that make up the whole part of text * 10^decimals.
  const long whole = beforePoint + exponent + decimals;
  size_t first = 0;
  while (first < digits.size() && digits[first] == '0') ++first;
  out.status = ScaledDecimal::Status::Ok;
  if (first == digits.size() || whole <= static_cast<long>(first)) return out;  // zero after truncation
  if (whole - static_cast<long>(first) > kMaxDigits) {
    out.status = ScaledDecimal::Status::OutOfRange;
    out.value = negative ? INT64_MIN : INT64_MAX;
    return out;
  }
  int64_t value = 0;
  for (long d = static_cast<long>(first); d < whole; ++d)
    value = value * 10 + (d < static_cast<long>(digits.size()) ? digits[static_cast<size_t>(d)] - '0' : 0);
  out.value = negative ? -value : value;
  return out;
}

HertzFromText MHzTextToHertz(std::string_view mhzText) {
  HertzFromText out;
  const std::string quoted = "'" + std::string(mhzText) + "'";
  const ScaledDecimal hz = ScaleDecimalText(mhzText, 6);
  if (hz.status == ScaledDecimal::Status::NotANumber) {
    out.error = quoted + " is not a valid floating point value";
  } else if (hz.value <= 0) {
    out.error = quoted + " is not a valid frequency: it must be above 0 MHz";
  } else if (hz.status == ScaledDecimal::Status::OutOfRange || hz.value > kMaxBusHertz) {
    out.error = quoted + " is not a valid frequency: it must not be above 2147.483647 MHz";
  } else {
    out.hertz = static_cast<int32_t>(hz.value);
  }
  return out;
}

}  // namespace quillmere
