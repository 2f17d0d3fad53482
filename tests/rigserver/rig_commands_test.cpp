#include "rig_commands.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "ini_file.h"
#include "temp_folder.h"
#include "text_utils.h"

using namespace tarvane;
using tarvane_test::TempFolder;
using Lines = std::vector<std::string>;

namespace {

// Loads `text` as the rig description file "Probe.ini" and returns the command set.
TRigCommands Load(const std::string& text) {
  TempFolder tmp;
  TRigCommands rc;
  rc.LoadFromFile(tmp.Write("Probe.ini", text));
  return rc;
}

std::string TestRigPath() {
  const char* src = std::getenv("QM_TEST_SOURCE_DIR");
  return std::string(src != nullptr ? src : ".") + "/tests/rigserver/data/TestRig.ini";
}

TByteArray B(std::string_view s) { return tarvane::StrToBytes(s); }

}  // namespace

TEST(ByteStrings, Grammar) {
  using R = std::optional<TByteArray>;
  auto parse = [](std::string_view s) { return TRigCommands::StrToBytes(s); };
  EXPECT_EQ(parse("(FA;)"), R(B("FA;")));
  EXPECT_EQ(parse("  (FA;)  "), R(B("FA;")));
  EXPECT_EQ(parse("(a.b)"), R(B("a.b")));  // no escapes, dots kept in literals
  EXPECT_EQ(parse("()"), R(TByteArray{}));
  EXPECT_EQ(parse("FE.FE.94.E0"), R(TByteArray{0xFE, 0xFE, 0x94, 0xE0}));
  EXPECT_EQ(parse("0aff"), R(TByteArray{0x0A, 0xFF}));  // lower case after the first character
  EXPECT_EQ(parse("F.E"), R(TByteArray{0xFE}));
  EXPECT_EQ(parse(""), R(TByteArray{}));
  EXPECT_EQ(parse("A"), R(TByteArray{}));  // a single character is no byte and no error
  EXPECT_EQ(parse("("), R(TByteArray{}));

  EXPECT_EQ(parse("fe"), std::nullopt);          // first character must be 0-9 or A-F
  EXPECT_EQ(parse("FEF"), std::nullopt);         // odd number of digits
  EXPECT_EQ(parse("FE.F"), std::nullopt);
  EXPECT_EQ(parse("FG"), std::nullopt);          // not hexadecimal
  EXPECT_EQ(parse("FE FE"), std::nullopt);       // blanks inside
  EXPECT_EQ(parse("(FA;"), std::nullopt);        // literal without its closing parenthesis
  EXPECT_EQ(parse("FA(;)"), std::nullopt);       // text and hex do not mix
  EXPECT_EQ(parse(".FE"), std::nullopt);
}

TEST(SplitDelimitedText, Items) {
  EXPECT_EQ(SplitDelimitedText("2|10|vfText|1|0"), (Lines{"2", "10", "vfText", "1", "0"}));
  EXPECT_EQ(SplitDelimitedText("a||b"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitDelimitedText("a|b|"), (Lines{"a", "b"}));
  EXPECT_EQ(SplitDelimitedText("|a"), (Lines{"", "a"}));
  EXPECT_EQ(SplitDelimitedText(" a | b"), (Lines{" a ", " b"}));
  EXPECT_EQ(SplitDelimitedText("\"x|y\"|z"), (Lines{"x|y", "z"}));
  EXPECT_EQ(SplitDelimitedText("\"say \"\"hi\"\"\""), (Lines{"say \"hi\""}));
  EXPECT_EQ(SplitDelimitedText("\t\ta|\tb"), (Lines{"a", "b"}));
  EXPECT_EQ(SplitDelimitedText(""), Lines{});
}

TEST(RigCommands, LoadsTheTestRig) {
  TRigCommands rc;
  rc.LoadFromFile(TestRigPath());
  EXPECT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(rc.RigType, "TestRig");
  ASSERT_EQ(rc.InitCmd.size(), 2u);
  EXPECT_EQ(rc.InitCmd[0].Code, B("EC0;"));
  EXPECT_EQ(rc.InitCmd[1].ReplyEnd, B(";"));
  ASSERT_EQ(rc.StatusCmd.size(), 4u);

  const TRigCommand& st = rc.StatusCmd[0];
  EXPECT_EQ(st.Code, B("IF;"));
  EXPECT_EQ(st.ReplyLength, 22);
  ASSERT_EQ(st.Values.size(), 2u);
  EXPECT_EQ(st.Values[1].Start, 13);
  EXPECT_EQ(st.Values[1].Len, 5);
  EXPECT_EQ(st.Values[1].Fmt, vfText);
  EXPECT_EQ(st.Values[1].Param, pmRitOffset);
  ASSERT_EQ(st.Flags.size(), 9u);
  EXPECT_EQ(st.Flags[8].Param, pmAM);
  // Literal pattern: '.' is "any byte", everything else must match.
  EXPECT_EQ(st.Validation.Mask.front(), 0xFF);
  EXPECT_EQ(st.Validation.Mask[2], 0x00);
  EXPECT_EQ(st.Validation.Flags[2], 0x00);
  EXPECT_EQ(st.Validation.Flags.back(), ';');

  const TBitMask& split = rc.StatusCmd[2].Flags[4];
  EXPECT_EQ(split.Mask, (TByteArray{0, 0, 0xFF, 0xFF, 0}));
  EXPECT_EQ(split.Flags, (TByteArray{0, 0, 0x30, 0x31, 0}));
  EXPECT_EQ(split.Param, pmSplitOn);

  const TRigCommand& pitch = rc.WriteCmd[pmPitch];
  EXPECT_EQ(pitch.Code, B("PT00;"));
  EXPECT_EQ(pitch.Value.Fmt, vfText);
  EXPECT_FLOAT_EQ(pitch.Value.Mult, 0.1f);
  EXPECT_FLOAT_EQ(pitch.Value.Add, -30.0f);
  EXPECT_EQ(rc.WriteCmd[pmRitOffset].Code, (TByteArray{0x52, 0x4F, 0, 0, 0x3B}));

  EXPECT_EQ(rc.ReadableParams,
            (TRigParamSet{pmFreq, pmRitOffset, pmRitOff, pmRitOn, pmRx, pmTx, pmSSB_L, pmSSB_U,
                          pmCW_U, pmFM, pmAM, pmFreqB, pmVfoAA, pmVfoAB, pmVfoBA, pmVfoBB,
                          pmSplitOn, pmSplitOff, pmPitch}));
  EXPECT_TRUE(rc.WriteableParams.Contains(pmRit0));
  EXPECT_TRUE(rc.WriteableParams.Contains(pmFreqA));
  EXPECT_FALSE(rc.WriteableParams.Contains(pmSplitOn));
  EXPECT_FALSE(rc.WriteableParams.Contains(pmNone));
}

TEST(RigCommands, SectionKindsByName) {
  const TRigCommands rc = Load(
      "[INIT]\nCommand=(A;)\n"
      "[init2]\nCommand=(B;)\n"
      "[Status_A]\nCommand=(S;)\nReplyLength=4\nFlag1=(S..;)|pmTx\n"
      "[pmfreq]\nCommand=(F00;)\nValue=1|2|vfText|1|0\n"
      "[Empty]\n"
      "[INIT3]\n; only a comment\n");
  EXPECT_EQ(rc.Errors, Lines{});
  ASSERT_EQ(rc.InitCmd.size(), 2u);
  EXPECT_EQ(rc.InitCmd[1].Code, B("B;"));
  ASSERT_EQ(rc.StatusCmd.size(), 1u);
  EXPECT_EQ(rc.WriteCmd[pmFreq].Code, B("F00;"));
  EXPECT_EQ(rc.WriteableParams, TRigParamSet{pmFreq});
  EXPECT_EQ(rc.ReadableParams, TRigParamSet{pmTx});
}

TEST(RigCommands, FileWithoutSectionsIsUsableAndEmpty) {
  const TRigCommands rc = Load("; nothing here\n");
  EXPECT_TRUE(rc.Errors.empty());
  EXPECT_TRUE(rc.InitCmd.empty());
  EXPECT_TRUE(rc.StatusCmd.empty());
  EXPECT_TRUE(rc.WriteableParams.Empty());
}

// The error lines of every check are in rig_file_log_test.cpp; here, what the loaded set holds.

TEST(RigCommands, ReplyLengthIsReadTheIniWay) {
  // Hexadecimal after 0x; anything else not a number gives 0.
  TRigCommands rc = Load("[INIT]\nCommand=(A;)\nReplyLength=0x10\n[INIT2]\nCommand=(B;)\n"
                         "ReplyLength=ten\n");
  EXPECT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(rc.InitCmd[0].ReplyLength, 16);
  EXPECT_EQ(rc.InitCmd[1].ReplyLength, 0);
}

TEST(RigCommands, OnlyGoodSectionsAreTaken) {
  const TRigCommands rc = Load("[INIT1]\nCommand=(A;)\n[INIT2]\nCommand=A\n[INIT3]\nCommand=(C;)\n"
                               "[Bar]\nCommand=(A;)\n");
  EXPECT_EQ(rc.Errors.size(), 2u);
  // The file as a whole is unusable anyway.
  ASSERT_EQ(rc.InitCmd.size(), 2u);
  EXPECT_EQ(rc.InitCmd[1].Code, B("C;"));
}

TEST(RigCommands, FirstSectionOfAParameterCounts) {
  // A later section for the same parameter under another spelling is the same section, and the
  // ini reader finds the first.
  const TRigCommands rc = Load("[pmTx]\nCommand=(TX;)\n[PMTX]\nCommand=(TX1;)\n");
  EXPECT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(rc.WriteCmd[pmTx].Code, B("TX;"));
}

TEST(RigCommands, ValueFields) {
  // Names ignore case and the numbers are read with a decimal point whatever the locale.
  const TRigCommands rc = Load("[pmFreq]\nCommand=(FA000000;)\nValue=2|4|VFBCDBU|2.5|-1.25\n");
  EXPECT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(rc.WriteCmd[pmFreq].Value.Start, 2);
  EXPECT_EQ(rc.WriteCmd[pmFreq].Value.Len, 4);
  EXPECT_EQ(rc.WriteCmd[pmFreq].Value.Fmt, vfBcdBU);
  EXPECT_FLOAT_EQ(rc.WriteCmd[pmFreq].Value.Mult, 2.5f);
  EXPECT_FLOAT_EQ(rc.WriteCmd[pmFreq].Value.Add, -1.25f);
  EXPECT_EQ(rc.WriteCmd[pmFreq].Value.Param, pmNone);
}

TEST(RigCommands, ValuesAndFlagsInFileOrder) {
  const TRigCommands rc = Load("[STATUS]\nCommand=(IF;)\nReplyLength=12\n"
                               "Flag2=(IF.........1)|pmTx\nValue9=2|4|vfText|1|0|pmFreq\n"
                               "Flag1=(IF.........0)|pmRx\n");
  EXPECT_EQ(rc.Errors, Lines{});
  ASSERT_EQ(rc.StatusCmd.at(0).Flags.size(), 2u);
  EXPECT_EQ(rc.StatusCmd[0].Flags[0].Param, pmTx);
  EXPECT_EQ(rc.StatusCmd[0].Flags[1].Param, pmRx);
  ASSERT_EQ(rc.StatusCmd[0].Values.size(), 1u);
  EXPECT_EQ(rc.StatusCmd[0].Values[0].Param, pmFreq);
}

TEST(RigCommands, MaskForms) {
  // Hexadecimal patterns: 00 means "any byte"; mask|flags are taken as they stand.
  const TRigCommands rc = Load("[STATUS]\nCommand=(IF;)\nReplyLength=3\nValidate=FE.00.FD\n"
                               "Flag1=FF0000|010000|pmTx\nFlag2=(I.;)|pmRx\n");
  ASSERT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(rc.StatusCmd[0].Validation.Mask, (TByteArray{0xFF, 0x00, 0xFF}));
  EXPECT_EQ(rc.StatusCmd[0].Validation.Flags, (TByteArray{0xFE, 0x00, 0xFD}));
  EXPECT_EQ(rc.StatusCmd[0].Validation.Param, pmNone);
  EXPECT_EQ(rc.StatusCmd[0].Flags[0].Mask, (TByteArray{0xFF, 0x00, 0x00}));
  EXPECT_EQ(rc.StatusCmd[0].Flags[0].Flags, (TByteArray{0x01, 0x00, 0x00}));
  EXPECT_EQ(rc.StatusCmd[0].Flags[0].Param, pmTx);
  // Literal patterns: '.' is any byte, every other character must match.
  EXPECT_EQ(rc.StatusCmd[0].Flags[1].Mask, (TByteArray{0xFF, 0x00, 0xFF}));
  EXPECT_EQ(rc.StatusCmd[0].Flags[1].Flags, (TByteArray{'I', 0x00, ';'}));
}

TEST(RigCommands, FileThatCannotBeReadRaises) {
  TempFolder tmp;
  std::filesystem::create_directory(tmp.File("Dir.ini"));
  TRigCommands rc;
  EXPECT_THROW(rc.LoadFromFile(tmp.File("Dir.ini")), EIniFileError);
  EXPECT_EQ(rc.RigType, "Dir");
}
