// rig_types: the data of one rig type's command set: the rig parameters, the value formats,
// where a value lies in a command or reply (TParamValue), the pattern tests on replies
// (TBitMask) and one command (TRigCommand). Plain values; safe to share read-only between threads.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_funs.h"

namespace tarvane {

// The rig parameters. The names are also the section names of write commands, and parameter n is
// bit n of the bus's parameter bit set. pmFreq..pmRitOffset are numbers, all others flags;
// pmRit0 (clear the RIT offset) is a flag that is only ever written.
enum TRigParam : uint8_t {
  pmNone, pmFreq, pmFreqA, pmFreqB, pmPitch, pmRitOffset, pmRit0,
  pmVfoAA, pmVfoAB, pmVfoBA, pmVfoBB, pmVfoA, pmVfoB, pmVfoEqual, pmVfoSwap,
  pmSplitOn, pmSplitOff, pmRitOn, pmRitOff, pmXitOn, pmXitOff, pmRx, pmTx,
  pmCW_U, pmCW_L, pmSSB_U, pmSSB_L, pmDIG_U, pmDIG_L, pmAM, pmFM,
};
inline constexpr int kRigParamCount = 31;

// True for pmFreq..pmRitOffset.
constexpr bool IsNumericParam(TRigParam p) { return p >= pmFreq && p <= pmRitOffset; }
// "pmFreq" for pmFreq.
const char* RigParamName(TRigParam p);
// The parameter named `name`, ignoring case.
std::optional<TRigParam> StrToRigParam(std::string_view name);

// A set of rig parameters (bit n for parameter n).
class TRigParamSet {
 public:
  constexpr TRigParamSet() = default;
  constexpr TRigParamSet(std::initializer_list<TRigParam> params) {
    for (const TRigParam p : params) Include(p);
  }
  constexpr void Include(TRigParam p) { bits_ |= Bit(p); }
  constexpr void Exclude(TRigParam p) { bits_ &= ~Bit(p); }
  constexpr bool Contains(TRigParam p) const { return (bits_ & Bit(p)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Clear() { bits_ = 0; }
  constexpr uint32_t Bits() const { return bits_; }
  friend constexpr bool operator==(TRigParamSet a, TRigParamSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr uint32_t Bit(TRigParam p) { return p < kRigParamCount ? 1u << p : 0u; }
  uint32_t bits_ = 0;
};

// The bus's integer for a set: bit n for each member n.
int32_t ParamsToInt(TRigParamSet params);
// 1 shl p.
int32_t ParamToInt(TRigParam p);
// The parameter p with 1 shl p = i; pmNone for a value with several bits or none.
TRigParam IntToParam(int32_t i);

// How a number is encoded in a command or reply.
enum TValueFormat : uint8_t {
  vfNone,   // no value
  vfText,   // ASCII decimal digits
  vfBinL,   // binary integer, least significant byte first
  vfBinB,   // binary integer, most significant byte first
  vfBcdLU,  // packed BCD, least significant byte first, unsigned
  vfBcdLS,  // packed BCD, least significant byte first, signed
  vfBcdBU,  // packed BCD, most significant byte first, unsigned
  vfBcdBS,  // packed BCD, most significant byte first, signed
  vfYaesu,  // binary, most significant byte first, sign in bit 7 of the first byte
};
inline constexpr int kValueFormatCount = 9;

const char* ValueFormatName(TValueFormat f);
// The format named `name` ("vfText"), ignoring case.
std::optional<TValueFormat> StrToValueFormat(std::string_view name);

// Where a number lies in a command or reply, and its linear scaling.
struct TParamValue {
  int32_t Start = 0;  // zero-based byte offset
  int32_t Len = 0;    // number of bytes
  TValueFormat Fmt = vfNone;
  float Mult = 0;
  float Add = 0;
  TRigParam Param = pmNone;  // pmNone in write commands
  // The range a status value must lie in after scaling (Min..Max, both included), when Ranged.
  // A protocol without framing cannot tell the radio's reply from line noise of the same length;
  // a value outside what the radio can report marks the whole reply as noise.
  bool Ranged = false;
  int32_t Min = 0;
  int32_t Max = 0;
};

// A pattern test on a reply: (reply AND Mask) = Flags. An all-empty mask tests nothing.
struct TBitMask {
  TByteArray Mask;
  TByteArray Flags;            // expected bits; same length as Mask
  TRigParam Param = pmNone;    // the flag that holds when the test succeeds; pmNone to validate
};

// One command of a rig type.
struct TRigCommand {
  TByteArray Code;              // the bytes sent
  TParamValue Value;            // where a write command's value goes into Code
  int32_t ReplyLength = 0;      // expected reply length, 0 = not fixed
  TByteArray ReplyEnd;          // bytes that end a reply, empty = not used
  TBitMask Validation;          // every reply of this command must pass it
  std::vector<TParamValue> Values;  // numbers read from a status reply
  std::vector<TBitMask> Flags;      // flags read from a status reply
};
using TRigCommandArray = std::vector<TRigCommand>;

}  // namespace tarvane
