#include "value_formats.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "text_utils.h"

namespace tarvane {

namespace {

void LogLine(const TLogProc& log, const std::string& text) {
  if (log) log(text);
}

// Number of decimal digits of a magnitude (0 has one).
size_t DigitCount(uint64_t m) {
  size_t n = 1;
  while (m >= 10) {
    m /= 10;
    ++n;
  }
  return n;
}

[[noreturn]] void Refuse(int64_t x, const TParamValue& pv) {
  throw EValueError(Format("value %lld does not fit %d bytes of %s", static_cast<long long>(x),
                           static_cast<int>(pv.Len), ValueFormatName(pv.Fmt)));
}

// The decimal text of x in exactly `len` characters: zeros between the sign and the digits.
// The caller has made sure that it fits.
std::string FixedText(int64_t x, size_t len) {
  const uint64_t m = x < 0 ? static_cast<uint64_t>(-x) : static_cast<uint64_t>(x);
  const std::string digits = std::to_string(m);
  const size_t sign = x < 0 ? 1 : 0;
  return std::string(sign, '-') + std::string(len - sign - digits.size(), '0') + digits;
}

// m as packed BCD in `len` bytes, most significant digits first, two digits per byte; the caller
// has made sure that the digits fit.
TByteArray BcdBU(uint64_t m, size_t len) {
  const std::string digits = FixedText(static_cast<int64_t>(m), 2 * len);
  TByteArray out(len);
  for (size_t i = 0; i < len; ++i) {
    out[i] = static_cast<uint8_t>(((digits[2 * i] - '0') << 4) | (digits[2 * i + 1] - '0'));
  }
  return out;
}

// Two's-complement bytes of x, least significant first; bytes beyond the fourth stay 0.
TByteArray BinL(uint32_t x, size_t len) {
  TByteArray out(len, 0);
  for (size_t i = 0; i < std::min<size_t>(len, 4); ++i) {
    out[i] = static_cast<uint8_t>(x >> (8 * i));
  }
  return out;
}

TByteArray BinB(uint32_t x, size_t len) {
  TByteArray out = BinL(x, len);
  ReverseBytes(out);
  return out;
}

// Little-endian signed integer: the first four bytes, or fewer sign-extended from the last.
int64_t DecodeBinL(const TByteArray& b) {
  if (b.size() >= 4) {
    const uint32_t u = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                       (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return static_cast<int32_t>(u);
  }
  int64_t v = 0;
  for (size_t i = 0; i < b.size(); ++i) v |= static_cast<int64_t>(b[i]) << (8 * i);
  if (!b.empty() && (b.back() & 0x80) != 0) v -= int64_t{1} << (8 * b.size());
  return v;
}

int64_t DecodeBinB(TByteArray b) {
  ReverseBytes(b);
  return DecodeBinL(b);
}

// Packed BCD, most significant first; nullopt for a nibble above 9 or a number above `limit`
// (INT32_MAX, or 2^31 for the magnitude of a negative value).
std::optional<int64_t> DecodeBcdBU(const TByteArray& b, int64_t limit) {
  int64_t v = 0;
  for (const uint8_t byte : b) {
    for (const int nibble : {byte >> 4, byte & 0x0F}) {
      if (nibble > 9) return std::nullopt;
      v = v * 10 + nibble;
      if (v > limit) return std::nullopt;
    }
  }
  return v;
}

}  // namespace

int32_t ScaleValue(long double v, const TParamValue& pv) {
  const long double x = v * static_cast<long double>(pv.Mult) + static_cast<long double>(pv.Add);
  if (!std::isfinite(x)) throw ERangeError();
  // Round half to even, whatever the floating-point rounding mode is.
  long double r = std::floor(x);
  const long double frac = x - r;
  if (frac > 0.5L || (frac == 0.5L && std::fmod(r, 2.0L) != 0)) r += 1;
  if (r < static_cast<long double>(INT32_MIN) || r > static_cast<long double>(INT32_MAX)) {
    throw ERangeError();
  }
  return static_cast<int32_t>(r);
}

TByteArray FormatValue(int32_t value, const TParamValue& pv, int rigNumber, const TLogProc& log) {
  const int64_t x = ScaleValue(value, pv);
  if (pv.Fmt == vfNone) return TByteArray(pv.Len > 0 ? static_cast<size_t>(pv.Len) : 0, 0);
  if (pv.Len <= 0) Refuse(x, pv);
  const auto len = static_cast<size_t>(pv.Len);
  const uint64_t m = x < 0 ? static_cast<uint64_t>(-x) : static_cast<uint64_t>(x);
  // Bits that a short binary field holds.
  const unsigned bits = static_cast<unsigned>(std::min<size_t>(len, 4) * 8);
  TByteArray out;
  switch (pv.Fmt) {
    case vfText: {
      if (DigitCount(m) + (x < 0 ? 1 : 0) > len) Refuse(x, pv);
      const std::string text = FixedText(x, len);
      out.assign(text.begin(), text.end());
      break;
    }
    case vfBinL:
    case vfBinB:
      // Short fields take the value as signed or as unsigned bytes, never with bits cut off.
      if (len < 4 && (x < -(int64_t{1} << (bits - 1)) || x >= (int64_t{1} << bits))) {
        Refuse(x, pv);
      }
      out = pv.Fmt == vfBinL ? BinL(static_cast<uint32_t>(x), len)
                             : BinB(static_cast<uint32_t>(x), len);
      break;
    case vfBcdBU:
    case vfBcdLU:
      if (x < 0) {
        LogLine(log, Format("RIG%d: {!}user passed invalid value: %d", rigNumber, value));
        Refuse(x, pv);
      }
      if (DigitCount(m) > 2 * len) Refuse(x, pv);
      out = BcdBU(m, len);
      if (pv.Fmt == vfBcdLU) ReverseBytes(out);
      break;
    case vfBcdBS:
    case vfBcdLS:
      // The sign byte carries no digits: a digit there would read back as a minus sign.
      if (len < 2 ? m != 0 : DigitCount(m) > 2 * (len - 1)) Refuse(x, pv);
      out = BcdBU(m, len);
      if (x < 0) out[0] = 0xFF;
      if (pv.Fmt == vfBcdLS) ReverseBytes(out);
      break;
    case vfYaesu: {
      // The magnitude stays clear of the sign bit, and within 31 bits, as the reader takes it.
      const unsigned magnitude_bits = static_cast<unsigned>(std::min<size_t>(len, 4) * 8) - 1;
      if (m >= (uint64_t{1} << magnitude_bits)) Refuse(x, pv);
      out = BinB(static_cast<uint32_t>(m), len);
      if (x < 0) out[0] |= 0x80;
      break;
    }
    default:
      Refuse(x, pv);
  }
  return out;
}

std::optional<int32_t> UnformatValue(const TByteArray& reply, const TParamValue& pv,
                                     int rigNumber, const TLogProc& log) {
  if (pv.Len <= 0 || pv.Start < 0 ||
      int64_t{pv.Start} + pv.Len > static_cast<int64_t>(reply.size())) {
    LogLine(log, Format("RIG%d: {!}reply too short", rigNumber));
    return std::nullopt;
  }
  TByteArray b(reply.begin() + pv.Start, reply.begin() + pv.Start + pv.Len);
  int64_t v = 0;
  switch (pv.Fmt) {
    case vfText: {
      const auto n = TryStrToInt(BytesToStr(b));
      if (!n) {
        LogLine(log, Format("RIG%d: {!}invalid reply", rigNumber));
        return std::nullopt;
      }
      v = *n;
      break;
    }
    case vfBinL:
      v = DecodeBinL(b);
      break;
    case vfBinB:
      v = DecodeBinB(b);
      break;
    case vfBcdBU:
    case vfBcdLU:
    case vfBcdBS:
    case vfBcdLS: {
      if (pv.Fmt == vfBcdLU || pv.Fmt == vfBcdLS) ReverseBytes(b);
      // Signed forms: any non-zero first byte is a minus sign.
      const bool negative = (pv.Fmt == vfBcdBS || pv.Fmt == vfBcdLS) && b[0] != 0;
      if (pv.Fmt == vfBcdBS || pv.Fmt == vfBcdLS) b[0] = 0;
      const auto n = DecodeBcdBU(b, negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX});
      if (!n) {
        LogLine(log, Format("RIG%d: {!}invalid BCD value", rigNumber));
        return std::nullopt;
      }
      v = negative ? -*n : *n;
      break;
    }
    default: {
      // vfYaesu, and any other code: sign in bit 7 of the first byte, then big-endian binary.
      const bool negative = (b[0] & 0x80) != 0;
      b[0] &= 0x7F;
      v = DecodeBinB(b);
      if (negative) v = -v;
      break;
    }
  }
  try {
    return ScaleValue(static_cast<long double>(v), pv);
  } catch (const ERangeError&) {
    return std::nullopt;
  }
}

}  // namespace tarvane
