#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "ascii_text.h"

namespace quillmere {

namespace {

[[noreturn]] void NotANumber(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

}  // namespace

double TextToFloat(std::string_view text) {
  std::string_view t = TrimWhiteSpace(text);
  const bool negative = TakeSign(t);
  // from_chars takes no sign of its own here and neither "inf" nor "nan" must pass.
  if (t.empty() || !(std::isdigit(static_cast<unsigned char>(t.front())) || t.front() == '.'))
    NotANumber(text);
  double value = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(value)) NotANumber(text);
  return negative ? -value : value;
}

std::string FloatToText(double value) {
  if (value == 0) return "0";  // negative zero too
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string out(buf, res.ptr);
  // The general form keeps trailing zeros of the mantissa out already; the exponent is written
  // with a capital E as the rest of the logbook's texts have it.
  for (char& c : out)
    if (c == 'e') c = 'E';
  return out;
}

std::string FloatToFixed(double value, int precision, int digits) {
  if (!std::isfinite(value)) return FloatToText(value);
  if (precision < 1) precision = 1;
  if (digits < 0) digits = 0;
  // The significant digits and the decimal exponent of the value rounded to `precision` digits.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific,
                                 precision - 1);
  const std::string sci(buf, res.ptr);
  const size_t e = sci.find('e');
  std::string mantissa;
  for (size_t i = 0; i < e; ++i)
    if (sci[i] != '.') mantissa += sci[i];
  const int exponent = std::atoi(sci.c_str() + e + 1);
  if (value != 0 && exponent + 1 > precision) return FloatToText(value);
  // Integer part: mantissa digits up to the point; fraction: the rest, padded with zeros.
  std::string integer, fraction;
  if (value == 0) {
    integer = "0";
  } else if (exponent >= 0) {
    integer = mantissa.substr(0, static_cast<size_t>(exponent) + 1);
    while (integer.size() < static_cast<size_t>(exponent) + 1) integer += '0';
    if (mantissa.size() > static_cast<size_t>(exponent) + 1)
      fraction = mantissa.substr(static_cast<size_t>(exponent) + 1);
  } else {
    integer = "0";
    fraction = std::string(static_cast<size_t>(-exponent - 1), '0') + mantissa;
  }
  // Round the fraction to `digits` places, half away from zero, on the decimal digits.
  if (fraction.size() > static_cast<size_t>(digits)) {
    const bool up = fraction[static_cast<size_t>(digits)] >= '5';
    fraction.resize(static_cast<size_t>(digits));
    if (up) {
      std::string all = integer + fraction;
      int i = static_cast<int>(all.size()) - 1;
      while (i >= 0 && all[static_cast<size_t>(i)] == '9') all[static_cast<size_t>(i--)] = '0';
      if (i < 0)
        all.insert(all.begin(), '1');
      else
        ++all[static_cast<size_t>(i)];
      integer = all.substr(0, all.size() - fraction.size());
      fraction = all.substr(all.size() - fraction.size());
    }
  }
  while (fraction.size() < static_cast<size_t>(digits)) fraction += '0';
  bool zero = true;
  for (char c : integer + fraction)
    if (c != '0') zero = false;
  std::string out = (value < 0 && !zero) ? "-" : "";
  out += integer;
  if (digits > 0) out += "." + fraction;
  return out;
}

}  // namespace quillmere
