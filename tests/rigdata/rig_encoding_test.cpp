// The delivered rig description files speak their protocols byte for byte: the write command for
// 14,250,000 Hz is exactly what the radio expects, and replies built here by hand from the
// protocol decode to the right frequency, mode and flags.
#include <gtest/gtest.h>

#include "rig_file_probe.h"

using namespace rigdata_test;
using Lines = std::vector<std::string>;

namespace {

const TRigParamSet kModes{pmCW_U, pmCW_L, pmSSB_U, pmSSB_L, pmDIG_U, pmDIG_L, pmAM, pmFM};

// The mode flags among the flags of a decoded reply.
std::vector<TRigParam> ModeFlags(const TDecodedReply& d) {
  std::vector<TRigParam> r;
  for (const TRigParam p : d.Flags) {
    if (kModes.Contains(p)) r.push_back(p);
  }
  return r;
}

struct TModeCode {
  TRigParam Mode;
  uint8_t Code;
};

// ----- ASCII two-letter commands -----

const char kAscii[] = "Generic ASCII 2-letter";

// An IF reply laid out position by position: frequency 2-12, step 13-17, offset 18-22, RIT 23,
// XIT 24, memory 25-27, TX 28, mode 29, VFO 30, scan 31, split 32, tones 33-36, ';' 37.
std::string IfReply(const std::string& freq, const std::string& offset, char rit, char xit,
                    char tx, char mode, char vfo, char split) {
  return "IF" + freq + "     " + offset + rit + xit + "000" + tx + mode + vfo + '0' + split +
         "0000;";
}

}  // namespace

TEST(AsciiRigFile, WritesElevenDigitFrequenciesAndModeDigits) {
  const TRigCommands rc = LoadRig(kAscii);
  ASSERT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(BytesToStr(WriteBytes(rc, pmFreq, 14250000)), "FA00014250000;");
  EXPECT_EQ(BytesToStr(WriteBytes(rc, pmFreqA, 14250000)), "FA00014250000;");
  EXPECT_EQ(BytesToStr(WriteBytes(rc, pmFreqB, 7001250)), "FB00007001250;");
  // The highest frequency a client can pass still fits the 11 digits.
  EXPECT_EQ(BytesToStr(WriteBytes(rc, pmFreqA, INT32_MAX)), "FA02147483647;");
  const std::pair<TRigParam, const char*> modes[] = {
      {pmSSB_L, "MD1;"}, {pmSSB_U, "MD2;"}, {pmCW_U, "MD3;"}, {pmFM, "MD4;"},
      {pmAM, "MD5;"},    {pmDIG_L, "MD6;"}, {pmCW_L, "MD7;"}, {pmDIG_U, "MD9;"}};
  for (const auto& [mode, text] : modes) EXPECT_EQ(BytesToStr(WriteBytes(rc, mode, 0)), text);
  EXPECT_EQ(BytesToStr(WriteBytes(rc, pmVfoAB, 0)), "FR0;FT1;");
  EXPECT_EQ(BytesToStr(WriteBytes(rc, pmRit0, 0)), "RC;");
  // Split has no command of its own: the server sets it through the VFO pair.
  EXPECT_FALSE(rc.WriteableParams.Contains(pmSplitOn));
}

TEST(AsciiRigFile, IfReplyDecodesFrequencyOffsetModeVfoAndSplit) {
  const TRigCommands rc = LoadRig(kAscii);
  const TRigCommand* status = StatusCommand(rc, Text("IF;"));
  ASSERT_NE(status, nullptr);

  const std::string reply = IfReply("00014250000", "+0050", '1', '0', '0', '2', '0', '0');
  ASSERT_EQ(reply.size(), 38u);
  EXPECT_TRUE(FramedAsWhole(*status, Text(reply)));
  Lines log;
  const TDecodedReply d = Decode(*status, Text(reply), &log);
  EXPECT_EQ(log, Lines{});
  ASSERT_TRUE(d.Valid);
  EXPECT_EQ(d.Values, (std::map<TRigParam, int32_t>{{pmFreq, 14250000}, {pmRitOffset, 50}}));
  EXPECT_EQ(d.Flags, (std::vector<TRigParam>{pmRitOn, pmXitOff, pmRx, pmSSB_U, pmVfoAA,
                                             pmSplitOff}));

  // Transmitting in CW on VFO B, split, with a negative offset.
  const TDecodedReply s =
      Decode(*status, Text(IfReply("00007001250", "-0120", '0', '1', '1', '3', '1', '1')));
  ASSERT_TRUE(s.Valid);
  EXPECT_EQ(s.Values, (std::map<TRigParam, int32_t>{{pmFreq, 7001250}, {pmRitOffset, -120}}));
  EXPECT_EQ(s.Flags, (std::vector<TRigParam>{pmRitOff, pmXitOn, pmTx, pmCW_U, pmVfoBA,
                                             pmSplitOn}));

  // Every mode digit gives its one mode; memory mode ('2') gives no VFO pair.
  const std::pair<char, TRigParam> modes[] = {{'1', pmSSB_L}, {'2', pmSSB_U}, {'3', pmCW_U},
                                              {'4', pmFM},    {'5', pmAM},    {'6', pmDIG_L},
                                              {'7', pmCW_L},  {'9', pmDIG_U}};
  for (const auto& [digit, mode] : modes) {
    const TDecodedReply m =
        Decode(*status, Text(IfReply("00014250000", "+0000", '0', '0', '0', digit, '2', '0')));
    EXPECT_EQ(ModeFlags(m), std::vector<TRigParam>{mode}) << digit;
    for (const TRigParam p : m.Flags) EXPECT_FALSE(p >= pmVfoAA && p <= pmVfoSwap) << digit;
  }
}

TEST(AsciiRigFile, FrequencyReadsAnswerWithTheirOwnCommand) {
  const TRigCommands rc = LoadRig(kAscii);
  const TRigCommand* fa = StatusCommand(rc, Text("FA;"));
  ASSERT_NE(fa, nullptr);
  EXPECT_TRUE(FramedAsWhole(*fa, Text("FA00014250000;")));
  const TDecodedReply d = Decode(*fa, Text("FA00014250000;"));
  ASSERT_TRUE(d.Valid);
  EXPECT_EQ(d.Values, (std::map<TRigParam, int32_t>{{pmFreqA, 14250000}}));
  // A stray answer to another command, or a short one, is refused.
  EXPECT_FALSE(Decode(*fa, Text("FB00014250000;")).Valid);
  EXPECT_FALSE(Decode(*fa, Text("FA0001425000;")).Valid);
  EXPECT_FALSE(Decode(*fa, Text("?;")).Valid);
}

// ----- addressed binary frames -----

namespace {

const char kFrame[] = "Generic CI-frame";
const TByteArray kAck{0xFE, 0xFE, 0xE0, 0x5A, 0xFB, 0xFD};
const TByteArray kNak{0xFE, 0xFE, 0xE0, 0x5A, 0xFA, 0xFD};

TByteArray Cat(TByteArray a, const TByteArray& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(FrameRigFile, WritesBcdFrequencyLeastSignificantFirstAndCountsTheEcho) {
  const TRigCommands rc = LoadRig(kFrame);
  ASSERT_EQ(rc.Errors, Lines{});
  const TByteArray freq = WriteBytes(rc, pmFreq, 14250000);
  EXPECT_EQ(BytesToHex(freq), "FEFE5AE00500002514" "00FD");
  const TRigCommand& cmd = rc.WriteCmd[pmFreq];
  // The reply is the echo of the frame sent, then the radio's acknowledgement.
  const TByteArray ok = Cat(freq, kAck);
  EXPECT_TRUE(FramedAsWhole(cmd, ok));
  EXPECT_TRUE(Decode(cmd, ok).Valid);
  EXPECT_FALSE(Decode(cmd, Cat(freq, kNak)).Valid);
  // Ten digits of hertz: up to 9,999,999,999 Hz, so every frequency a client passes fits.
  EXPECT_EQ(BytesToHex(WriteBytes(rc, pmFreq, 1296123456)), "FEFE5AE005" "5634129612" "FD");

  const std::pair<TRigParam, uint8_t> modes[] = {
      {pmSSB_L, 0x00}, {pmSSB_U, 0x01}, {pmAM, 0x02},    {pmCW_U, 0x03},
      {pmDIG_L, 0x04}, {pmFM, 0x05},    {pmCW_L, 0x07}, {pmDIG_U, 0x08}};
  for (const auto& [mode, code] : modes) {
    const TByteArray sent = WriteBytes(rc, mode, 0);
    EXPECT_EQ(sent, Bytes({0xFE, 0xFE, 0x5A, 0xE0, 0x06, code, 0xFD})) << RigParamName(mode);
    EXPECT_TRUE(FramedAsWhole(rc.WriteCmd[mode], Cat(sent, kAck))) << RigParamName(mode);
    EXPECT_TRUE(Decode(rc.WriteCmd[mode], Cat(sent, kAck)).Valid) << RigParamName(mode);
  }
}

TEST(FrameRigFile, FrequencyModeAndSplitRepliesDecode) {
  const TRigCommands rc = LoadRig(kFrame);
  const TByteArray readFreq{0xFE, 0xFE, 0x5A, 0xE0, 0x03, 0xFD};
  const TRigCommand* freq = StatusCommand(rc, readFreq);
  ASSERT_NE(freq, nullptr);
  const TByteArray answer =
      Cat(readFreq, {0xFE, 0xFE, 0xE0, 0x5A, 0x03, 0x00, 0x00, 0x25, 0x14, 0x00, 0xFD});
  EXPECT_TRUE(FramedAsWhole(*freq, answer));
  const TDecodedReply f = Decode(*freq, answer);
  ASSERT_TRUE(f.Valid);
  EXPECT_EQ(f.Values, (std::map<TRigParam, int32_t>{{pmFreq, 14250000}}));
  // An answer addressed elsewhere, or without the echo, is refused.
  TByteArray other = answer;
  other[8] = 0xE1;
  EXPECT_FALSE(Decode(*freq, other).Valid);
  EXPECT_FALSE(Decode(*freq, TByteArray(answer.begin() + 6, answer.end())).Valid);

  const TByteArray readMode{0xFE, 0xFE, 0x5A, 0xE0, 0x04, 0xFD};
  const TRigCommand* mode = StatusCommand(rc, readMode);
  ASSERT_NE(mode, nullptr);
  const std::pair<uint8_t, TRigParam> modes[] = {
      {0x00, pmSSB_L}, {0x01, pmSSB_U}, {0x02, pmAM},   {0x03, pmCW_U},
      {0x04, pmDIG_L}, {0x05, pmFM},    {0x07, pmCW_L}, {0x08, pmDIG_U}};
  for (const auto& [code, param] : modes) {
    // Mode byte, then the filter byte.
    const TByteArray r = Cat(readMode, {0xFE, 0xFE, 0xE0, 0x5A, 0x04, code, 0x02, 0xFD});
    EXPECT_TRUE(FramedAsWhole(*mode, r));
    const TDecodedReply m = Decode(*mode, r);
    ASSERT_TRUE(m.Valid);
    EXPECT_EQ(ModeFlags(m), std::vector<TRigParam>{param}) << int(code);
  }
  // A mode this file does not know sets no mode flag.
  EXPECT_EQ(ModeFlags(Decode(*mode, Cat(readMode, {0xFE, 0xFE, 0xE0, 0x5A, 0x04, 0x17, 0x01,
                                                   0xFD}))),
            std::vector<TRigParam>{});

  const TByteArray readSplit{0xFE, 0xFE, 0x5A, 0xE0, 0x0F, 0xFD};
  const TRigCommand* split = StatusCommand(rc, readSplit);
  ASSERT_NE(split, nullptr);
  EXPECT_EQ(Decode(*split, Cat(readSplit, {0xFE, 0xFE, 0xE0, 0x5A, 0x0F, 0x01, 0xFD})).Flags,
            std::vector<TRigParam>{pmSplitOn});
  EXPECT_EQ(Decode(*split, Cat(readSplit, {0xFE, 0xFE, 0xE0, 0x5A, 0x0F, 0x00, 0xFD})).Flags,
            std::vector<TRigParam>{pmSplitOff});
}

// ----- fixed 5-byte binary commands -----

namespace {
const char kFiveByte[] = "Generic 5-byte";
}  // namespace

TEST(FiveByteRigFile, WritesPackedBcdInTensOfHertzBeforeTheOpcode) {
  const TRigCommands rc = LoadRig(kFiveByte);
  ASSERT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(WriteBytes(rc, pmFreq, 14250000), Bytes({0x01, 0x42, 0x50, 0x00, 0x01}));
  EXPECT_EQ(WriteBytes(rc, pmFreq, 439987650), Bytes({0x43, 0x99, 0x87, 0x65, 0x01}));
  // Every whole ten of hertz these radios tune is written exactly and reads back the same,
  // although the multiplier 0.1 is not exact in single precision.
  const TRigCommand* status = StatusCommand(rc, Bytes({0x00, 0x00, 0x00, 0x00, 0x03}));
  ASSERT_NE(status, nullptr);
  for (int32_t hz = 0; hz <= 470000000; hz += 9999990) {
    for (const int32_t f : {hz, hz + 10, hz + 4999990}) {
      TByteArray reply = WriteBytes(rc, pmFreq, f);
      ASSERT_EQ(reply.size(), 5u);
      reply[4] = 0x01;
      EXPECT_EQ(Decode(*status, reply).Values.at(pmFreq), f);
    }
  }
  // Every command, with or without a value, is five bytes ending in its opcode.
  for (int p = 0; p < kRigParamCount; ++p) {
    const TRigParam param = static_cast<TRigParam>(p);
    if (!rc.WriteableParams.Contains(param)) continue;
    EXPECT_EQ(rc.WriteCmd[p].Code.size(), 5u) << RigParamName(param);
  }
  const std::pair<TRigParam, uint8_t> modes[] = {{pmSSB_L, 0x00}, {pmSSB_U, 0x01}, {pmCW_U, 0x02},
                                                 {pmCW_L, 0x03},  {pmAM, 0x04},    {pmFM, 0x08},
                                                 {pmDIG_U, 0x0A}};
  for (const auto& [mode, code] : modes) {
    EXPECT_EQ(WriteBytes(rc, mode, 0), Bytes({code, 0x00, 0x00, 0x00, 0x07})) << RigParamName(mode);
  }
  EXPECT_EQ(WriteBytes(rc, pmTx, 0), Bytes({0x00, 0x00, 0x00, 0x00, 0x08}));
  EXPECT_EQ(WriteBytes(rc, pmRx, 0), Bytes({0x00, 0x00, 0x00, 0x00, 0x88}));
}

TEST(FiveByteRigFile, StatusReplyDecodesFrequencyAndMode) {
  const TRigCommands rc = LoadRig(kFiveByte);
  const TRigCommand* status = StatusCommand(rc, Bytes({0x00, 0x00, 0x00, 0x00, 0x03}));
  ASSERT_NE(status, nullptr);
  const TByteArray reply{0x01, 0x42, 0x50, 0x00, 0x01};
  EXPECT_TRUE(FramedAsWhole(*status, reply));
  const TDecodedReply d = Decode(*status, reply);
  ASSERT_TRUE(d.Valid);
  EXPECT_EQ(d.Values, (std::map<TRigParam, int32_t>{{pmFreq, 14250000}}));
  EXPECT_EQ(d.Flags, std::vector<TRigParam>{pmSSB_U});

  // LSB is mode 00: the mask must still test the byte, and only LSB may match.
  EXPECT_EQ(Decode(*status, Bytes({0x00, 0x70, 0x01, 0x25, 0x00})).Flags,
            std::vector<TRigParam>{pmSSB_L});
  EXPECT_EQ(Decode(*status, Bytes({0x00, 0x70, 0x01, 0x25, 0x00})).Values.at(pmFreq), 7001250);
  const std::pair<uint8_t, TRigParam> modes[] = {{0x02, pmCW_U}, {0x03, pmCW_L}, {0x04, pmAM},
                                                 {0x08, pmFM},   {0x0A, pmDIG_U}};
  for (const auto& [code, mode] : modes) {
    EXPECT_EQ(Decode(*status, Bytes({0x01, 0x42, 0x50, 0x00, code})).Flags,
              std::vector<TRigParam>{mode})
        << int(code);
  }
  // A corrupted frequency (a nibble above 9) is dropped, the mode is still read.
  Lines log;
  const TDecodedReply bad = Decode(*status, Bytes({0x01, 0x4A, 0x50, 0x00, 0x04}), &log);
  EXPECT_TRUE(bad.Values.empty());
  EXPECT_EQ(bad.Flags, std::vector<TRigParam>{pmAM});
  EXPECT_EQ(log, Lines{"RIG1: {!}invalid BCD value"});
}
