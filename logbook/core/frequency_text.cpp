#include "frequency_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quillmere {

double MHzFromHz(int64_t hz) { return double(hz) * 0.000001; }

std::string FormatFixed(double value, int precision, int digits) {
  if (!std::isfinite(value)) return FormatGeneral(value);
  // Digits before the point take their share of the significant digits; the decimals get the
  // rest (never more than `digits`) and zeros pad them to `digits`.
  const double magnitude = std::fabs(value);
  const int before = magnitude < 1.0 ? 1 : int(std::floor(std::log10(magnitude))) + 1;
  const int decimals = std::clamp(precision - before, 0, digits);
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return FormatGeneral(value);
  std::string out(text, end);
  if (digits > 0) {
    if (decimals == 0) out += '.';
    out.append(size_t(digits - decimals), '0');
  }
  return out;
}

std::string FormatGeneral(double value) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
  if (ec != std::errc()) return std::string();
  return std::string(text, end);
}

}  // namespace quillmere
