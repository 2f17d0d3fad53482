// decimal_frequency: frequencies typed or shown as decimal MHz text turned into whole units by
// exact decimal arithmetic, never through a binary double (14.0705 MHz times 1000000 in a double
// is 14070499.999..., which truncates a hertz short).
//
// The text is read as the logbook reads any number: blanks around it ignored, an optional sign,
// digits with at most one point, an optional exponent ("1.4E1"), always in the C locale. The value
// is then shifted by the unit's power of ten and truncated towards zero: MHz text to hertz shifts
// by 6 ("2.002" gives 2002000), to the band limits' 10 kHz units by 2 ("14.3509" gives 1435).
//
// Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere {

struct ScaledDecimal {
  enum class Status { Ok, NotANumber, OutOfRange };
  Status status = Status::NotANumber;
  // The value times 10^decimals, truncated towards zero; INT64_MIN or INT64_MAX by the sign when
  // OutOfRange, 0 when NotANumber.
  int64_t value = 0;
};

// `text` times 10^`decimals` (0..18), truncated towards zero. OutOfRange when the magnitude does
// not fit in 18 decimal digits.
ScaledDecimal ScaleDecimalText(std::string_view text, int decimals);

// The largest frequency the rig server's bus carries: hertz are signed 32-bit integers there.
inline constexpr int64_t kMaxBusHertz = INT32_MAX;

struct HertzFromText {
  std::optional<int32_t> hertz;  // set when the text is a usable frequency
  std::string error;             // otherwise, why not (names the text)
};

// MHz text to whole hertz, truncated. Refused, with a message naming the text: a text that is no
// number, a frequency that is 0 Hz or below once truncated, and one beyond kMaxBusHertz.
HertzFromText MHzTextToHertz(std::string_view mhzText);

}  // namespace quillmere
