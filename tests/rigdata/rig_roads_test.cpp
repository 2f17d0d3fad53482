// Every delivered rig description file drives the simulated radio of its protocol family through
// the rig engine, as the server does: it loads without an error line, reads frequency and mode,
// sets the frequency of each VFO (the one in use too, with VFO B selected), every mode it can
// write, split, PTT and RIT/XIT, and reads every mode the radio can report as its mode flag; the
// one-call split and simplex set-ups leave the radio receiving and transmitting where asked, or
// (a radio without the commands for it) the split set-up is refused with nothing sent. The radio
// refuses nothing it is sent and the engine logs no error line on the way.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "ascii_radio.h"
#include "five_byte_radio.h"
#include "frame_radio.h"
#include "main_loop.h"
#include "rig.h"
#include "rig_set_up.h"
#include "rig_file_probe.h"
#include "temp_folder.h"

using namespace rigdata_test;
using namespace radiosim;

namespace {

// One radio of any family, seen the same way: VFO 0 is A, 1 is B; a mode is the radio's own code
// (a text character, or the mode and data-mode bytes, or the mode byte).
class TRadio {
 public:
  virtual ~TRadio() = default;
  virtual long long Freq(int vfo) = 0;
  virtual void SetFreq(int vfo, long long hz) = 0;
  virtual int VfoInUse() = 0;
  virtual void SelectVfo(int vfo) = 0;
  virtual void SetMode(const std::string& code) = 0;
  virtual bool Split() = 0;
  // The VFO the radio transmits on.
  virtual int TxVfo() = 0;
  virtual bool Transmitting() = 0;
  virtual bool Rit() = 0;
  virtual bool Xit() = 0;
  virtual int RitOffset() = 0;
  virtual void SetRitOffset(int hz) = 0;
  // Commands refused, unknown, or sent to another address.
  virtual int Refused() = 0;
};

class TAscii final : public TRadio {
 public:
  TAscii(const std::filesystem::path& link, TAsciiDialect d, TAsciiModel m) : r_(link, d, m) {}
  long long Freq(int vfo) override { return r_.Freq(vfo); }
  void SetFreq(int vfo, long long hz) override { r_.SetFreq(vfo, hz); }
  int VfoInUse() override { return r_.RxVfo(); }
  void SelectVfo(int vfo) override { r_.SelectVfos(vfo, vfo); }
  void SetMode(const std::string& code) override { r_.SetMode(code[0]); }
  bool Split() override { return r_.Split(); }
  int TxVfo() override { return r_.TxVfo(); }
  bool Transmitting() override { return r_.Transmitting(); }
  bool Rit() override { return r_.Rit(); }
  bool Xit() override { return r_.Xit(); }
  int RitOffset() override { return r_.RitOffset(); }
  void SetRitOffset(int hz) override { r_.SetRitOffset(hz); }
  int Refused() override { return static_cast<int>(r_.Refused().size()); }

 private:
  TAsciiRadio r_;
};

class TFrame final : public TRadio {
 public:
  TFrame(const std::filesystem::path& link, TFrameModel m) : r_(link, m) {}
  long long Freq(int vfo) override { return r_.Freq(vfo); }
  void SetFreq(int vfo, long long hz) override { r_.SetFreq(vfo, hz); }
  int VfoInUse() override { return r_.Vfo(); }
  void SelectVfo(int vfo) override { r_.SelectVfo(vfo); }
  void SetMode(const std::string& code) override {
    r_.SetMode(static_cast<uint8_t>(code[0]), static_cast<uint8_t>(code[1]));
  }
  bool Split() override { return r_.Split(); }
  int TxVfo() override { return r_.Split() ? 1 - r_.Vfo() : r_.Vfo(); }
  bool Transmitting() override { return r_.Transmitting(); }
  bool Rit() override { return r_.Rit(); }
  bool Xit() override { return r_.Xit(); }
  int RitOffset() override { return r_.RitOffset(); }
  void SetRitOffset(int hz) override { r_.SetRitOffset(hz); }
  int Refused() override { return r_.Refused() + r_.NotForUs(); }

 private:
  TFrameRadio r_;
};

class TFiveByte final : public TRadio {
 public:
  explicit TFiveByte(const std::filesystem::path& link) : r_(link) {}
  long long Freq(int vfo) override { return r_.Freq(vfo); }
  void SetFreq(int vfo, long long hz) override { r_.SetFreq(vfo, hz); }
  int VfoInUse() override { return r_.Vfo(); }
  void SelectVfo(int vfo) override { r_.SelectVfo(vfo); }
  void SetMode(const std::string& code) override { r_.SetMode(static_cast<uint8_t>(code[0])); }
  bool Split() override { return r_.Split(); }
  int TxVfo() override { return r_.Split() ? 1 - r_.Vfo() : r_.Vfo(); }
  bool Transmitting() override { return r_.Transmitting(); }
  bool Rit() override { return r_.Clarifier(); }
  bool Xit() override { return false; }
  int RitOffset() override { return r_.ClarifierOffset(); }
  void SetRitOffset(int hz) override { r_.SetClarifierOffset(hz); }
  int Refused() override { return r_.Unknown(); }

 private:
  TFiveByteRadio r_;
};

enum class TFamily { kAscii, kFrame, kFiveByte };

std::string N(TRigParam p) { return RigParamName(p); }

using TModes = std::vector<std::pair<std::string, TRigParam>>;

struct TModel {
  std::string File;
  TFamily Family;
  TAsciiDialect Dialect = TAsciiDialect::kKenwood;
  TFrameModel Frame;
  TModes Modes;  // every mode the radio reports, with the flag it reads as
  TAsciiModel AsciiModel;
  bool SelectsVfo = true;  // the operator can put the radio on VFO B
  bool SplitSetUp = true;  // the rig type has commands for the one-call split set-up
};

void PrintTo(const TModel& m, std::ostream* os) { *os << m.File; }

std::string Code(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

TModes KenwoodModes() {
  return {{"1", pmSSB_L}, {"2", pmSSB_U}, {"3", pmCW_U}, {"4", pmFM},
          {"5", pmAM},    {"6", pmDIG_L}, {"7", pmCW_L}, {"9", pmDIG_U}};
}
TModes ElecraftModes() {
  return {{"1", pmSSB_L}, {"2", pmSSB_U}, {"3", pmCW_U}, {"4", pmFM},
          {"5", pmAM},    {"6", pmDIG_U}, {"7", pmCW_L}, {"9", pmDIG_L}};
}
TModes YaesuModes(const std::string& more) {
  TModes m = {{"1", pmSSB_L}, {"2", pmSSB_U}, {"3", pmCW_U}, {"4", pmFM},   {"5", pmAM},
              {"6", pmDIG_L}, {"7", pmCW_L},  {"8", pmDIG_L}, {"9", pmDIG_U}, {"A", pmDIG_U},
              {"B", pmFM},    {"C", pmDIG_U}, {"D", pmAM}};
  for (const char c : more) m.push_back({std::string(1, c), pmDIG_U});
  return m;
}
// Mode bytes 00 LSB ... 08 RTTY-R, plus extra codes; with data modes 1..`dataLevels` of LSB, USB,
// AM and FM when the radio reports them.
TModes FrameModes(std::initializer_list<std::pair<uint8_t, TRigParam>> extra, int dataLevels) {
  TModes m = {{Code({0x00, 0}), pmSSB_L}, {Code({0x01, 0}), pmSSB_U}, {Code({0x02, 0}), pmAM},
              {Code({0x03, 0}), pmCW_U},  {Code({0x04, 0}), pmDIG_L}, {Code({0x05, 0}), pmFM},
              {Code({0x07, 0}), pmCW_L},  {Code({0x08, 0}), pmDIG_U}};
  for (const auto& [code, flag] : extra) m.push_back({Code({code, 0}), flag});
  for (uint8_t level = 1; level <= dataLevels; ++level) {
    m.push_back({Code({0x00, level}), pmDIG_L});
    for (const uint8_t mode : {0x01, 0x02, 0x05}) m.push_back({Code({mode, level}), pmDIG_U});
  }
  return m;
}
TModes FiveByteModes(bool generic) {
  TModes m = {{Code({0x00}), pmSSB_L}, {Code({0x01}), pmSSB_U}, {Code({0x02}), pmCW_U},
              {Code({0x03}), pmCW_L},  {Code({0x04}), pmAM},    {Code({0x08}), pmFM},
              {Code({0x0A}), pmDIG_U}};
  if (!generic) {
    // Bit 7 is the narrow filter, in any mode.
    m.insert(m.end(), {{Code({0x06}), pmFM},   {Code({0x0C}), pmDIG_U}, {Code({0x80}), pmSSB_L},
                       {Code({0x81}), pmSSB_U}, {Code({0x82}), pmCW_U},  {Code({0x83}), pmCW_L},
                       {Code({0x84}), pmAM},    {Code({0x86}), pmFM},    {Code({0x88}), pmFM},
                       {Code({0x8A}), pmDIG_U}, {Code({0x8C}), pmDIG_U}});
  }
  return m;
}

TModel Ascii(std::string file, TAsciiDialect d, TModes modes, TAsciiModel model = {}) {
  TModel m{std::move(file), TFamily::kAscii, d, {}, std::move(modes), model};
  // Radios without a VFO-select command: the Elecraft dialect, and Yaesu models without VS.
  m.SelectsVfo = d != TAsciiDialect::kElecraft && model.Vs;
  m.SplitSetUp = d != TAsciiDialect::kElecraft;
  return m;
}
TModel Frame(std::string file, TFrameModel f, TModes modes) {
  return {std::move(file), TFamily::kFrame, TAsciiDialect::kKenwood, f, std::move(modes), {}};
}
TModel FiveByte(std::string file, bool generic = false, bool splitSetUp = true) {
  TModel m{std::move(file), TFamily::kFiveByte, TAsciiDialect::kKenwood, {}, FiveByteModes(generic),
           {}};
  m.SplitSetUp = splitSetUp;  // the generic file has no VFO command
  return m;
}

std::vector<TModel> Models() {
  using D = TAsciiDialect;
  //                 address  26     RIT    XIT    PTT    VFO A/B
  const TFrameModel generic{0x5A, false, true, false, true, true};
  const TFrameModel ic7300{0x94, true, true, true, true, true};
  const TFrameModel ic7610{0x98, true, true, true, true, false, true};
  const TFrameModel ic705{0xA4, true, true, true, true, true};
  const TFrameModel ic9700{0xA2, true, true, false, true, true};
  const TFrameModel ic7100{0x88, false, false, false, true, true};
  const TFrameModel ic718{0x5E, false, false, false, false, true};
  return {
      Ascii("Generic ASCII 2-letter", D::kKenwood, KenwoodModes()),
      Ascii("TS-480", D::kKenwood, KenwoodModes()),
      Ascii("TS-2000", D::kKenwood, KenwoodModes()),
      Ascii("TS-590S", D::kKenwood, KenwoodModes()),
      Ascii("TS-590SG", D::kKenwood, KenwoodModes()),
      Ascii("K3", D::kElecraft, ElecraftModes()),
      Ascii("KX3", D::kElecraft, ElecraftModes()),
      //                                                 VS     ST     RT/XT  FT2/FT3
      Ascii("FT-991A", D::kYaesu, YaesuModes("E"), {false, false, true, true}),
      Ascii("FT-891", D::kYaesu, YaesuModes(""), {false, true, false, false}),
      Ascii("FTDX10", D::kYaesu, YaesuModes("EF")),
      Frame("Generic CI-frame", generic, FrameModes({}, 0)),
      Frame("IC-7300", ic7300, FrameModes({}, 1)),
      Frame("IC-7610", ic7610, FrameModes({{0x12, pmDIG_U}, {0x13, pmDIG_L}}, 3)),
      Frame("IC-705", ic705, FrameModes({{0x06, pmFM}, {0x17, pmDIG_U}}, 3)),
      Frame("IC-9700", ic9700, FrameModes({{0x17, pmDIG_U}, {0x22, pmDIG_U}}, 3)),
      Frame("IC-7100", ic7100, FrameModes({{0x06, pmFM}, {0x17, pmDIG_U}}, 0)),
      Frame("IC-718", ic718, FrameModes({}, 0)),
      FiveByte("Generic 5-byte", true, false),
      FiveByte("FT-817"),
      FiveByte("FT-818"),
      FiveByte("FT-857"),
      FiveByte("FT-897"),
  };
}

class RigFileRoad : public ::testing::TestWithParam<TModel> {
 protected:
  void SetUp() override {
    const TModel& m = GetParam();
    const std::filesystem::path link = folder_.Path() / "radio";
    switch (m.Family) {
      case TFamily::kAscii:
        radio_ = std::make_unique<TAscii>(link, m.Dialect, m.AsciiModel);
        break;
      case TFamily::kFrame:
        radio_ = std::make_unique<TFrame>(link, m.Frame);
        break;
      case TFamily::kFiveByte:
        radio_ = std::make_unique<TFiveByte>(link);
        break;
    }
    rc_ = LoadRig(m.File);
    rig_.SetRigNumber(1);
    rig_.SetDispatcher(loop_.Dispatcher());
    rig_.SetClock([this] { return now_; });
    rig_.SetLog([this](const std::string& line) { log_.push_back(line); });
    rig_.SetPollMs(500);
    rig_.SetTimeoutMs(1000);
    rig_.Port().SetDevicePath(link.string());
  }

  void TearDown() override { loop_.RunPending(); }

  bool QueueIdle() {
    std::lock_guard lock(rig_.Lock());
    return rig_.Queue().Empty() && rig_.Queue().Phase() == qpIdle;
  }
  // Polls once and lets every queued command run to the end; the radio has then taken every
  // command sent before (it answers in order).
  void Poll() {
    now_ += rig_.PollMs() + 1;
    rig_.TimerTick();
    ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle(); }));
  }
  bool Writes(TRigParam p) const { return rc_.WriteableParams.Contains(p); }
  bool Reads(TRigParam p) const { return rc_.ReadableParams.Contains(p); }
  // The code of the first mode reading as `flag`.
  std::string CodeOf(TRigParam flag) const {
    for (const auto& [code, f] : GetParam().Modes)
      if (f == flag) return code;
    return {};
  }

  tarvane_test::TempFolder folder_;
  TTestMainLoop loop_;
  std::unique_ptr<TRadio> radio_;
  TRigCommands rc_;
  int64_t now_ = 1000;
  std::vector<std::string> log_;
  TRig rig_;  // last: it logs while it stops
};

TEST_P(RigFileRoad, DrivesItsRadio) {
  const TModel& m = GetParam();
  ASSERT_EQ(rc_.Errors, std::vector<std::string>{});
  ASSERT_FALSE(CodeOf(pmSSB_U).empty());
  radio_->SetFreq(0, 14074000);
  radio_->SetMode(CodeOf(pmSSB_U));

  rig_.SetRigCommands(&rc_);
  rig_.SetEnabled(true);
  ASSERT_TRUE(loop_.RunUntil([&] { return rig_.Online() && QueueIdle(); }));
  EXPECT_EQ(rig_.Freq(), 14074000);
  EXPECT_EQ(N(rig_.Mode()), N(pmSSB_U));

  // The frequency of each VFO, and of the one in use.
  if (Writes(pmFreqA)) {
    rig_.SetFreqA(7074000);
    Poll();
    EXPECT_EQ(radio_->Freq(0), 7074000);
    if (Reads(pmFreqA)) {
      EXPECT_EQ(rig_.FreqA(), 7074000);
    }
  }
  if (Writes(pmFreqB)) {
    rig_.SetFreqB(10136000);
    Poll();
    EXPECT_EQ(radio_->Freq(1), 10136000);
    if (Reads(pmFreqB)) {
      EXPECT_EQ(rig_.FreqB(), 10136000);
    }
  }
  rig_.SetFreq(21074000);
  Poll();
  EXPECT_EQ(radio_->Freq(radio_->VfoInUse()), 21074000);
  EXPECT_EQ(rig_.Freq(), 21074000);

  // With VFO B selected on the radio, a frequency write reaches VFO B; with VFO A selected by the
  // server, the next write reaches A at once, before any poll has seen the change. (Radios
  // without a VFO-select command receive on VFO A only.)
  if (m.SelectsVfo) {
    const long long a = radio_->Freq(0);
    radio_->SelectVfo(1);
    Poll();
    rig_.SetFreq(18100000);
    Poll();
    EXPECT_EQ(radio_->Freq(1), 18100000);
    EXPECT_EQ(radio_->Freq(0), a);
    EXPECT_EQ(rig_.Freq(), 18100000);
    const TRigParam selectA = Writes(pmVfoA) ? pmVfoA : Writes(pmVfoAA) ? pmVfoAA : pmNone;
    if (selectA != pmNone) {
      rig_.SetVfo(selectA);
      rig_.SetFreq(3573000);
      Poll();
      EXPECT_EQ(radio_->VfoInUse(), 0);
      EXPECT_EQ(radio_->Freq(0), 3573000);
      EXPECT_EQ(radio_->Freq(1), 18100000);
    } else {
      radio_->SelectVfo(0);
      Poll();
    }
  }

  // Every mode written reads back as itself.
  for (int p = pmCW_U; p <= pmFM; ++p) {
    const auto mode = static_cast<TRigParam>(p);
    if (!Writes(mode)) continue;
    rig_.SetMode(mode);
    Poll();
    EXPECT_EQ(N(rig_.Mode()), N(mode));
  }
  // Every mode the radio reports reads as its flag; a mode of another flag comes first, so a code
  // the file left out cannot pass by keeping the previous value.
  for (const auto& [code, flag] : m.Modes) {
    radio_->SetMode(CodeOf(flag == pmCW_U ? pmSSB_U : pmCW_U));
    Poll();
    radio_->SetMode(code);
    Poll();
    EXPECT_EQ(N(rig_.Mode()), N(flag)) << ::testing::PrintToString(code);
  }

  // A switch set on, then off: the radio follows, and where the file reads the state back the
  // rig reports it.
  auto expectSwitch = [&](TRigParam on, TRigParam off, auto set, auto radioOn, auto stored) {
    for (const TRigParam p : {on, off}) {
      set(p);
      Poll();
      EXPECT_EQ(radioOn(), p == on) << RigParamName(p);
      if (Reads(p)) {
        EXPECT_EQ(N(stored()), N(p));
      }
    }
  };

  // Split on and off, written directly or through the VFO pair.
  if (Writes(pmSplitOn) || Writes(pmVfoAB)) {
    expectSwitch(pmSplitOn, pmSplitOff, [&](TRigParam p) { rig_.SetSplit(p); },
                 [&] { return radio_->Split(); }, [&] { return rig_.GetSplit(); });
  }

  // PTT.
  if (Writes(pmTx)) {
    expectSwitch(pmTx, pmRx, [&](TRigParam p) { rig_.SetTx(p); },
                 [&] { return radio_->Transmitting(); }, [&] { return rig_.Tx(); });
  }

  // RIT and XIT, their offset, clearing it.
  const std::pair<TRigParam, TRigParam> switches[] = {{pmRitOn, pmRitOff}, {pmXitOn, pmXitOff}};
  for (const auto& [on, off] : switches) {
    if (!Writes(on)) continue;
    const bool rit = on == pmRitOn;
    expectSwitch(on, off, [&](TRigParam p) { rit ? rig_.SetRit(p) : rig_.SetXit(p); },
                 [&] { return rit ? radio_->Rit() : radio_->Xit(); },
                 [&] { return rit ? rig_.Rit() : rig_.Xit(); });
  }
  if (Reads(pmRitOffset)) {
    radio_->SetRitOffset(-120);
    Poll();
    EXPECT_EQ(rig_.RitOffset(), -120);
  }
  if (Writes(pmRitOffset)) {
    rig_.SetRitOffset(-1230);
    Poll();
    EXPECT_EQ(radio_->RitOffset(), -1230);
  }
  if (Writes(pmRit0)) {
    radio_->SetRitOffset(250);
    rig_.ClearRit();
    Poll();
    EXPECT_EQ(radio_->RitOffset(), 0);
  }

  // The one-call set-ups. Split: receive on one frequency, transmit on the other.
  const int32_t writeable = ParamsToInt(rc_.WriteableParams);
  radio_->SetRitOffset(0);
  const bool split = RunSplitSetUp(rig_, writeable, 14020000, 14025000);
  EXPECT_EQ(split, m.SplitSetUp);
  if (split) {
    Poll();
    EXPECT_TRUE(radio_->Split());
    EXPECT_EQ(radio_->Freq(radio_->VfoInUse()), 14020000);
    EXPECT_EQ(radio_->Freq(radio_->TxVfo()), 14025000);
    if (Reads(pmSplitOn)) {
      EXPECT_EQ(N(rig_.GetSplit()), N(pmSplitOn));
    }
    EXPECT_EQ(rig_.Freq(), 14020000);
  } else {
    EXPECT_TRUE(QueueIdle());  // nothing was sent
  }
  // Simplex: both on one frequency.
  EXPECT_TRUE(RunSimplexSetUp(rig_, writeable, 7074000));
  Poll();
  EXPECT_FALSE(radio_->Split());
  EXPECT_EQ(radio_->Freq(radio_->VfoInUse()), 7074000);
  EXPECT_EQ(rig_.Freq(), 7074000);

  EXPECT_EQ(radio_->Refused(), 0);
  // (The set-ups switch RIT and XIT off; a rig type without those commands logs that it has
  // none, as for any write it cannot make.)
  std::vector<std::string> errors;
  for (const std::string& line : log_)
    if (line.find("{!}") != std::string::npos &&
        line != "{!}Write command not supported for pmRitOff" &&
        line != "{!}Write command not supported for pmXitOff")
      errors.push_back(line);
  EXPECT_EQ(errors, std::vector<std::string>{});
}

std::string ModelName(const ::testing::TestParamInfo<TModel>& info) {
  std::string name;
  for (const char c : info.param.File) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(DeliveredFiles, RigFileRoad, ::testing::ValuesIn(Models()), ModelName);

// A radio of the addressed family answers only frames sent to its own address: at any other
// address nothing but the echo comes back, and the rig is not on-line.
TEST(FrameRigFile, RadioAtAnotherAddressGivesOnlyTheEcho) {
  tarvane_test::TempFolder folder;
  TTestMainLoop loop;
  TFrameRadio radio(folder.Path() / "radio", TFrameModel{0x94, true, true, true, true, true});
  TRigCommands rc = LoadRig("Generic CI-frame");  // address 5A
  std::vector<std::string> log;
  int64_t now = 1000;
  TRig rig;
  rig.SetDispatcher(loop.Dispatcher());
  rig.SetClock([&] { return now; });
  rig.SetLog([&](const std::string& line) { log.push_back(line); });
  rig.SetTimeoutMs(1000);
  rig.Port().SetDevicePath((folder.Path() / "radio").string());
  rig.SetRigCommands(&rc);
  rig.SetEnabled(true);
  ASSERT_TRUE(radio.WaitReceived(1));
  loop.RunFor(std::chrono::milliseconds(50));
  now += 1001;
  rig.TimerTick();
  loop.RunFor(std::chrono::milliseconds(20));
  EXPECT_EQ(rig.GetStatus(), tarvane::rsNotResponding);
  EXPECT_GE(radio.NotForUs(), 1);
  bool echoOnly = false, echoOff = false;
  for (const std::string& line : log) {
    echoOnly |= line == "RIG1 {!}recv timeout. Rx Buffer: \"FEFE5AE003FD\"";
    echoOff |= line.find("echo is off") != std::string::npos;
  }
  EXPECT_TRUE(echoOnly) << ::testing::PrintToString(log);
  // The echo came; no radio answered. That is no radio with its echo off.
  EXPECT_FALSE(echoOff);
}

}  // namespace
