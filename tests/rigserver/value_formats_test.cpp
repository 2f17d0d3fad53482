#include "value_formats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

using namespace tarvane;
using Lines = std::vector<std::string>;

namespace {

TParamValue PV(TValueFormat fmt, int32_t len, float mult = 1, float add = 0, int32_t start = 0) {
  TParamValue pv;
  pv.Start = start;
  pv.Len = len;
  pv.Fmt = fmt;
  pv.Mult = mult;
  pv.Add = add;
  return pv;
}

TByteArray Enc(int32_t v, const TParamValue& pv) { return FormatValue(v, pv, 1, {}); }
std::optional<int32_t> Dec(const TByteArray& b, const TParamValue& pv) {
  return UnformatValue(b, pv, 1, {});
}
TByteArray Text(std::string_view s) { return tarvane::StrToBytes(s); }

struct Captured {
  Lines lines;
  TLogProc Proc() {
    return [this](const std::string& s) { lines.push_back(s); };
  }
};

}  // namespace

TEST(ValueFormats, EncodingExamples) {
  EXPECT_EQ(Enc(14250, PV(vfText, 6)), Text("014250"));
  EXPECT_EQ(Enc(-12, PV(vfText, 5)), Text("-0012"));  // zeros go between the sign and the digits
  EXPECT_EQ(Enc(-5, PV(vfText, 4)), Text("-005"));
  EXPECT_EQ(Enc(-5, PV(vfText, 2)), Text("-5"));
  EXPECT_EQ(Enc(14250, PV(vfBcdBU, 4)), (TByteArray{0x00, 0x01, 0x42, 0x50}));
  EXPECT_EQ(Enc(14250, PV(vfBcdLU, 4)), (TByteArray{0x50, 0x42, 0x01, 0x00}));
  EXPECT_EQ(Enc(-1234, PV(vfBcdBS, 3)), (TByteArray{0xFF, 0x12, 0x34}));
  EXPECT_EQ(Enc(-1234, PV(vfBcdLS, 3)), (TByteArray{0x34, 0x12, 0xFF}));
  EXPECT_EQ(Enc(1234, PV(vfBcdLS, 3)), (TByteArray{0x34, 0x12, 0x00}));
  EXPECT_EQ(Enc(-300, PV(vfYaesu, 2)), (TByteArray{0x81, 0x2C}));
  EXPECT_EQ(Enc(-2, PV(vfBinL, 2)), (TByteArray{0xFE, 0xFF}));
  EXPECT_EQ(Enc(-2, PV(vfBinB, 2)), (TByteArray{0xFF, 0xFE}));
  // A short binary field takes unsigned values too, as long as no bit is cut off.
  EXPECT_EQ(Enc(65535, PV(vfBinL, 2)), (TByteArray{0xFF, 0xFF}));
  EXPECT_EQ(Enc(-32768, PV(vfBinB, 2)), (TByteArray{0x80, 0x00}));
  // Beyond four bytes the binary forms are padded with zeros, at the end or at the front.
  EXPECT_EQ(Enc(0x01020304, PV(vfBinL, 6)), (TByteArray{4, 3, 2, 1, 0, 0}));
  EXPECT_EQ(Enc(0x01020304, PV(vfBinB, 6)), (TByteArray{0, 0, 1, 2, 3, 4}));
  EXPECT_EQ(Enc(-2147483647, PV(vfYaesu, 5)), (TByteArray{0x80, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Enc(-2147483647 - 1, PV(vfBcdBS, 6)), (TByteArray{0xFF, 0x21, 0x47, 0x48, 0x36, 0x48}));
  EXPECT_EQ(Enc(0, PV(vfBcdBS, 1)), (TByteArray{0x00}));
  EXPECT_EQ(Enc(7, PV(vfNone, 3)), (TByteArray{0, 0, 0}));
}

// A value the field cannot hold is refused rather than cut: what would be left of it is another
// frequency.
TEST(ValueFormats, ValuesThatDoNotFitAreRefused) {
  struct Case {
    int32_t value;
    TParamValue pv;
  };
  const std::vector<Case> cases = {
      {14250, PV(vfText, 4)},        // would have become "4250"
      {-5, PV(vfText, 1)},           // no room for the sign
      {-1000, PV(vfText, 4)},
      {7, PV(vfText, 0)},
      {14250000, PV(vfBcdBU, 3)},    // would have become 25 00 00
      {14250000, PV(vfBcdLU, 3)},
      {1000000, PV(vfBcdBU, 3)},
      {10000, PV(vfBcdBS, 3)},       // a digit in the sign byte reads back as a minus
      {-10000, PV(vfBcdLS, 3)},
      {1, PV(vfBcdBS, 1)},
      {65536, PV(vfBinL, 2)},        // high bytes would be dropped
      {-32769, PV(vfBinB, 2)},
      {256, PV(vfBinL, 1)},
      {-129, PV(vfBinB, 1)},
      {16777216, PV(vfBinB, 3)},
      {32768, PV(vfYaesu, 2)},       // would overwrite the sign bit
      {-32768, PV(vfYaesu, 2)},
      {-2147483647 - 1, PV(vfYaesu, 4)},
      {-2147483647 - 1, PV(vfYaesu, 6)},  // its magnitude needs the 32nd bit
      {14250, PV(vfBinL, -1)},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(Enc(c.value, c.pv), EValueError)
        << ValueFormatName(c.pv.Fmt) << " " << c.pv.Len << " " << c.value;
  }
  try {
    Enc(14250000, PV(vfBcdBU, 3));
    FAIL();
  } catch (const EValueError& e) {
    EXPECT_STREQ(e.what(), "value 14250000 does not fit 3 bytes of vfBcdBU");
  }
  // Scaling decides: the scaled value is what must fit.
  EXPECT_EQ(Enc(1425000, PV(vfBcdBU, 3, 0.1f)), (TByteArray{0x14, 0x25, 0x00}));
  EXPECT_THROW(Enc(142500, PV(vfBcdBU, 3, 10)), EValueError);
}

// Random values in every format and length up to six bytes: a value inside the field's range
// encodes to Len bytes and reads back as itself (short binary fields read back signed); a value
// outside is refused.
TEST(ValueFormats, RandomRoundTripsAndRefusals) {
  std::mt19937_64 rng(20261208);
  const TValueFormat formats[] = {vfText,  vfBinL,  vfBinB,  vfBcdLU,
                                  vfBcdLS, vfBcdBU, vfBcdBS, vfYaesu};
  auto pow10 = [](int n) {
    int64_t p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
  };
  for (const TValueFormat fmt : formats) {
    for (int len = 1; len <= 6; ++len) {
      // The range a field holds, independent of how the encoder tests it.
      int64_t lo = INT32_MIN;
      int64_t hi = INT32_MAX;
      switch (fmt) {
        case vfText:
          hi = pow10(len) - 1;
          lo = len >= 2 ? -(pow10(len - 1) - 1) : 0;
          break;
        case vfBinL:
        case vfBinB:
          if (len < 4) {
            lo = -(int64_t{1} << (8 * len - 1));
            hi = (int64_t{1} << (8 * len)) - 1;
          }
          break;
        case vfBcdLU:
        case vfBcdBU:
          lo = 0;
          hi = pow10(2 * len) - 1;
          break;
        case vfBcdLS:
        case vfBcdBS:
          hi = pow10(2 * len - 2) - 1;
          lo = -hi;
          break;
        case vfYaesu:
          hi = (int64_t{1} << (8 * std::min(len, 4) - 1)) - 1;
          lo = -hi;
          break;
        default:
          break;
      }
      lo = std::max<int64_t>(lo, INT32_MIN);
      hi = std::min<int64_t>(hi, INT32_MAX);
      const TParamValue pv = PV(fmt, len);
      std::vector<int64_t> values = {lo, hi, lo - 1, hi + 1, 0, -1, 1};
      for (int i = 0; i < 300; ++i) {
        // Spread over magnitudes, so that short fields see values near their limits.
        const int shift = static_cast<int>(rng() % 33);
        int64_t v = static_cast<int64_t>(rng() >> (64 - std::max(shift, 1)));
        if (rng() & 1) v = -v;
        values.push_back(v);
      }
      for (const int64_t v64 : values) {
        if (v64 < INT32_MIN || v64 > INT32_MAX) continue;
        const auto v = static_cast<int32_t>(v64);
        const std::string what =
            std::string(ValueFormatName(fmt)) + " len " + std::to_string(len) + " value " +
            std::to_string(v);
        if (v64 < lo || v64 > hi) {
          EXPECT_THROW(Enc(v, pv), EValueError) << what;
          continue;
        }
        TByteArray bytes;
        ASSERT_NO_THROW(bytes = Enc(v, pv)) << what;
        ASSERT_EQ(bytes.size(), static_cast<size_t>(len)) << what;
        int64_t expected = v64;
        if ((fmt == vfBinL || fmt == vfBinB) && len < 4 && v64 >= (int64_t{1} << (8 * len - 1))) {
          expected -= int64_t{1} << (8 * len);  // the same bytes, read as signed
        }
        EXPECT_EQ(Dec(bytes, pv), expected) << what;
      }
    }
  }
}

TEST(ValueFormats, DecodingExamples) {
  EXPECT_EQ(Dec({0xFE, 0xFF}, PV(vfBinL, 2)), -2);
  EXPECT_EQ(Dec({0xFF, 0xFE}, PV(vfBinB, 2)), -2);
  EXPECT_EQ(Dec({0x7F}, PV(vfBinL, 1)), 127);
  // With more than four bytes the first four (little-endian) or last four (big-endian) count.
  EXPECT_EQ(Dec({1, 0, 0, 0, 9, 9}, PV(vfBinL, 6)), 1);
  EXPECT_EQ(Dec({9, 9, 0, 0, 0, 1}, PV(vfBinB, 6)), 1);
  EXPECT_EQ(Dec({0xFF, 0xFF, 0xFF, 0xFF}, PV(vfBinB, 4)), -1);
  EXPECT_EQ(Dec({0xFF, 0x12, 0x34}, PV(vfBcdBS, 3)), -1234);
  EXPECT_EQ(Dec({0x01, 0x12, 0x34}, PV(vfBcdBS, 3)), -1234);  // any non-zero sign byte
  EXPECT_EQ(Dec({0x34, 0x12, 0x01}, PV(vfBcdLS, 3)), -1234);
  EXPECT_EQ(Dec({0x81, 0x2C}, PV(vfYaesu, 2)), -300);
  EXPECT_EQ(Dec({0x01, 0x2C}, PV(vfNone, 2)), 300);  // unknown formats decode as vfYaesu
  EXPECT_EQ(Dec(Text("IF00014250000;"), PV(vfText, 11, 1, 0, 2)), 14250000);
  EXPECT_EQ(Dec(Text("-0100"), PV(vfText, 5)), -100);
}

TEST(ValueFormats, RoundTripsInEveryFormat) {
  struct Case {
    TValueFormat fmt;
    int32_t len;
    std::vector<int32_t> values;
  };
  const std::vector<Case> cases = {
      {vfText, 11, {0, 7, 14250000, 2147483647, -2147483647 - 1}},
      {vfBinL, 4, {0, 1, -1, 300, -300, 2147483647, -2147483647 - 1}},
      {vfBinL, 3, {0, 8388607, -8388608, -1}},
      {vfBinB, 4, {0, 1, -1, 14250000, -14250000, 2147483647, -2147483647 - 1}},
      {vfBinB, 2, {0, 32767, -32768}},
      {vfBcdLU, 5, {0, 9, 14250000, 2147483647}},
      {vfBcdBU, 5, {0, 10, 14250000, 2147483647}},
      {vfBcdLS, 6, {0, -1, 99, -99, 14250000, -14250000, 2147483647, -2147483647}},
      {vfBcdBS, 6, {0, -1, 99, -99, 14250000, -14250000, 2147483647, -2147483647}},
      {vfYaesu, 4, {0, -1, 1, 2147483647, -2147483647}},
      {vfYaesu, 2, {0, 32767, -32767}},
  };
  for (const Case& c : cases) {
    for (const int32_t v : c.values) {
      const TParamValue pv = PV(c.fmt, c.len);
      const TByteArray bytes = Enc(v, pv);
      EXPECT_EQ(bytes.size(), static_cast<size_t>(c.len));
      EXPECT_EQ(Dec(bytes, pv), v) << ValueFormatName(c.fmt) << " " << v;
    }
  }
}

TEST(ValueFormats, ScalingAndRounding) {
  EXPECT_EQ(Enc(14250, PV(vfBinB, 4, 10)), Enc(142500, PV(vfBinB, 4)));
  // The single-precision 0.1 does not disturb the rounding.
  EXPECT_EQ(Dec(Text("142500"), PV(vfText, 6, 0.1f)), 14250);
  EXPECT_EQ(Dec(Text("142499"), PV(vfText, 6, 0.1f)), 14250);
  EXPECT_EQ(Dec(Text("142504"), PV(vfText, 6, 0.1f)), 14250);
  // Halves go to the even neighbour, both ways and for negative values too.
  EXPECT_EQ(ScaleValue(5, PV(vfText, 1, 0.5f)), 2);
  EXPECT_EQ(ScaleValue(7, PV(vfText, 1, 0.5f)), 4);
  EXPECT_EQ(ScaleValue(-5, PV(vfText, 1, 0.5f)), -2);
  EXPECT_EQ(ScaleValue(-7, PV(vfText, 1, 0.5f)), -4);
  EXPECT_EQ(ScaleValue(2, PV(vfText, 1, 1, 0.5f)), 2);
  EXPECT_EQ(ScaleValue(3, PV(vfText, 1, 1, 0.5f)), 4);
  EXPECT_EQ(ScaleValue(3, PV(vfText, 1, 1, 0.25f)), 3);
  EXPECT_EQ(ScaleValue(3, PV(vfText, 1, 1, 0.75f)), 4);
  // Pitch in steps of 10 Hz above 300 Hz, as the test rig's file describes it.
  EXPECT_EQ(Enc(600, PV(vfText, 2, 0.1f, -30)), Text("30"));
  EXPECT_EQ(Dec(Text("30"), PV(vfText, 2, 10, 300)), 600);
}

TEST(ValueFormats, RangeErrors) {
  EXPECT_THROW(Enc(2147483647, PV(vfBinL, 4, 2)), ERangeError);
  EXPECT_THROW(Enc(-2147483647, PV(vfText, 4, 1, -2)), ERangeError);
  EXPECT_EQ(ScaleValue(2147483647, PV(vfBinL, 4)), 2147483647);
  try {
    Enc(2000000000, PV(vfBinL, 4, 10));
    FAIL();
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Range check error");
  }
  // On reading, a value beyond 32 bits after scaling is dropped without a log line.
  Captured log;
  EXPECT_EQ(UnformatValue({0x7F, 0xFF, 0xFF, 0xFF}, PV(vfBinB, 4, 4), 1, log.Proc()),
            std::nullopt);
  EXPECT_EQ(log.lines, Lines{});
}

TEST(ValueFormats, NegativeValueForUnsignedBcdIsRefused) {
  Captured log;
  EXPECT_THROW(FormatValue(-5, PV(vfBcdBU, 3), 2, log.Proc()), EValueError);
  EXPECT_THROW(FormatValue(3, PV(vfBcdLU, 2, 1, -10), 1, log.Proc()), EValueError);
  // The line names the client's unscaled value.
  EXPECT_EQ(log.lines, (Lines{"RIG2: {!}user passed invalid value: -5",
                              "RIG1: {!}user passed invalid value: 3"}));
}

TEST(ValueFormats, ReplyFailures) {
  Captured log;
  auto dec = [&log](const TByteArray& b, const TParamValue& pv) {
    return UnformatValue(b, pv, 2, log.Proc());
  };
  EXPECT_EQ(dec({1, 2, 3}, PV(vfBinL, 2, 1, 0, 2)), std::nullopt);
  EXPECT_EQ(dec({1, 2, 3}, PV(vfBinL, 0)), std::nullopt);
  EXPECT_EQ(dec({}, PV(vfYaesu, 1)), std::nullopt);
  EXPECT_EQ(dec({1, 2, 3}, PV(vfBinL, 2000000000, 1, 0, 2000000000)), std::nullopt);
  EXPECT_EQ(dec({0x1A}, PV(vfBcdBU, 1)), std::nullopt);
  EXPECT_EQ(dec({0x99, 0x99, 0x99, 0x99, 0x99}, PV(vfBcdBU, 5)), std::nullopt);  // > 32 bits
  EXPECT_EQ(dec({0xA0, 0x00}, PV(vfBcdLS, 2)), std::nullopt);
  EXPECT_EQ(dec(Text("12a"), PV(vfText, 3)), std::nullopt);
  EXPECT_EQ(dec(Text("   "), PV(vfText, 3)), std::nullopt);
  EXPECT_EQ(log.lines,
            (Lines{"RIG2: {!}reply too short", "RIG2: {!}reply too short",
                   "RIG2: {!}reply too short", "RIG2: {!}reply too short",
                   "RIG2: {!}invalid BCD value", "RIG2: {!}invalid BCD value",
                   "RIG2: {!}invalid BCD value", "RIG2: {!}invalid reply",
                   "RIG2: {!}invalid reply"}));
}
