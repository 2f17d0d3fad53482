// The delivered files against what their radios do beyond the plain road: answers that arrive
// whether or not a file waits for them (the 5-byte family's clarifier switch), line noise read as
// a reply of the right length (a frequency outside the file's receive range), and a radio of the
// addressed family whose echo is switched off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "five_byte_radio.h"
#include "frame_radio.h"
#include "main_loop.h"
#include "rig.h"
#include "rig_file_probe.h"
#include "temp_folder.h"

using namespace rigdata_test;
using namespace radiosim;

namespace {

std::string N(TRigParam p) { return RigParamName(p); }

// A rig engine on the radio behind `link`, with a clock of the test's own and its log kept.
struct TDrivenRig {
  TTestMainLoop loop;
  TRigCommands rc;
  int64_t now = 1000;
  std::vector<std::string> log;
  TRig rig;  // last: it logs while it stops

  TDrivenRig(const std::string& file, const std::filesystem::path& link) {
    rc = LoadRig(file);
    rig.SetRigNumber(1);
    rig.SetDispatcher(loop.Dispatcher());
    rig.SetClock([this] { return now; });
    rig.SetLog([this](const std::string& line) { log.push_back(line); });
    rig.SetPollMs(500);
    rig.SetTimeoutMs(1000);
    rig.Port().SetDevicePath(link.string());
  }
  ~TDrivenRig() { loop.RunPending(); }

  bool Idle() {
    std::lock_guard lock(rig.Lock());
    return rig.Queue().Empty() && rig.Queue().Phase() == qpIdle;
  }
  bool Start() {
    rig.SetRigCommands(&rc);
    rig.SetEnabled(true);
    return loop.RunUntil([&] { return rig.Online() && Idle(); });
  }
  bool Poll() {
    now += rig.PollMs() + 1;
    rig.TimerTick();
    return loop.RunUntil([&] { return Idle(); });
  }
  std::vector<std::string> Lines(const std::string& part) const {
    std::vector<std::string> out;
    for (const std::string& line : log)
      if (line.find(part) != std::string::npos) out.push_back(line);
    return out;
  }
  std::string LastLine(const std::string& part) const {
    const std::vector<std::string> lines = Lines(part);
    return lines.empty() ? std::string() : lines.back();
  }
};

const char* const kFiveByteFiles[] = {"FT-817", "FT-818", "FT-857", "FT-897", "Generic 5-byte"};

// The clarifier switch answers one byte; the file waits for it, so a client's command sent right
// behind gets the radio's reply to it and nothing before.
TEST(FiveByteFiles, ClarifierAnswerNeverReachesTheNextCommand) {
  for (const char* file : kFiveByteFiles) {
    SCOPED_TRACE(file);
    tarvane_test::TempFolder folder;
    TFiveByteRadio radio(folder.Path() / "radio");
    radio.SetFreq(0, 14074000);
    TDrivenRig d(file, folder.Path() / "radio");
    ASSERT_EQ(d.rc.Errors, std::vector<std::string>{});
    std::vector<TByteArray> replies;
    d.rig.OnCustomReply = [&](int, TCustomSender, const TByteArray&, const TByteArray& reply) {
      replies.push_back(reply);
    };
    ASSERT_TRUE(d.Start());

    const TByteArray read = Bytes({0, 0, 0, 0, 0x03});
    for (int i = 0; i < 10; ++i) {
      d.rig.SetRit(i % 2 == 0 ? pmRitOn : pmRitOff);
      ASSERT_TRUE(d.rig.AddCustomCommand(7, read, {}, 5));
      ASSERT_TRUE(d.loop.RunUntil([&] { return replies.size() == size_t(i) + 1 && d.Idle(); }));
      EXPECT_EQ(radio.Clarifier(), i % 2 == 0);
    }
    for (const TByteArray& reply : replies) {
      EXPECT_EQ(reply, Bytes({0x01, 0x40, 0x74, 0x00, 0x01}));
    }
    EXPECT_EQ(d.Lines("{!}"), std::vector<std::string>{});
  }
}

// Noise of the reply's length: a frequency outside the receive range, or one that is no number,
// discards the whole reply (its mode byte is noise as well); the range's own ends are kept.
TEST(FiveByteFiles, FrequencyOutsideTheReceiveRangeDiscardsTheReply) {
  struct TCase {
    long long hz;
    bool kept;
  };
  const TCase cases[] = {{972000000, false}, {140000000, true}, {470000000, true},
                         {470000010, false}, {100000, true},    {99990, false},
                         {0, false},         {7074000, true}};
  for (const char* file : kFiveByteFiles) {
    SCOPED_TRACE(file);
    tarvane_test::TempFolder folder;
    TFiveByteRadio radio(folder.Path() / "radio");
    radio.SetFreq(0, 14074000);
    TDrivenRig d(file, folder.Path() / "radio");
    std::vector<int32_t> published;
    d.rig.OnParamsChange = [&](int, int32_t params) {
      if (params & ParamToInt(pmFreq)) published.push_back(d.rig.Freq());
    };
    ASSERT_TRUE(d.Start());
    std::vector<int32_t> want = {14074000};
    int32_t last = 14074000;
    TRigParam lastMode = pmSSB_U;
    bool am = false;
    for (const TCase& c : cases) {
      SCOPED_TRACE(c.hz);
      // Each reply brings another mode too, which must go or stay with its frequency.
      am = !am;
      radio.SetMode(am ? 0x04 : 0x01);
      radio.SetFreq(0, c.hz);
      ASSERT_TRUE(d.Poll());
      if (c.kept) {
        last = static_cast<int32_t>(c.hz);
        lastMode = am ? pmAM : pmSSB_U;
        want.push_back(last);
      } else {
        EXPECT_EQ(d.LastLine("reply discarded"),
                  "RIG1 {!}reply discarded: pmFreq = " + std::to_string(c.hz) +
                      " is outside 100000..470000000");
      }
      EXPECT_EQ(d.rig.Freq(), last);
      EXPECT_EQ(N(d.rig.Mode()), N(lastMode));
    }
    // Bytes that are no BCD number at all.
    radio.ReplaceNextRead(std::string("\x1A\x2B\x3C\x4D\x04", 5));
    ASSERT_TRUE(d.Poll());
    EXPECT_EQ(d.LastLine("reply discarded"), "RIG1 {!}reply discarded: pmFreq cannot be read");
    EXPECT_EQ(d.rig.Freq(), last);
    EXPECT_EQ(published, want);
    EXPECT_TRUE(d.rig.Online());
  }
}

struct TFrameFile {
  const char* File;
  uint8_t Address;
};
const TFrameFile kFrameFiles[] = {{"IC-7300", 0x94}, {"IC-7610", 0x98}, {"IC-705", 0xA4},
                                  {"IC-9700", 0xA2}, {"IC-7100", 0x88}, {"IC-718", 0x5E},
                                  {"Generic CI-frame", 0x5A}};

// With its echo off the radio answers every command, but each reply comes without the command in
// front and never reaches the length the file counts: the log says once, in one line, what to
// set, among the time-outs.
TEST(FrameFiles, RadioWithoutEchoIsNamedInTheLog) {
  for (const TFrameFile& f : kFrameFiles) {
    SCOPED_TRACE(f.File);
    tarvane_test::TempFolder folder;
    TFrameModel model;
    model.Address = f.Address;
    model.Echo = false;
    TFrameRadio radio(folder.Path() / "radio", model);
    TDrivenRig d(f.File, folder.Path() / "radio");
    ASSERT_EQ(d.rc.Errors, std::vector<std::string>{});
    d.rig.SetRigCommands(&d.rc);
    d.rig.SetEnabled(true);
    // Every file has at least three status commands, each given up in turn.
    for (size_t sent = 1; sent <= 3; ++sent) {
      ASSERT_TRUE(radio.WaitReceived(sent));
      d.loop.RunFor(std::chrono::milliseconds(30));  // the answer is in, short of the length
      d.now += 1001;
      d.rig.TimerTick();
    }
    d.loop.RunFor(std::chrono::milliseconds(10));
    EXPECT_EQ(d.rig.GetStatus(), tarvane::rsNotResponding);
    EXPECT_EQ(d.Lines("recv timeout").size(), 3u);
    EXPECT_EQ(d.Lines("echo"),
              std::vector<std::string>{"RIG1 {!}the radio's echo is off: it answers without "
                                       "sending the command back first; set the radio's CI-V "
                                       "USB Echo Back to ON"});
  }
}

}  // namespace
