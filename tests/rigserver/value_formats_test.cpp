#include "value_formats.h"

#include <gtest/gtest.h>


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
  EXPECT_EQ(Enc(14250, PV(vfText, 4)), Text("4250"));  // digits that do not fit are dropped
  EXPECT_EQ(Enc(-12, PV(vfText, 5)), Text("00-12"));    // the sign is part of the text
  EXPECT_EQ(Enc(14250, PV(vfBcdBU, 4)), (TByteArray{0x00, 0x01, 0x42, 0x50}));
  EXPECT_EQ(Enc(14250, PV(vfBcdLU, 4)), (TByteArray{0x50, 0x42, 0x01, 0x00}));
  EXPECT_EQ(Enc(-1234, PV(vfBcdBS, 3)), (TByteArray{0xFF, 0x12, 0x34}));
  EXPECT_EQ(Enc(-1234, PV(vfBcdLS, 3)), (TByteArray{0x34, 0x12, 0xFF}));
  EXPECT_EQ(Enc(1234, PV(vfBcdLS, 3)), (TByteArray{0x34, 0x12, 0x00}));
  EXPECT_EQ(Enc(-300, PV(vfYaesu, 2)), (TByteArray{0x81, 0x2C}));
  EXPECT_EQ(Enc(-2, PV(vfBinL, 2)), (TByteArray{0xFE, 0xFF}));
  EXPECT_EQ(Enc(-2, PV(vfBinB, 2)), (TByteArray{0xFF, 0xFE}));
  // Beyond four bytes the binary forms are padded with zeros, at the end or at the front.
  EXPECT_EQ(Enc(0x01020304, PV(vfBinL, 6)), (TByteArray{4, 3, 2, 1, 0, 0}));
  EXPECT_EQ(Enc(0x01020304, PV(vfBinB, 6)), (TByteArray{0, 0, 1, 2, 3, 4}));
  EXPECT_EQ(Enc(7, PV(vfNone, 3)), (TByteArray{0, 0, 0}));
  EXPECT_EQ(Enc(7, PV(vfText, 0)), TByteArray{});
  EXPECT_EQ(Enc(7, PV(vfYaesu, -1)), TByteArray{});
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
  EXPECT_EQ(FormatValue(-5, PV(vfBcdBU, 3), 2, log.Proc()), (TByteArray{0, 0, 0}));
  EXPECT_EQ(FormatValue(3, PV(vfBcdLU, 2, 1, -10), 1, log.Proc()), (TByteArray{0, 0}));
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
