// The delivered rig description files: each loads with the server's own loader without a single
// error line, offers exactly the parameters its protocol supports, and polls with the status
// commands its radios answer. The copy in the program folder matches the source.
#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "rig_file_probe.h"
#include "rig_type_list.h"

using namespace rigdata_test;
using Lines = std::vector<std::string>;

namespace {

struct TStatusExpectation {
  TByteArray Code;
  int32_t ReplyLength;
  TByteArray ReplyEnd;
};

struct TRigFileExpectation {
  std::string Name;
  TRigParamSet Readable;
  TRigParamSet Writeable;
  std::vector<TStatusExpectation> Status;
  size_t InitCount;
};

const TRigParamSet kAllModes{pmCW_U, pmCW_L, pmSSB_U, pmSSB_L, pmDIG_U, pmDIG_L, pmAM, pmFM};

TRigParamSet Join(TRigParamSet a, TRigParamSet b) {
  TRigParamSet r = a;
  for (int p = 0; p < kRigParamCount; ++p) {
    if (b.Contains(static_cast<TRigParam>(p))) r.Include(static_cast<TRigParam>(p));
  }
  return r;
}

// The model files, family by family.
const TRigParamSet kTextReads = Join(kAllModes, {pmFreq, pmFreqA, pmFreqB, pmRitOffset, pmRitOn,
                                                 pmRitOff, pmXitOn, pmXitOff, pmRx, pmTx});
const TRigParamSet kTextWrites = Join(kAllModes, {pmFreq, pmFreqA, pmFreqB, pmRit0, pmRitOn,
                                                  pmRitOff, pmXitOn, pmXitOff, pmRx, pmTx});

TRigFileExpectation Kenwood(std::string name) {
  return {std::move(name),
          Join(kTextReads, {pmVfoAA, pmVfoAB, pmVfoBA, pmVfoBB, pmSplitOn, pmSplitOff}),
          Join(kTextWrites, {pmVfoAA, pmVfoAB, pmVfoBA, pmVfoBB, pmVfoA, pmVfoB}),
          {{Text("IF;"), 38, Text(";")}, {Text("FA;"), 14, Text(";")}, {Text("FB;"), 14, Text(";")}},
          1};
}

TRigFileExpectation Elecraft(std::string name) {
  TRigFileExpectation e = Kenwood(std::move(name));
  e.Writeable = Join(kTextWrites, {pmSplitOn, pmSplitOff});
  return e;
}

TRigFileExpectation Yaesu(std::string name) {
  return {std::move(name),
          Join(kTextReads, {pmVfoA, pmVfoB, pmSplitOn, pmSplitOff}),
          Join(kTextWrites, {pmVfoA, pmVfoB, pmVfoEqual, pmVfoSwap, pmSplitOn, pmSplitOff}),
          {{Text("IF;"), 28, Text(";")},
           {Text("FA;"), 12, Text(";")},
           {Text("FB;"), 12, Text(";")},
           {Text("VS;"), 4, Text(";")},
           {Text("ST;"), 4, Text(";")},
           {Text("TX;"), 4, Text(";")}},
          1};
}

// The FT-991A has no VFO select and no ST: split is the transmitting VFO (FT), offered as the VFO
// pairs A/A and A/B as well.
TRigFileExpectation Yaesu991(std::string name) {
  TRigFileExpectation e = Yaesu(std::move(name));
  e.Readable = Join(kTextReads, {pmVfoAA, pmVfoAB, pmSplitOn, pmSplitOff});
  e.Writeable =
      Join(kTextWrites, {pmVfoAA, pmVfoAB, pmVfoEqual, pmVfoSwap, pmSplitOn, pmSplitOff});
  e.Status[3] = {Text("FT;"), 4, Text(";")};
  e.Status.erase(e.Status.begin() + 4);
  return e;
}

// The FT-891 has no VFO select and no RIT or XIT switches; it reads them from IF all the same.
TRigFileExpectation Yaesu891(std::string name) {
  TRigFileExpectation e = Yaesu(std::move(name));
  e.Readable = Join(kTextReads, {pmSplitOn, pmSplitOff});
  e.Writeable = Join(kAllModes, {pmFreq, pmFreqA, pmFreqB, pmRit0, pmRx, pmTx, pmVfoEqual,
                                 pmVfoSwap, pmSplitOn, pmSplitOff});
  e.Status.erase(e.Status.begin() + 3);
  return e;
}

struct TFrameFeatures {
  bool ModeWithData, Rit, Xit, Ptt, Vfo;
};

TRigFileExpectation Frame(std::string name, uint8_t a, TFrameFeatures f,
                          TRigParamSet moreWrites = {}) {
  auto frame = [a](std::initializer_list<uint8_t> body) {
    TByteArray b(body.size() + 5, 0xFD);
    b[0] = b[1] = 0xFE;
    b[2] = a;
    b[3] = 0xE0;
    std::copy(body.begin(), body.end(), b.begin() + 4);
    return b;
  };
  TRigFileExpectation e{std::move(name), Join(kAllModes, {pmFreq, pmSplitOn, pmSplitOff}),
                        Join(kAllModes, {pmFreq, pmSplitOn, pmSplitOff}), {}, 0};
  e.Status.push_back({frame({0x03}), 17, {}});
  e.Status.push_back(f.ModeWithData ? TStatusExpectation{frame({0x26, 0x00}), 17, {}}
                                    : TStatusExpectation{frame({0x04}), 14, {}});
  e.Status.push_back({frame({0x0F}), 13, {}});
  if (f.Ptt) {
    e.Readable = Join(e.Readable, {pmRx, pmTx});
    e.Writeable = Join(e.Writeable, {pmRx, pmTx});
    e.Status.push_back({frame({0x1C, 0x00}), 15, {}});
  }
  if (f.Rit) {
    e.Readable = Join(e.Readable, {pmRitOn, pmRitOff, pmRitOffset});
    e.Writeable = Join(e.Writeable, {pmRitOn, pmRitOff, pmRit0});
    e.Status.push_back({frame({0x21, 0x01}), 15, {}});
    e.Status.push_back({frame({0x21, 0x00}), 17, {}});
  }
  if (f.Xit) {
    e.Readable = Join(e.Readable, {pmXitOn, pmXitOff});
    e.Writeable = Join(e.Writeable, {pmXitOn, pmXitOff});
    e.Status.push_back({frame({0x21, 0x02}), 15, {}});
  }
  if (f.Vfo) e.Writeable = Join(e.Writeable, {pmVfoA, pmVfoB, pmVfoEqual, pmVfoSwap});
  e.Writeable = Join(e.Writeable, moreWrites);
  return e;
}

TRigFileExpectation FiveByte(std::string name) {
  const TRigParamSet modes{pmSSB_L, pmSSB_U, pmCW_U, pmCW_L, pmAM, pmFM, pmDIG_U};
  return {std::move(name),
          Join(modes, {pmFreq, pmRx, pmTx}),
          Join(modes, {pmFreq, pmSplitOn, pmSplitOff, pmVfoSwap, pmRitOn, pmRitOff, pmRitOffset,
                       pmRit0, pmRx, pmTx}),
          {{Bytes({0x00, 0x00, 0x00, 0x00, 0x03}), 5, {}},
           {Bytes({0x00, 0x00, 0x00, 0x00, 0xF7}), 1, {}}},
          0};
}

std::vector<TRigFileExpectation> Expectations() {
  return {
      Kenwood("TS-480"),
      Kenwood("TS-2000"),
      Kenwood("TS-590S"),
      Kenwood("TS-590SG"),
      Elecraft("K3"),
      Elecraft("KX3"),
      Yaesu991("FT-991A"),
      Yaesu891("FT-891"),
      Yaesu("FTDX10"),
      //                  26     RIT    XIT    PTT    VFO
      Frame("IC-7300", 0x94, {true, true, true, true, true}),
      Frame("IC-7610", 0x98, {true, true, true, true, false}, {pmVfoSwap}),
      Frame("IC-705", 0xA4, {true, true, true, true, true}),
      Frame("IC-9700", 0xA2, {true, true, false, true, true}),
      Frame("IC-7100", 0x88, {false, false, false, true, true}),
      Frame("IC-718", 0x5E, {false, false, false, false, true}),
      FiveByte("FT-817"),
      FiveByte("FT-818"),
      FiveByte("FT-857"),
      FiveByte("FT-897"),
      {"Generic ASCII 2-letter",
       Join(kAllModes, {pmFreq, pmFreqA, pmFreqB, pmRitOffset, pmVfoAA, pmVfoAB, pmVfoBA, pmVfoBB,
                        pmSplitOn, pmSplitOff, pmRitOn, pmRitOff, pmXitOn, pmXitOff, pmRx, pmTx}),
       Join(kAllModes, {pmFreq, pmFreqA, pmFreqB, pmRit0, pmVfoAA, pmVfoAB, pmVfoBA, pmVfoBB,
                        pmVfoA, pmVfoB, pmRitOn, pmRitOff, pmXitOn, pmXitOff, pmRx, pmTx}),
       {{Text("IF;"), 38, Text(";")}, {Text("FA;"), 14, Text(";")}, {Text("FB;"), 14, Text(";")}},
       1},
      {"Generic CI-frame",
       Join(kAllModes, {pmFreq, pmSplitOn, pmSplitOff}),
       Join(kAllModes, {pmFreq, pmVfoA, pmVfoB, pmVfoEqual, pmVfoSwap, pmSplitOn, pmSplitOff,
                        pmRitOn, pmRitOff, pmRx, pmTx}),
       {{Bytes({0xFE, 0xFE, 0x5A, 0xE0, 0x03, 0xFD}), 17, {}},
        {Bytes({0xFE, 0xFE, 0x5A, 0xE0, 0x04, 0xFD}), 14, {}},
        {Bytes({0xFE, 0xFE, 0x5A, 0xE0, 0x0F, 0xFD}), 13, {}}},
       0},
      {"Generic 5-byte",
       {pmFreq, pmSSB_L, pmSSB_U, pmCW_U, pmCW_L, pmAM, pmFM, pmDIG_U},
       {pmFreq, pmSSB_L, pmSSB_U, pmCW_U, pmCW_L, pmAM, pmFM, pmDIG_U, pmSplitOn, pmSplitOff,
        pmRitOn, pmRitOff, pmRx, pmTx},
       {{Bytes({0x00, 0x00, 0x00, 0x00, 0x03}), 5, {}}},
       0},
  };
}

std::string ParamNames(TRigParamSet s) {
  std::string r;
  for (int i = 0; i < kRigParamCount; ++i) {
    const auto p = static_cast<TRigParam>(i);
    if (s.Contains(p)) r += std::string(RigParamName(p)) + " ";
  }
  return r;
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(RigFiles, EveryFileIsOfferedAsARigTypeWithoutErrorLines) {
  Lines log;
  TRigTypeList list;
  list.LoadRigTypes(RigsSourceFolder(),
                    [&log](const std::string& s) { log.push_back(s); });
  // Only the "Loading commands" line of each file: no error block, no unreadable file.
  const Lines files = LoadFileNames(RigsSourceFolder(), ".ini");
  ASSERT_FALSE(files.empty());
  ASSERT_EQ(log.size(), files.size()) << ::testing::PrintToString(log);
  for (const std::string& line : log) EXPECT_EQ(line.rfind("Loading commands from \"", 0), 0u);
  ASSERT_EQ(list.Count(), static_cast<int>(files.size()) + 1);
  for (int i = 1; i < list.Count(); ++i) EXPECT_NE(list.Commands(i), nullptr) << list.Name(i);
  // Every delivered file has its expectations below, and the other way round.
  Lines expected{"NONE"};
  for (const auto& e : Expectations()) expected.push_back(e.Name);
  std::sort(expected.begin() + 1, expected.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  EXPECT_EQ(list.Names(), expected);
}

TEST(RigFiles, ParametersAndStatusCommandsPerFile) {
  for (const TRigFileExpectation& e : Expectations()) {
    SCOPED_TRACE(e.Name);
    const TRigCommands rc = LoadRig(e.Name);
    EXPECT_EQ(rc.Errors, Lines{});
    EXPECT_EQ(rc.RigType, e.Name);
    EXPECT_EQ(ParamNames(rc.ReadableParams), ParamNames(e.Readable));
    EXPECT_EQ(ParamNames(rc.WriteableParams), ParamNames(e.Writeable));
    EXPECT_EQ(rc.InitCmd.size(), e.InitCount);
    // Only the FTDX10 has no read of the frequency heard but tells which VFO is in use.
    EXPECT_EQ(rc.FreqFollowsVfo, e.Name == "FTDX10");
    ASSERT_EQ(rc.StatusCmd.size(), e.Status.size());
    for (size_t i = 0; i < e.Status.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(BytesToHex(rc.StatusCmd[i].Code), BytesToHex(e.Status[i].Code));
      EXPECT_EQ(rc.StatusCmd[i].ReplyLength, e.Status[i].ReplyLength);
      EXPECT_EQ(rc.StatusCmd[i].ReplyEnd, e.Status[i].ReplyEnd);
    }
    // Every write command that carries a value takes a frequency without an encoding error.
    for (const TRigParam p : {pmFreq, pmFreqA, pmFreqB}) {
      if (!rc.WriteableParams.Contains(p)) continue;
      Lines log;
      EXPECT_FALSE(WriteBytes(rc, p, 14250000, &log).empty()) << RigParamName(p);
      EXPECT_EQ(log, Lines{});
    }
  }
}

TEST(RigFiles, ProgramFolderHoldsTheSameRigFiles) {
  const std::filesystem::path copied = std::filesystem::path(QM_PROGRAM_DIR) / "Rigs";
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(RigsSourceFolder())) {
    if (!entry.is_regular_file()) continue;
    ++count;
    const auto target = copied / entry.path().filename();
    ASSERT_TRUE(std::filesystem::exists(target)) << target;
    EXPECT_EQ(ReadFile(target), ReadFile(entry.path())) << target;
  }
  EXPECT_GT(count, 0u);
}
