// value_formats: how numbers (frequencies in Hz, offsets, pitch) are encoded in the commands sent
// to a radio and decoded from its replies, as a rig description file names them (TValueFormat),
// with a position, a length and a linear scaling (TParamValue).
//
// Scaling, both ways: x = Round(v * Mult + Add) in extended precision, halves to the even
// neighbour; a result outside the signed 32-bit range is a range error.
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

// Round(v * Mult + Add), halves to even; raises ERangeError outside the 32-bit range.
int32_t ScaleValue(long double v, const TParamValue& pv);

// Encodes a client's value for a write command: exactly Len bytes (none for a negative Len).
// A negative scaled value for an unsigned BCD format is logged as
// "RIG<n>: {!}user passed invalid value: <value>" and gives Len zero bytes. Raises ERangeError
// when the scaled value does not fit 32 bits.
TByteArray FormatValue(int32_t value, const TParamValue& pv, int rigNumber, const TLogProc& log);

// Decodes the Len bytes at Start of a status reply into a scaled parameter value. Any failure
// gives nullopt: a field beyond the reply logs "RIG<n>: {!}reply too short", bad text
// "RIG<n>: {!}invalid reply", bad BCD "RIG<n>: {!}invalid BCD value"; a scaled value beyond
// 32 bits is dropped silently.
std::optional<int32_t> UnformatValue(const TByteArray& reply, const TParamValue& pv,
                                     int rigNumber, const TLogProc& log);

}  // namespace tarvane
