// value_formats: how numbers (frequencies in Hz, offsets, pitch) are encoded in the commands sent
// to a radio and decoded from its replies, as a rig description file names them (TValueFormat),
// with a position, a length and a linear scaling (TParamValue).
//
// Scaling, both ways: x = Round(v * Mult + Add) in extended precision, halves to the even
// neighbour; a result outside the signed 32-bit range is a range error.
//
// A value is never cut to fit its field: a value the field cannot hold is refused (EValueError),
// since sending what is left of it would set the radio to another frequency.
//
// Pure functions apart from the log lines they write; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>

#include "byte_funs.h"
#include "log_file.h"
#include "rig_types.h"

namespace tarvane {

// A scaled value that does not fit a signed 32-bit integer.
class ERangeError : public std::runtime_error {
 public:
  ERangeError() : std::runtime_error("Range check error") {}
};

// A scaled value that the field cannot hold in its format and length: more digits than the text
// or the BCD digits take, more bits than the binary bytes take, a magnitude that would reach the
// sign bit or sign byte, a negative value for an unsigned format, or no room at all.
class EValueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Round(v * Mult + Add), halves to even; raises ERangeError outside the 32-bit range.
int32_t ScaleValue(long double v, const TParamValue& pv);

// Encodes a client's value for a write command: exactly Len bytes (vfNone: Len zero bytes).
// Raises ERangeError when the scaled value does not fit 32 bits and EValueError when it does not
// fit the field. A negative scaled value for an unsigned BCD format is also logged as
// "RIG<n>: {!}user passed invalid value: <value>" with the client's unscaled value.
//
// What fits a field of Len bytes (L):
//   vfText   the decimal text with its '-' in L characters; negative values are padded after the
//            sign ("-005"), so they read back as written
//   vfBinL, vfBinB   L >= 4: any value; L < 4: -2^(8L-1) .. 2^(8L)-1 (signed or unsigned bytes)
//   vfBcdLU, vfBcdBU 0 .. 10^(2L)-1
//   vfBcdLS, vfBcdBS |x| below 10^(2L-2): the sign byte holds no digits, for either sign
//   vfYaesu  |x| below 2^(8L-1) (L <= 4) or 2^31 (longer fields), clear of the sign bit
TByteArray FormatValue(int32_t value, const TParamValue& pv, int rigNumber, const TLogProc& log);

// Decodes the Len bytes at Start of a status reply into a scaled parameter value. Any failure
// gives nullopt: a field beyond the reply logs "RIG<n>: {!}reply too short", bad text
// "RIG<n>: {!}invalid reply", bad BCD "RIG<n>: {!}invalid BCD value"; a scaled value beyond
// 32 bits is dropped silently.
std::optional<int32_t> UnformatValue(const TByteArray& reply, const TParamValue& pv,
                                     int rigNumber, const TLogProc& log);

}  // namespace tarvane
