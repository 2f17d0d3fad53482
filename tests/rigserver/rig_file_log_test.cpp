// Rig description files in, exact log lines out: every check of the loader with its message, the
// form of an error line (section, entry, message, value or trailing blank), and whether the file
// is offered as a rig type. Each case is one file "Probe.ini" alone in a Rigs folder, loaded the
// way the server loads its rig types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rig_type_list.h"
#include "temp_folder.h"

using namespace tarvane;
using tarvane_test::TempFolder;
using Lines = std::vector<std::string>;

namespace {

struct LoaderCase {
  const char* name;
  std::string text;
  Lines errors;  // the file's error lines; none: the file is usable
};

// Shorthand for the sections most cases need.
const std::string kStatusRl12 = "[STATUS]\nCommand=(IF;)\nReplyLength=12\n";
const std::string kStatusEnd = "[STATUS]\nCommand=(IF;)\nReplyEnd=(;)\n";
const std::string kValueOk = "Value1=0|1|vfText|1|0|pmFreq\n";
const std::string kFreq = "[pmFreq]\nCommand=(FA000000;)\nValue=";

const std::vector<LoaderCase>& Cases() {
  static const std::vector<LoaderCase> cases = {
      // ---- Sections and entry names
      {"section kinds by name",
       "[INIT]\nCommand=(A;)\n[init2]\nCommand=(B;)\n[Initial]\nCommand=(C;)\n"
       "[Status_A]\nCommand=(S;)\nReplyLength=4\nFlag1=(S..;)|pmTx\n"
       "[pmfreq]\nCommand=(F00;)\nValue=1|2|vfText|1|0\n",
       {}},
      {"unknown section", "[Foo]\nCommand=(A;)\n", {"[Foo].:  invalid parameter name "}},
      {"pmNone has no write command", "[pmNone]\nCommand=(A;)\n",
       {"[pmNone].:  invalid parameter name "}},
      {"section without entries is skipped", "[Empty]\n[INIT3]\n; only a comment\n", {}},
      {"file without sections", "; nothing here\n", {}},
      {"entries not allowed in an init section", "[INIT]\nCommand=(A;)\nValue=1|1|vfText|1|0\nFoo=1\n",
       {"[INIT].Value:  invalid entry name ", "[INIT].Foo:  invalid entry name "}},
      {"flags not allowed in a write section", "[pmTx]\nCommand=(A;)\nFlag1=(A)|pmTx\n",
       {"[pmTx].Flag1:  invalid entry name "}},
      {"status sections take any ValueNN and FlagNN",
       "[STATUS]\nCommand=(A;)\nReplyLength=2\nVALUEx=0|1|vfText|1|0|pmFreq\n"
       "flag_b=(.;)|pmTx\nFlagging=(;.)|pmRx\n",
       {}},
      {"ini semantics: names ignore case, a ; inside a value is kept",
       "[init]\ncommand = (FA;) \n;Command=fe\n  [pmTX]  \nCOMMAND=(TX;)\n", {}},

      // ---- Common entries
      {"command in lower-case hex", "[INIT]\nCommand=fe\n",
       {"[INIT].Command:  invalid byte string in \"fe\"",
        "[INIT].Command:  command code is missing in \"fe\""}},
      {"command of one character", "[INIT]\nCommand=A\n",
       {"[INIT].Command:  command code is missing in \"A\""}},
      {"no command entry", "[INIT]\nReplyEnd=(;)\n",
       {"[INIT].Command:  command code is missing in \"\""}},
      {"hex command with dots", "[INIT]\nCommand=FE.FE.94.E0\n", {}},
      {"odd number of hex digits", "[INIT]\nCommand=FE.F\n",
       {"[INIT].Command:  invalid byte string in \"FE.F\"",
        "[INIT].Command:  command code is missing in \"FE.F\""}},
      {"literal without closing parenthesis", "[INIT]\nCommand=(FA;\n",
       {"[INIT].Command:  invalid byte string in \"(FA;\"",
        "[INIT].Command:  command code is missing in \"(FA;\""}},
      {"negative reply length", "[INIT]\nCommand=(A;)\nReplyLength=-1\n",
       {"[INIT].ReplyLength:  invalid integer in \"-1\""}},
      {"reply length the ini way: hex, or 0 for text", "[INIT]\nCommand=(A;)\nReplyLength=0x10\n"
       "[INIT2]\nCommand=(B;)\nReplyLength=ten\n", {}},
      {"bad terminator", "[INIT]\nCommand=(A;)\nReplyEnd=0D0\n",
       {"[INIT].ReplyEnd:  invalid byte string in \"0D0\""}},
      {"validation with an empty mask field", "[INIT]\nCommand=(A;)\nValidate=|FF\n",
       {"[INIT].Validate:  invalid mask in \"|FF\""}},
      {"errors of all sections accumulate",
       "[INIT1]\nCommand=(A;)\n[INIT2]\nCommand=A\n[INIT3]\nCommand=(C;)\n[Bar]\nCommand=(A;)\n",
       {"[INIT2].Command:  command code is missing in \"A\"", "[Bar].:  invalid parameter name "}},

      // ---- Write sections
      {"flag parameter with a value", "[pmVfoA]\nCommand=(FR0;)\nValue=1|1|vfText|1|0\n",
       {"[pmVfoA].Value:  parameter does not require a value "}},
      {"flag parameter with a vfNone value", "[pmVfoA]\nCommand=(FR0;)\nValue=1|1|vfNone|1|0\n", {}},
      {"numeric parameter without a value", "[pmFreq]\nCommand=(FA00;)\n",
       {"[pmFreq].Value:  Value is missing in \"\""}},
      {"numeric parameter with a vfNone value", "[pmFreq]\nCommand=(FA00;)\nValue=2|2|vfNone|1|0\n",
       {"[pmFreq].Value:  Value is missing in \"2|2|vfNone|1|0\""}},
      {"parameter inside a write value", "[pmFreq]\nCommand=(FA00;)\nValue=2|2|vfText|1|0|pmFreq\n",
       {"[pmFreq].Value:  parameter name is not allowed in \"2|2|vfText|1|0|pmFreq\""}},
      {"value beyond the command, multiplier zero", "[pmFreq]\nCommand=(FA00;)\nValue=4|2|vfText|0|0\n",
       {"[pmFreq].Value:  invalid Length value in \"4|2|vfText|0|0\"",
        "[pmFreq].Value:  invalid Multiplier value in \"4|2|vfText|0|0\""}},
      {"start at the end of the command", "[pmFreq]\nCommand=(FA00;)\nValue=5|0|vfText|1|0\n",
       {"[pmFreq].Value:  invalid Start value in \"5|0|vfText|1|0\""}},
      {"all three place checks fail", "[pmFreq]\nCommand=(FA00;)\nValue=-1|-1|vfText|-2|0\n",
       {"[pmFreq].Value:  invalid Start value in \"-1|-1|vfText|-2|0\"",
        "[pmFreq].Value:  invalid Length value in \"-1|-1|vfText|-2|0\"",
        "[pmFreq].Value:  invalid Multiplier value in \"-1|-1|vfText|-2|0\""}},
      {"second section for a parameter", "[pmTx]\nCommand=(TX;)\n[PMTX]\nCommand=(TX1;)\n", {}},
      {"bad section among good ones keeps only its own lines",
       "[pmTx]\nCommand=(TX;)\n[pmRx]\nCommand=(RX;)\nReplyLength=x1\nValidate=FF|FF|pmRx\n",
       {"[pmRx].Validate:  parameter name is not allowed in \"FF|FF|pmRx\""}},

      // ---- Value syntax
      {"four fields", kFreq + "2|4|vfText|1\n", {"[pmFreq].Value:  invalid syntax in \"2|4|vfText|1\""}},
      {"seven good fields", kFreq + "2|4|vfText|1|0|pmNone|x\n",
       {"[pmFreq].Value:  invalid syntax in \"2|4|vfText|1|0|pmNone|x\""}},
      {"seven fields are still read", kFreq + "x|4|vfText|1|0|pmNone|y\n",
       {"[pmFreq].Value:  invalid syntax in \"x|4|vfText|1|0|pmNone|y\"",
        "[pmFreq].Value:  invalid Start value in \"x|4|vfText|1|0|pmNone|y\""}},
      {"start not a number", kFreq + "x|4|vfText|1|0\n",
       {"[pmFreq].Value:  invalid Start value in \"x|4|vfText|1|0\""}},
      {"blank inside a number", kFreq + "2|4 |vfText|1|0\n",
       {"[pmFreq].Value:  invalid Length value in \"2|4 |vfText|1|0\""}},
      {"unknown format", kFreq + "2|4|vfBCD|1|0\n",
       {"[pmFreq].Value:  invalid format name in \"2|4|vfBCD|1|0\""}},
      {"decimal comma", kFreq + "2|4|vfText|1,5|0\n",
       {"[pmFreq].Value:  invalid Multiplier value in \"2|4|vfText|1,5|0\""}},
      {"multiplier beyond single precision", kFreq + "2|4|vfText|1e99|0\n",
       {"[pmFreq].Value:  invalid Multiplier value in \"2|4|vfText|1e99|0\""}},
      {"addend not a number", kFreq + "2|4|vfText|1|nan\n",
       {"[pmFreq].Value:  invalid Add value in \"2|4|vfText|1|nan\""}},
      {"unknown parameter in a value", kFreq + "2|4|vfText|1|0|pmBogus\n",
       {"[pmFreq].Value:  invalid parameter name "}},
      {"names ignore case, decimal point", kFreq + "2|4|VFBCDBU|2.5|-1.25\n", {}},
      {"range on a value sent", kFreq + "2|4|vfText|1|0|pmNone|0|9\n",
       {"[pmFreq].Value:  invalid syntax in \"2|4|vfText|1|0|pmNone|0|9\""}},

      // ---- Status sections
      {"value fits the reply", kStatusRl12 + "Value1=2|10|vfText|1|0|pmFreq\n", {}},
      {"value beyond the reply", kStatusRl12 + "Value1=2|11|vfText|1|0|pmFreq\n",
       {"[STATUS].Value1:  invalid Length value in \"2|11|vfText|1|0|pmFreq\""}},
      {"value starting at the reply's end", kStatusRl12 + "Value1=12|0|vfText|1|0|pmFreq\n",
       {"[STATUS].Value1:  invalid Start value in \"12|0|vfText|1|0|pmFreq\""}},
      {"flag parameter for a value", kStatusRl12 + "Value1=2|10|vfText|1|0|pmVfoA\n",
       {"[STATUS].Value1:  parameter must be of numeric type in \"2|10|vfText|1|0|pmVfoA\""}},
      {"value without parameter", kStatusRl12 + "Value1=2|10|vfText|1|0\n",
       {"[STATUS].Value1:  parameter name is missing in \"2|10|vfText|1|0\""}},
      {"value with a range", kStatusRl12 + "Value1=2|10|vfText|1|0|pmFreq|-5|470000000\n", {}},
      {"range of one value", kStatusRl12 + "Value1=2|10|vfText|1|0|pmFreq|7|7\n", {}},
      {"range bounds not numbers", kStatusRl12 + "Value1=2|10|vfText|1|0|pmFreq|low|1.5\n",
       {"[STATUS].Value1:  invalid Min value in \"2|10|vfText|1|0|pmFreq|low|1.5\"",
        "[STATUS].Value1:  invalid Max value in \"2|10|vfText|1|0|pmFreq|low|1.5\""}},
      {"range upside down", kStatusRl12 + "Value1=2|10|vfText|1|0|pmFreq|500|100\n",
       {"[STATUS].Value1:  invalid Max value in \"2|10|vfText|1|0|pmFreq|500|100\""}},
      {"range bound beyond 32 bits", kStatusRl12 + "Value1=2|10|vfText|1|0|pmFreq|0|4294967296\n",
       {"[STATUS].Value1:  invalid Max value in \"2|10|vfText|1|0|pmFreq|0|4294967296\""}},
      {"range without its upper bound", kStatusRl12 + "Value1=2|10|vfText|1|0|pmFreq|0\n",
       {"[STATUS].Value1:  invalid syntax in \"2|10|vfText|1|0|pmFreq|0\""}},
      {"nine value fields", kStatusRl12 + "Value1=2|10|vfText|1|0|pmFreq|0|1|2\n",
       {"[STATUS].Value1:  invalid syntax in \"2|10|vfText|1|0|pmFreq|0|1|2\""}},
      {"vfNone status value is not placed", kStatusRl12 + "Value1=40|9|vfNone|0|0|pmPitch\n", {}},
      {"neither value nor flag", kStatusRl12 + "Validate=(IF.........;)\n",
       {"[STATUS].:  at least one ValueNN or FlagNN must be defined "}},
      {"neither length nor terminator", "[STATUS]\nCommand=(IF;)\nFlag1=(I.)|pmTx\n",
       {"[STATUS].:  ReplyLength or ReplyEnd must be specified "}},
      {"terminator only: a value may lie anywhere", kStatusEnd + "Value1=100|10|vfText|1|0|pmFreq\n", {}},
      {"terminator only: a value within the validation mask",
       kStatusEnd + "Validate=(IF..;)\nValue1=2|4|vfText|1|0|pmFreq\n",
       {"[STATUS].Value1:  invalid Length value in \"2|4|vfText|1|0|pmFreq\""}},

      // ---- Masks
      {"literal validation ending with the terminator",
       kStatusEnd + "Validate=(IF...........;)\nFlag1=(IF...........;)|pmTx\n", {}},
      {"literal validation missing the terminator", kStatusEnd + "Validate=(IF...........)\n" + kValueOk,
       {"[STATUS].Validate:  mask does not end with ReplyEnd in \"(IF...........)\""}},
      {"mask and reply lengths differ", "[STATUS]\nCommand=(IF;)\nReplyLength=3\nValidate=FEFE|FFFF\n" + kValueOk,
       {"[STATUS].Validate:  mask length <> ReplyLength in \"FEFE|FFFF\""}},
      {"expected bits outside the mask", "[STATUS]\nCommand=(IF;)\nReplyLength=2\nValidate=00F0|0F00\n" + kValueOk,
       {"[STATUS].Validate:  mask hides valid bits in \"00F0|0F00\""}},
      {"mask and flags of different lengths", "[STATUS]\nCommand=(IF;)\nReplyLength=2\nValidate=FFFF|FF\n" + kValueOk,
       {"[STATUS].Validate:  incorrect mask length in \"FFFF|FF\""}},
      {"pattern of one character is empty", "[STATUS]\nCommand=(IF;)\nReplyLength=4\nValidate=A|pmTx\n" + kValueOk,
       {"[STATUS].Validate:  incorrect mask length in \"A|pmTx\""}},
      {"parameter in a validation mask", "[STATUS]\nCommand=(IF;)\nReplyLength=4\nValidate=(IF;x)|pmTx\n" + kValueOk,
       {"[STATUS].Validate:  parameter name is not allowed in \"(IF;x)|pmTx\""}},
      {"both validation tests run", kStatusEnd + "Validate=FFFF|4946|pmTx\n" + kValueOk,
       {"[STATUS].Validate:  parameter name is not allowed in \"FFFF|4946|pmTx\"",
        "[STATUS].Validate:  mask does not end with ReplyEnd in \"FFFF|4946|pmTx\""}},
      {"terminator longer than the mask", "[STATUS]\nCommand=(IF;)\nReplyEnd=(;;;)\nValidate=(;;)\n" + kValueOk,
       {"[STATUS].Validate:  mask does not end with ReplyEnd in \"(;;)\""}},
      {"unknown parameter in a mask", "[STATUS]\nCommand=(IF;)\nReplyLength=4\nValidate=FF|FF|pmWhat\n" + kValueOk,
       {"[STATUS].Validate:  invalid parameter name "}},
      {"four mask fields", "[STATUS]\nCommand=(IF;)\nReplyLength=4\nValidate=FF|FF|pmTx|x\n" + kValueOk,
       {"[STATUS].Validate:  invalid mask in \"FF|FF|pmTx|x\""}},
      {"bad flags bytes", "[STATUS]\nCommand=(IF;)\nReplyLength=4\nValidate=FF|fe\n" + kValueOk,
       {"[STATUS].Validate:  invalid mask in \"FF|fe\""}},
      {"bad literal pattern", "[STATUS]\nCommand=(IF;)\nReplyLength=4\nValidate=(IF;\n" + kValueOk,
       {"[STATUS].Validate:  invalid mask in \"(IF;\""}},
      {"hex pattern: 00 is any byte", "[STATUS]\nCommand=(IF;)\nReplyLength=3\nValidate=FE.00.FD\n"
       "Flag1=FF0000|010000|pmTx\n", {}},
      {"flag without parameter", kStatusEnd + "Flag1=(....0.)\n",
       {"[STATUS].Flag1:  parameter name is missing in \"(....0.)\""}},
      {"flag ending with the terminator, without parameter", kStatusEnd + "Flag1=(....0;)\n",
       {"[STATUS].Flag1:  parameter name is missing in \"(....0;)\""}},
      {"flag of the wrong length", kStatusRl12 + "Flag1=(....0.)\n",
       {"[STATUS].Flag1:  mask length <> ReplyLength in \"(....0.)\""}},
      {"bad flag bytes", kStatusEnd + "Flag1=FF|fe|pmTx\n",
       {"[STATUS].Flag1:  invalid mask in \"FF|fe|pmTx\""}},
      {"unknown parameter in a flag", kStatusEnd + "Flag1=FF|01|pmWhat\n",
       {"[STATUS].Flag1:  invalid parameter name "}},
      {"flag hiding bits", kStatusEnd + "Flag1=0F|10|pmTx\n",
       {"[STATUS].Flag1:  mask hides valid bits in \"0F|10|pmTx\""}},
      {"flag need not end with the terminator", kStatusEnd + "Flag1=(IF1)|pmTx\n", {}},
  };
  return cases;
}

TEST(RigFileLog, EveryCheckGivesItsExactLogLines) {
  for (const LoaderCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    TempFolder rigs;
    rigs.Write("Probe.ini", c.text);
    Lines log;
    TRigTypeList list;
    list.LoadRigTypes(rigs.Path().string(), [&log](const std::string& s) { log.push_back(s); });

    Lines want = {"Loading commands from \"Probe.ini\""};
    if (!c.errors.empty()) {
      std::string entry = "Errors:\r\n";
      for (const std::string& line : c.errors) entry += line + "\r\n";
      want.push_back(entry);
    }
    EXPECT_EQ(log, want);
    // Any error at all keeps the file from being offered.
    EXPECT_EQ(list.Names(), c.errors.empty() ? (Lines{"NONE", "Probe"}) : (Lines{"NONE"}));
  }
}

}  // namespace
