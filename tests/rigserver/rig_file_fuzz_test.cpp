// Rig description files come from users: whatever they hold, loading must end in error lines,
// never a crash, and a file that loads without errors must keep the promises the rig engine
// relies on.
#include <gtest/gtest.h>

#include <random>

#include "rig_commands.h"
#include "temp_folder.h"
#include "value_formats.h"

using namespace tarvane;
using tarvane_test::TempFolder;

namespace {

const char* const kTokens[] = {
    "[", "]", "=", "|", "(", ")", ";", ".", " ", "\n", "\r\n", "\t", "\"", "'", "" /* a NUL byte */,
    "0", "1", "2", "5", "12", "-1", "0x10", "99999999999", "1e40", "0.1", "FE", "00", "FF", "fe", "A",
    "INIT", "STATUS", "pmFreq", "pmVfoA", "pmTx", "pmNone", "pmRitOffset", "Command", "ReplyLength",
    "ReplyEnd", "Validate", "Value", "Value1", "Flag1", "vfText", "vfBcdBS", "vfYaesu", "vfNone",
    "(IF;)", "(..;)", "FE.FE", "\xFF", "\x01",
};

std::string RandomFile(std::mt19937& rng) {
  std::uniform_int_distribution<size_t> pick(0, std::size(kTokens) - 1);
  std::uniform_int_distribution<int> count(0, 300);
  std::string text;
  const int n = count(rng);
  for (int i = 0; i < n; ++i) {
    const char* t = kTokens[pick(rng)];
    text += *t == '\0' ? std::string(1, '\0') : std::string(t);
  }
  return text;
}

// A few shapes that are nearly right, so that many random files pass some of the checks.
std::string NearlyRightFile(std::mt19937& rng) {
  std::uniform_int_distribution<size_t> pick(0, std::size(kTokens) - 1);
  auto tok = [&] { return std::string(kTokens[pick(rng)]); };
  return "[STATUS" + tok() + "]\nCommand=(IF;)\nReplyLength=" + tok() + "\nReplyEnd=" + tok() +
         "\nValidate=" + tok() + tok() + "\nValue1=" + tok() + "|" + tok() + "|" + tok() + "|" +
         tok() + "|" + tok() + "|" + tok() + "\nFlag1=" + tok() + tok() + "|" + tok() +
         "\n[" + tok() + "]\nCommand=" + tok() + tok() + "\nValue=" + tok() + "|" + tok() + "|" +
         tok() + "|" + tok() + "|" + tok() + "\n";
}

void CheckPromises(const TRigCommands& rc) {
  auto mask_ok = [](const TBitMask& m) {
    EXPECT_EQ(m.Mask.size(), m.Flags.size());
    EXPECT_EQ(BytesAnd(m.Flags, m.Mask), m.Flags);
  };
  for (const TRigCommand& cmd : rc.StatusCmd) {
    EXPECT_FALSE(cmd.Code.empty());
    EXPECT_TRUE(cmd.ReplyLength > 0 || !cmd.ReplyEnd.empty());
    EXPECT_FALSE(cmd.Values.empty() && cmd.Flags.empty());
    mask_ok(cmd.Validation);
    for (const TBitMask& f : cmd.Flags) {
      mask_ok(f);
      EXPECT_NE(f.Param, pmNone);
    }
    for (const TParamValue& v : cmd.Values) {
      EXPECT_TRUE(IsNumericParam(v.Param));
      // Decoding any reply never fails other than by giving no value.
      const TByteArray reply(static_cast<size_t>(cmd.ReplyLength > 0 ? cmd.ReplyLength : 16),
                             0x39);
      (void)UnformatValue(reply, v, 1, {});
    }
  }
  for (int p = 0; p < kRigParamCount; ++p) {
    const TRigCommand& cmd = rc.WriteCmd[p];
    if (cmd.Code.empty()) continue;
    if (cmd.Value.Fmt != vfNone) {
      EXPECT_GE(cmd.Value.Start, 0);
      EXPECT_LE(int64_t{cmd.Value.Start} + cmd.Value.Len, static_cast<int64_t>(cmd.Code.size()));
      try {
        EXPECT_EQ(FormatValue(14250000, cmd.Value, 1, {}).size(),
                  static_cast<size_t>(cmd.Value.Len));
      } catch (const ERangeError&) {
      }
    }
  }
}

}  // namespace

TEST(RigFileFuzz, MalformedFilesGiveErrorLinesNeverACrash) {
  TempFolder tmp;
  std::mt19937 rng(20240611);
  int usable = 0;
  for (int i = 0; i < 1500; ++i) {
    const std::string text = i % 2 == 0 ? RandomFile(rng) : NearlyRightFile(rng);
    TRigCommands rc;
    rc.LoadFromFile(tmp.Write("Fuzz.ini", text));
    if (rc.Errors.empty()) {
      ++usable;
      CheckPromises(rc);
    }
    for (const std::string& line : rc.Errors) ASSERT_EQ(line.front(), '[') << line;
  }
  EXPECT_GT(usable, 50);
}
