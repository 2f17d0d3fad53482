// hx6_fctn_args: helpers shared by the built-in functions' sources (argument reading, range
// errors, the variant conversions of counts and widths). Internal to hx6_fctn.
//
// Thread-safety: stateless.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "expr/hx6_fctn.h"

namespace hx6_fctn {

// Reads argument `index` with the required type into a fresh value.
inline ThxExpValue Arg(ThxExpFunction& node, int index, uint8_t required, uint8_t& actual) {
  ThxExpValue value;
  node.GetArgument(index, value, required, actual);
  return value;
}

inline ThxExpValue Arg(ThxExpFunction& node, int index, uint8_t required) {
  uint8_t actual = etUnknown;
  return Arg(node, index, required, actual);
}

// The variant conversion of a number to an integer: to the nearest, a half to the even one.
inline double RoundVariant(double value) { return std::nearbyint(value); }

[[noreturn]] inline void ArgumentMustBe(const std::string& what, const char* range) {
  throw ESorrelExpression(smArgumentMustBe, {what, std::string(range)});
}

// A count or width that builds a text; above the cap (or not a number at all) the expression
// is refused.
inline void CheckTextCount(double count, const std::string& function) {
  if (!(count <= kMaxUdfTextCount)) ArgumentMustBe(function, "65535 or less");
}

// Writes a numeric result; a value that is not a number is refused, since it would break index
// order and every comparison.
inline void SetNumberResult(ThxExpValue& value, uint8_t& type, double number,
                            uint8_t resultType = etNumber) {
  if (std::isnan(number)) throw ESorrelExpression(smCannotEvaluate);
  value.SetNumber(number);
  type = resultType;
}

inline void SetTextResult(ThxExpValue& value, uint8_t& type, std::string text) {
  value.SetText(std::move(text));
  type = etText;
}

// The day number of a date value; the empty date 1.0E100 and anything else outside the range of
// day numbers is the engine's empty date 0.
inline int32_t JulianOf(double date) {
  // Written so that a NaN (a damaged binary field) fails the test too.
  double day = std::trunc(date);
  if (!(day >= static_cast<double>(std::numeric_limits<int32_t>::min()) &&
        day <= static_cast<double>(std::numeric_limits<int32_t>::max())))
    return 0;
  return static_cast<int32_t>(day);
}

// Blanks and control characters, as the run-time's trimming removes them.
inline bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

[[noreturn]] inline void DivisionByZero() {
  throw ESorrelExpression(smValueRequiredInvalid, {"non-zero"});
}

}  // namespace hx6_fctn
