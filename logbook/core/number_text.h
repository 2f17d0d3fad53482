// number_text: the logbook's conversions between numbers and their texts, always in the C locale
// (a point for decimals, whatever the desktop's language), so positions read from files and typed
// by the operator mean the same everywhere.
//
// Pure functions; safe from any thread.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quillmere {

// A text that is not a number where one is needed; the message names the text:
// "'abc' is not a valid floating point value".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The number written in `text`: blanks around it ignored, an optional sign, digits with an
// optional point and exponent. Anything else (empty text, a comma, trailing letters, infinities)
// raises EConvertError.
double TextToFloat(std::string_view text);

// `value` rounded to `precision` significant digits and written with exactly `digits` decimals
// ("359.96" with 6 and 1 gives "360.0"); no minus sign on a value that shows as zero. A value
// with more integer digits than `precision` is written as FloatToText gives it.
std::string FloatToFixed(double value, int precision, int digits);

// `value` in its shortest form of up to 15 significant digits, without trailing zeros
// ("65", "12.43", "-0.5"); zero is "0".
std::string FloatToText(double value);

}  // namespace quillmere
