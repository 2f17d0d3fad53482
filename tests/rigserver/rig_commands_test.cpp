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

Lines Errors(const std::string& text) { return Load(text).Errors; }

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

TEST(RigCommands, UnknownSectionAndEntryNames) {
  EXPECT_EQ(Errors("[Foo]\nCommand=(A;)\n"), Lines{"[Foo].:  invalid parameter name "});
  EXPECT_EQ(Errors("[pmNone]\nCommand=(A;)\n"), Lines{"[pmNone].:  invalid parameter name "});
  EXPECT_EQ(Errors("[INIT]\nCommand=(A;)\nValue=1|1|vfText|1|0\nFoo=1\n"),
            (Lines{"[INIT].Value:  invalid entry name ", "[INIT].Foo:  invalid entry name "}));
  EXPECT_EQ(Errors("[pmTx]\nCommand=(A;)\nFlag1=(A)|pmTx\n"),
            Lines{"[pmTx].Flag1:  invalid entry name "});
  // Status sections take any ValueNN and FlagNN.
  EXPECT_EQ(Errors("[STATUS]\nCommand=(A;)\nReplyLength=2\nVALUEx=0|1|vfText|1|0|pmFreq\n"
                   "flag_b=(.;)|pmTx\nFlagging=(;.)|pmRx\n"),
            Lines{});
}

TEST(RigCommands, CommonEntries) {
  EXPECT_EQ(Errors("[INIT]\nCommand=fe\n"),
            (Lines{"[INIT].Command:  invalid byte string in \"fe\"",
                   "[INIT].Command:  command code is missing in \"fe\""}));
  EXPECT_EQ(Errors("[INIT]\nCommand=A\n"),
            Lines{"[INIT].Command:  command code is missing in \"A\""});
  EXPECT_EQ(Errors("[INIT]\nReplyEnd=(;)\n"),
            Lines{"[INIT].Command:  command code is missing in \"\""});
  EXPECT_EQ(Errors("[INIT]\nCommand=(A;)\nReplyLength=-1\n"),
            Lines{"[INIT].ReplyLength:  invalid integer in \"-1\""});
  EXPECT_EQ(Errors("[INIT]\nCommand=(A;)\nReplyEnd=0D0\n"),
            Lines{"[INIT].ReplyEnd:  invalid byte string in \"0D0\""});
  EXPECT_EQ(Errors("[INIT]\nCommand=(A;)\nValidate=|FF\n"),
            Lines{"[INIT].Validate:  invalid mask in \"|FF\""});

  // ReplyLength is read the ini way: hexadecimal after 0x, anything else not a number gives 0.
  TRigCommands rc = Load("[INIT]\nCommand=(A;)\nReplyLength=0x10\n[INIT2]\nCommand=(B;)\n"
                         "ReplyLength=ten\n");
  EXPECT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(rc.InitCmd[0].ReplyLength, 16);
  EXPECT_EQ(rc.InitCmd[1].ReplyLength, 0);
}

TEST(RigCommands, ErrorsOfAllSectionsAccumulate) {
  const TRigCommands rc = Load("[INIT1]\nCommand=(A;)\n[INIT2]\nCommand=A\n[INIT3]\nCommand=(C;)\n"
                               "[Bar]\nCommand=(A;)\n");
  EXPECT_EQ(rc.Errors, (Lines{"[INIT2].Command:  command code is missing in \"A\"",
                              "[Bar].:  invalid parameter name "}));
  // Only the good sections were taken; the file as a whole is unusable anyway.
  ASSERT_EQ(rc.InitCmd.size(), 2u);
  EXPECT_EQ(rc.InitCmd[1].Code, B("C;"));
}

TEST(RigCommands, WriteSections) {
  EXPECT_EQ(Errors("[pmVfoA]\nCommand=(FR0;)\nValue=1|1|vfText|1|0\n"),
            Lines{"[pmVfoA].Value:  parameter does not require a value "});
  EXPECT_EQ(Errors("[pmFreq]\nCommand=(FA00;)\n"),
            Lines{"[pmFreq].Value:  Value is missing in \"\""});
  EXPECT_EQ(Errors("[pmFreq]\nCommand=(FA00;)\nValue=2|2|vfNone|1|0\n"),
            Lines{"[pmFreq].Value:  Value is missing in \"2|2|vfNone|1|0\""});
  EXPECT_EQ(Errors("[pmFreq]\nCommand=(FA00;)\nValue=2|2|vfText|1|0|pmFreq\n"),
            Lines{"[pmFreq].Value:  parameter name is not allowed in \"2|2|vfText|1|0|pmFreq\""});
  // The value must lie inside the command.
  EXPECT_EQ(Errors("[pmFreq]\nCommand=(FA00;)\nValue=4|2|vfText|0|0\n"),
            (Lines{"[pmFreq].Value:  invalid Length value in \"4|2|vfText|0|0\"",
                   "[pmFreq].Value:  invalid Multiplier value in \"4|2|vfText|0|0\""}));
  EXPECT_EQ(Errors("[pmFreq]\nCommand=(FA00;)\nValue=5|0|vfText|1|0\n"),
            Lines{"[pmFreq].Value:  invalid Start value in \"5|0|vfText|1|0\""});
  EXPECT_EQ(Errors("[pmFreq]\nCommand=(FA00;)\nValue=-1|1|vfText|-2|0\n"),
            (Lines{"[pmFreq].Value:  invalid Start value in \"-1|1|vfText|-2|0\"",
                   "[pmFreq].Value:  invalid Multiplier value in \"-1|1|vfText|-2|0\""}));

  // A later section for the same parameter under another spelling is the same section.
  const TRigCommands rc = Load("[pmTx]\nCommand=(TX;)\n[PMTX]\nCommand=(TX1;)\n");
  EXPECT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(rc.WriteCmd[pmTx].Code, B("TX;"));
}

TEST(RigCommands, ValueSyntax) {
  auto err = [](const std::string& value) {
    return Errors("[pmFreq]\nCommand=(FA000000;)\nValue=" + value + "\n");
  };
  const std::string pre = "[pmFreq].Value:  ";
  EXPECT_EQ(err("2|4|vfText|1"), Lines{pre + "invalid syntax in \"2|4|vfText|1\""});
  EXPECT_EQ(err("2|4|vfText|1|0|pmNone|x"),
            Lines{pre + "invalid syntax in \"2|4|vfText|1|0|pmNone|x\""});
  EXPECT_EQ(err("x|4|vfText|1|0"), Lines{pre + "invalid Start value in \"x|4|vfText|1|0\""});
  EXPECT_EQ(err("2|4 |vfText|1|0"), Lines{pre + "invalid Length value in \"2|4 |vfText|1|0\""});
  EXPECT_EQ(err("2|4|vfBCD|1|0"), Lines{pre + "invalid format name in \"2|4|vfBCD|1|0\""});
  EXPECT_EQ(err("2|4|vfText|1,5|0"),
            Lines{pre + "invalid Multiplier value in \"2|4|vfText|1,5|0\""});
  EXPECT_EQ(err("2|4|vfText|1e99|0"),
            Lines{pre + "invalid Multiplier value in \"2|4|vfText|1e99|0\""});
  EXPECT_EQ(err("2|4|vfText|1|nan"), Lines{pre + "invalid Add value in \"2|4|vfText|1|nan\""});
  EXPECT_EQ(err("2|4|vfText|1|0|pmBogus"), Lines{pre + "invalid parameter name "});
  // Names ignore case and the numbers are read with a decimal point whatever the locale.
  const TRigCommands rc = Load("[pmFreq]\nCommand=(FA000000;)\nValue=2|4|VFBCDBU|2.5|-1.25\n");
  EXPECT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(rc.WriteCmd[pmFreq].Value.Fmt, vfBcdBU);
  EXPECT_FLOAT_EQ(rc.WriteCmd[pmFreq].Value.Mult, 2.5f);
  EXPECT_FLOAT_EQ(rc.WriteCmd[pmFreq].Value.Add, -1.25f);
}

TEST(RigCommands, StatusSections) {
  const std::string head = "[STATUS]\nCommand=(IF;)\nReplyLength=12\n";
  EXPECT_EQ(Errors(head + "Value1=2|10|vfText|1|0|pmFreq\n"), Lines{});
  EXPECT_EQ(Errors(head + "Value1=2|11|vfText|1|0|pmFreq\n"),
            Lines{"[STATUS].Value1:  invalid Length value in \"2|11|vfText|1|0|pmFreq\""});
  EXPECT_EQ(Errors(head + "Value1=12|0|vfText|1|0|pmFreq\n"),
            Lines{"[STATUS].Value1:  invalid Start value in \"12|0|vfText|1|0|pmFreq\""});
  EXPECT_EQ(Errors(head + "Value1=2|10|vfText|1|0|pmVfoA\n"),
            Lines{"[STATUS].Value1:  parameter must be of numeric type in "
                  "\"2|10|vfText|1|0|pmVfoA\""});
  EXPECT_EQ(Errors(head + "Value1=2|10|vfText|1|0\n"),
            Lines{"[STATUS].Value1:  parameter name is missing in \"2|10|vfText|1|0\""});
  EXPECT_EQ(Errors(head + "Flag1=(....0.)\n"),
            (Lines{"[STATUS].Flag1:  mask length <> ReplyLength in \"(....0.)\""}));
  EXPECT_EQ(Errors("[STATUS]\nCommand=(IF;)\nReplyEnd=(;)\nFlag1=(....0;)\n"),
            Lines{"[STATUS].Flag1:  parameter name is missing in \"(....0;)\""});
  EXPECT_EQ(Errors(head + "Validate=(IF.........;)\n"),
            Lines{"[STATUS].:  at least one ValueNN or FlagNN must be defined "});
  EXPECT_EQ(Errors("[STATUS]\nCommand=(IF;)\nFlag1=(I.)|pmTx\n"),
            Lines{"[STATUS].:  ReplyLength or ReplyEnd must be specified "});
  // Without a fixed length the value may lie anywhere, or within the validation mask's length.
  EXPECT_EQ(Errors("[STATUS]\nCommand=(IF;)\nReplyEnd=(;)\nValue1=100|10|vfText|1|0|pmFreq\n"),
            Lines{});
  EXPECT_EQ(Errors("[STATUS]\nCommand=(IF;)\nReplyEnd=(;)\nValidate=(IF..;)\n"
                   "Value1=2|4|vfText|1|0|pmFreq\n"),
            Lines{"[STATUS].Value1:  invalid Length value in \"2|4|vfText|1|0|pmFreq\""});

  // Values and flags are taken in file order.
  const TRigCommands rc = Load(head + "Flag2=(IF.........1)|pmTx\nValue9=2|4|vfText|1|0|pmFreq\n"
                                      "Flag1=(IF.........0)|pmRx\n");
  EXPECT_EQ(rc.Errors, Lines{});
  ASSERT_EQ(rc.StatusCmd.at(0).Flags.size(), 2u);
  EXPECT_EQ(rc.StatusCmd[0].Flags[0].Param, pmTx);
  EXPECT_EQ(rc.StatusCmd[0].Flags[1].Param, pmRx);
}

TEST(RigCommands, Masks) {
  auto err = [](const std::string& entries) {
    return Errors("[STATUS]\nCommand=(IF;)\n" + entries + "Value1=0|1|vfText|1|0|pmFreq\n");
  };
  EXPECT_EQ(Errors("[STATUS]\nCommand=(IF;)\nReplyEnd=(;)\nValidate=(IF...........;)\n"
                   "Flag1=(IF...........;)|pmTx\n"),
            Lines{});
  EXPECT_EQ(err("ReplyEnd=(;)\nValidate=(IF...........)\n"),
            Lines{"[STATUS].Validate:  mask does not end with ReplyEnd in \"(IF...........)\""});
  EXPECT_EQ(err("ReplyLength=3\nValidate=FEFE|FFFF\n"),
            Lines{"[STATUS].Validate:  mask length <> ReplyLength in \"FEFE|FFFF\""});
  EXPECT_EQ(err("ReplyLength=2\nValidate=00F0|0F00\n"),
            Lines{"[STATUS].Validate:  mask hides valid bits in \"00F0|0F00\""});
  EXPECT_EQ(err("ReplyLength=2\nValidate=FFFF|FF\n"),
            Lines{"[STATUS].Validate:  incorrect mask length in \"FFFF|FF\""});
  EXPECT_EQ(err("ReplyLength=4\nValidate=A|pmTx\n"),
            Lines{"[STATUS].Validate:  incorrect mask length in \"A|pmTx\""});
  EXPECT_EQ(err("ReplyLength=4\nValidate=(IF;x)|pmTx\n"),
            Lines{"[STATUS].Validate:  parameter name is not allowed in \"(IF;x)|pmTx\""});
  // Both validation tests run.
  EXPECT_EQ(err("ReplyEnd=(;)\nValidate=FFFF|4946|pmTx\n"),
            (Lines{"[STATUS].Validate:  parameter name is not allowed in \"FFFF|4946|pmTx\"",
                   "[STATUS].Validate:  mask does not end with ReplyEnd in \"FFFF|4946|pmTx\""}));
  // A terminator longer than the mask never matches, and is no reason to read outside it.
  EXPECT_EQ(err("ReplyEnd=(;;;)\nValidate=(;;)\n"),
            Lines{"[STATUS].Validate:  mask does not end with ReplyEnd in \"(;;)\""});
  EXPECT_EQ(err("ReplyLength=4\nValidate=FF|FF|pmWhat\n"),
            Lines{"[STATUS].Validate:  invalid parameter name "});
  EXPECT_EQ(err("ReplyLength=4\nValidate=FF|FF|pmTx|x\n"),
            Lines{"[STATUS].Validate:  invalid mask in \"FF|FF|pmTx|x\""});
  EXPECT_EQ(err("ReplyLength=4\nValidate=FF|fe\n"),
            Lines{"[STATUS].Validate:  invalid mask in \"FF|fe\""});
  EXPECT_EQ(err("ReplyLength=4\nValidate=(IF;\n"),
            Lines{"[STATUS].Validate:  invalid mask in \"(IF;\""});

  // Hexadecimal patterns: 00 means "any byte".
  const TRigCommands rc = Load("[STATUS]\nCommand=(IF;)\nReplyLength=3\nValidate=FE.00.FD\n"
                               "Flag1=FF0000|010000|pmTx\n");
  ASSERT_EQ(rc.Errors, Lines{});
  EXPECT_EQ(rc.StatusCmd[0].Validation.Mask, (TByteArray{0xFF, 0x00, 0xFF}));
  EXPECT_EQ(rc.StatusCmd[0].Validation.Flags, (TByteArray{0xFE, 0x00, 0xFD}));
}

TEST(RigCommands, FileThatCannotBeReadRaises) {
  TempFolder tmp;
  std::filesystem::create_directory(tmp.File("Dir.ini"));
  TRigCommands rc;
  EXPECT_THROW(rc.LoadFromFile(tmp.File("Dir.ini")), EIniFileError);
  EXPECT_EQ(rc.RigType, "Dir");
}
