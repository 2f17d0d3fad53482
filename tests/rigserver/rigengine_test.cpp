// The rig engine against a simulated radio on a pseudo-terminal: start-up, polling, reply checks
// and decoding, queued writes, time-outs, a port that goes away and comes back, and a rig without
// a type. Time is a fake clock moved by the tests; waits for the radio are bounded.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "rig.h"
#include "rig_sim.h"
#include "temp_folder.h"

namespace tarvane {
namespace {

using rigtest::TSimRadio;
using rigtest::TTestMainLoop;
using Strings = std::vector<std::string>;

// Our test radio (see rig_sim.h): IF gives frequency, mode and VFO, RB the RIT offset.
constexpr const char* kTestRig = R"(; A radio of our own for the engine tests.
[INIT1]
Command=(AI0;)

[INIT2]
Command=(ID;)
ReplyLength=6
Validate=(ID...;)

[STATUS1]
Command=(IF;)
ReplyLength=16
Validate=(IF.............;)
Value1=2|11|vfText|1|0|pmFreq
Flag1=(.............1..)|pmSSB_U
Flag2=(.............2..)|pmSSB_L
Flag3=(.............3..)|pmCW_U
Flag4=(..............0.)|pmVfoAA
Flag5=(..............1.)|pmVfoAB
Flag6=(..............2.)|pmVfoA
Flag7=(..............2.)|pmVfoB
Flag8=(..............3.)|pmVfoA
Flag9=(..............4.)|pmVfoBB
Flag10=(..............5.)|pmVfoBA

[STATUS2]
Command=(RB;)
ReplyEnd=(;)
Validate=(RB.....;)
Value1=2|5|vfText|1|0|pmRitOffset

[pmFreq]
Command=(FA00000000000;)
Value=2|11|vfText|1|0

[pmFreqA]
Command=(FB00000000000;)
Value=2|11|vfText|10|0

[pmSSB_U]
Command=(MD1;)

[pmSSB_L]
Command=(MD2;)

[pmCW_U]
Command=(MD3;)

[pmVfoAA]
Command=(FR0;)

[pmVfoAB]
Command=(FR1;)

[pmVfoBB]
Command=(FR4;)

[pmVfoBA]
Command=(FR5;)

[pmPitch]
Command=(PT00;)
Value=2|2|vfText|0.1|-30

[pmRitOn]
Command=(RT1;)
ReplyLength=4
Validate=(RT1;)
)";

// Only a write command: nothing to start with, nothing to poll.
constexpr const char* kWriteOnlyRig = R"([pmFreq]
Command=(FA00000000000;)
Value=2|11|vfText|1|0
)";

// The simulated radio's fixed five-byte binary protocol (see rig_sim.h): BCD tens of hertz.
constexpr const char* kBinaryRig = R"([STATUS]
Command=00.00.00.00.03
ReplyLength=5
Value1=0|4|vfBcdBU|10|0|pmFreq
Flag1=00000000FF|0000000001|pmSSB_U
Flag2=00000000FF|0000000002|pmSSB_L

[pmFreq]
Command=00.00.00.00.01
Value=0|4|vfBcdBU|0.1|0

[pmSSB_L]
Command=02.00.00.00.07
)";

class RigEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.Path();
    LoadRig(commands_, "TestRig", kTestRig);
    sim_ = std::make_unique<TSimRadio>(dir_ / "radio");
    sim_->SetRitOffset(120);
    rig_ = std::make_unique<TRig>();
    Wire(*rig_);
  }

  void TearDown() override {
    rig_.reset();
    sim_.reset();
    loop_.RunPending();
  }

  void LoadRig(TRigCommands& commands, const std::string& name, const char* text) {
    commands.LoadFromFile(folder_.Write(name + ".ini", text));
    std::string errors;
    for (const auto& e : commands.Errors) errors += e + "\n";
    ASSERT_TRUE(commands.Errors.empty()) << errors;
  }

  void Wire(TRig& rig) {
    rig.SetRigNumber(1);
    rig.SetDispatcher(loop_.Dispatcher());
    rig.SetClock([this] { return now_; });
    rig.SetLog([this](const std::string& line) { log_.push_back(line); });
    rig.SetPollMs(500);
    rig.SetTimeoutMs(1000);
    rig.Port().SetDevicePath((dir_ / "radio").string());
    rig.OnStatusChange = [this](int n) { status_notices_.push_back(n); };
    rig.OnParamsChange = [this](int n, int32_t params) {
      ASSERT_EQ(n, 1);
      params_.push_back(params);
    };
    rig.OnRigTypeChange = [this](int) { ++type_changes_; };
  }

  bool QueueIdle() {
    std::lock_guard lock(rig_->Lock());
    return rig_->Queue().Empty() && rig_->Queue().Phase() == qpIdle;
  }
  bool Waiting() {
    std::lock_guard lock(rig_->Lock());
    return rig_->Queue().Phase() == qpWaiting;
  }
  int Queued() {
    std::lock_guard lock(rig_->Lock());
    return rig_->Queue().Count();
  }
  bool Logged(const std::string& text) const {
    for (const auto& line : log_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  // Enables the rig and lets the init and first status commands run to the end.
  void StartOnline() {
    rig_->SetRigCommands(&commands_);
    rig_->SetEnabled(true);
    ASSERT_TRUE(loop_.RunUntil([&] { return rig_->Online() && QueueIdle(); }));
  }

  // Moves the clock on and ticks.
  void TickAt(int64_t ms) {
    now_ = ms;
    rig_->TimerTick();
  }

  // Polls once and lets the status commands run to the end.
  void Poll() {
    TickAt(now_ + rig_->PollMs() + 1);
    ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle(); }));
  }

  tarvane_test::TempFolder folder_;
  std::filesystem::path dir_;
  TTestMainLoop loop_;
  TRigCommands commands_;
  std::unique_ptr<TSimRadio> sim_;
  std::unique_ptr<TRig> rig_;
  int64_t now_ = 1000;
  Strings log_;
  std::vector<int> status_notices_;
  std::vector<int32_t> params_;
  int type_changes_ = 0;
};

TEST_F(RigEngineTest, StartSendsInitThenStatusAndDecodesReplies) {
  StartOnline();
  EXPECT_EQ(sim_->Received(), (Strings{"AI0", "ID", "IF", "RB"}));
  EXPECT_EQ(rig_->GetStatus(), rsOnline);
  EXPECT_EQ(rig_->GetStatusStr(), "On-line");
  EXPECT_EQ(rig_->Freq(), 14250000);
  EXPECT_EQ(rig_->Mode(), pmSSB_U);
  EXPECT_EQ(rig_->Vfo(), pmVfoAA);
  EXPECT_EQ(rig_->RitOffset(), 120);
  EXPECT_EQ(rig_->Rit(), pmNone);
  // One notice per status reply that changed something, with exactly the changed parameters.
  EXPECT_EQ(params_, (std::vector<int32_t>{ParamsToInt({pmFreq, pmSSB_U, pmVfoAA}),
                                           ParamsToInt({pmRitOffset})}));
  // Type set, enabled, on-line.
  EXPECT_EQ(type_changes_, 1);
  EXPECT_EQ(status_notices_.size(), 3u);
  EXPECT_TRUE(Logged("RIG1 sending init command: 414930"));
  EXPECT_TRUE(Logged("RIG1 status changed: pmFreq = 14250000"));
  EXPECT_TRUE(Logged("RIG1 status changed: pmSSB_U enabled"));
  EXPECT_FALSE(Logged("{!}"));
}

TEST_F(RigEngineTest, PollsEveryPollMsAndReportsOnlyChanges) {
  StartOnline();
  const size_t sent = sim_->Received().size();
  // The first tick polls at once.
  TickAt(1000);
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle(); }));
  EXPECT_EQ(sim_->Received().size(), sent + 2);
  EXPECT_TRUE(Logged("RIG1 Adding status commands to queue"));
  EXPECT_EQ(params_.size(), 2u);  // nothing changed

  // Not yet due at exactly PollMs later.
  TickAt(1500);
  EXPECT_TRUE(QueueIdle());
  sim_->SetFreq(7074000);
  TickAt(1501);
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle(); }));
  EXPECT_EQ(sim_->Received().size(), sent + 4);
  EXPECT_EQ(rig_->Freq(), 7074000);
  ASSERT_EQ(params_.size(), 3u);
  EXPECT_EQ(params_.back(), ParamsToInt({pmFreq}));
}

TEST_F(RigEngineTest, PollDueWhileStatusQueuedAddsNoSecondSet) {
  StartOnline();
  sim_->SetMuted(true);
  TickAt(1000);
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting(); }));
  EXPECT_EQ(Queued(), 2);
  TickAt(1600);  // poll due, reply not yet timed out
  EXPECT_TRUE(Logged("RIG1 Status commands already in queue"));
  EXPECT_EQ(Queued(), 2);
  EXPECT_EQ(rig_->NextPoll(), 2100);
}

TEST_F(RigEngineTest, RepliesFailingValidationChangeNothingButShowTheRigAlive) {
  rig_->SetRigCommands(&commands_);
  // Right length, wrong bytes where the mask looks.
  sim_->OverrideNextStatus("IX000070740002" "0;");
  rig_->SetEnabled(true);
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle(); }));
  EXPECT_TRUE(Logged("{!}RIG1 reply validation failed"));
  EXPECT_TRUE(rig_->Online());
  EXPECT_EQ(rig_->Freq(), 0);
  EXPECT_EQ(rig_->Mode(), pmNone);
  EXPECT_EQ(params_, (std::vector<int32_t>{ParamsToInt({pmRitOffset})}));

  // Too long: refused as well.
  log_.clear();
  sim_->OverrideNextStatus("IF00007074000200;");
  Poll();
  EXPECT_TRUE(Logged("{!}RIG1 reply validation failed"));
  EXPECT_EQ(rig_->Freq(), 0);

  // A good reply is read again.
  Poll();
  EXPECT_EQ(rig_->Freq(), 14250000);
}

TEST_F(RigEngineTest, UnreadableValueIsSkippedAndTheFlagsStillCount) {
  StartOnline();
  sim_->OverrideNextStatus("IF00007x7400021;");
  Poll();
  EXPECT_TRUE(Logged("RIG1: {!}invalid reply"));
  EXPECT_EQ(rig_->Freq(), 14250000);
  EXPECT_EQ(rig_->Mode(), pmSSB_L);
  EXPECT_EQ(rig_->Vfo(), pmVfoAB);
  EXPECT_EQ(params_.back(), ParamsToInt({pmSSB_L, pmVfoAB}));
}

TEST_F(RigEngineTest, TypeChangedUnderAQueuedStatusCommand) {
  TRigCommands write_only;
  LoadRig(write_only, "WriteOnly", kWriteOnlyRig);
  StartOnline();
  sim_->SetMuted(true);
  TickAt(1000);
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting() && sim_->Held().size() == 1; }));
  // The owner changes the type without stopping the rig; the reply owed to the old type's
  // second status command must not be read against the new type, which has none.
  rig_->SetRigCommands(&write_only);
  sim_->SetMuted(false);
  sim_->ReleaseHeld();
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle(); }));
  EXPECT_EQ(rig_->Freq(), 14250000);
  TickAt(2000);  // nothing to poll now
  loop_.RunFor(std::chrono::milliseconds(20));
  EXPECT_TRUE(QueueIdle());
}

TEST_F(RigEngineTest, TwoMatchingFlagsOfOneGroupKeepTheLaterAndReportBoth) {
  StartOnline();
  sim_->SetVfoDigit(2);
  Poll();
  EXPECT_EQ(rig_->Vfo(), pmVfoB);
  EXPECT_EQ(params_.back(), ParamsToInt({pmVfoA, pmVfoB}));
  EXPECT_EQ(rig_->GetSplit(), pmNone);
}

TEST_F(RigEngineTest, WritesWaitBehindAPendingReply) {
  StartOnline();
  sim_->SetMuted(true);
  TickAt(1000);
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting(); }));
  rig_->SetFreq(7050000);
  rig_->SetMode(pmSSB_L);
  loop_.RunFor(std::chrono::milliseconds(50));
  EXPECT_EQ(sim_->Received().back(), "IF");
  EXPECT_EQ(Queued(), 4);  // IF in flight, RB, then the two writes

  sim_->SetMuted(false);
  sim_->ReleaseHeld();
  const size_t before = sim_->Received().size();
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle() && sim_->Received().size() == before + 3; }));
  const Strings got = sim_->Received();
  EXPECT_EQ(Strings(got.end() - 4, got.end()), (Strings{"IF", "RB", "FA00007050000", "MD2"}));
  EXPECT_TRUE(Logged("RIG1 sending pmFreq command: 464130303030373035303030303B"));

  // The next poll reads back what was written.
  Poll();
  EXPECT_EQ(rig_->Freq(), 7050000);
  EXPECT_EQ(rig_->Mode(), pmSSB_L);
}

TEST_F(RigEngineTest, WriteWithAReplyWaitsForIt) {
  StartOnline();
  rig_->SetRit(pmRitOn);
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle(); }));
  EXPECT_TRUE(sim_->RitOn());
  EXPECT_TRUE(Logged("RIG1 reply received: 5254313B"));
  EXPECT_FALSE(Logged("{!}"));
}

TEST_F(RigEngineTest, SetterRulesAndWriteFailures) {
  StartOnline();
  const size_t sent = sim_->Received().size();
  rig_->SetMode(pmVfoAA);   // not a mode
  rig_->SetVfo(pmSSB_U);    // not a VFO
  rig_->SetRit(pmXitOn);    // not RIT
  EXPECT_EQ(Queued(), 0);

  rig_->SetTx(pmTx);  // no command for it
  EXPECT_TRUE(Logged("{!}Write command not supported for pmTx"));
  EXPECT_EQ(Queued(), 0);

  // The radio does not report its pitch: the value set is kept at once.
  rig_->SetPitch(650);
  EXPECT_EQ(rig_->Pitch(), 650);
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle() && sim_->Received().size() == sent + 1; }));
  EXPECT_EQ(sim_->Received().back(), "PT35");
}

// A value the command cannot carry is logged and nothing is queued: the template's zeros, or what
// is left of a value cut to fit, would tune the radio somewhere the client never asked for.
TEST_F(RigEngineTest, ValueThatCannotBeEncodedIsNotSent) {
  StartOnline();
  const size_t sent = sim_->Received().size();
  log_.clear();
  rig_->SetFreqA(300000000);  // 3e9 after scaling: beyond 32 bits
  EXPECT_EQ(log_, (Strings{"Generating Write command for pmFreqA",
                           "{!}Generating command: Range check error"}));
  EXPECT_EQ(Queued(), 0);

  log_.clear();
  rig_->SetPitch(650);
  rig_->SetPitch(2000);  // 170 steps: three digits for a two-digit field
  EXPECT_EQ(Strings(log_.begin() + 1, log_.end()),
            (Strings{"Generating Write command for pmPitch",
                     "{!}Generating command: value 170 does not fit 2 bytes of vfText"}));
  EXPECT_EQ(rig_->Pitch(), 650);  // the refused value never reached the radio
  EXPECT_EQ(Queued(), 1);
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle() && sim_->Received().size() == sent + 1; }));
  loop_.RunFor(std::chrono::milliseconds(30));
  const Strings got = sim_->Received();
  ASSERT_EQ(got.size(), sent + 1);
  EXPECT_EQ(got.back(), "PT35");
}

// Binary frames end to end: BCD both ways, bytes that are XON and XOFF inside the frames, a value
// too large for the field refused, and a reply with a bad BCD digit.
TEST_F(RigEngineTest, BinaryFramesEndToEnd) {
  TRigCommands binary;
  LoadRig(binary, "Binary", kBinaryRig);
  sim_->SetBinaryFrames(true);
  sim_->SetFreq(14111130);  // 01 41 11 13: XON and XOFF in the reply
  rig_->SetRigCommands(&binary);
  rig_->SetEnabled(true);
  ASSERT_TRUE(loop_.RunUntil([&] { return rig_->Online() && QueueIdle(); }));
  EXPECT_TRUE(Logged("RIG1 reply received: 0141111301"));
  EXPECT_EQ(rig_->Freq(), 14111130);
  EXPECT_EQ(rig_->Mode(), pmSSB_U);

  rig_->SetFreq(7013110);
  rig_->SetMode(pmSSB_L);
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle() && sim_->Received().size() == 3; }));
  EXPECT_EQ(BytesToHex(StrToBytes(sim_->Received()[1])), "0070131101");
  Poll();
  EXPECT_EQ(rig_->Freq(), 7013110);
  EXPECT_EQ(rig_->Mode(), pmSSB_L);

  // Nine digits for an eight-digit field: refused, not cut to 00 00 00 00.
  log_.clear();
  rig_->SetFreq(1000000000);
  // (1e9 times the single-precision 0.1 is 100000001.49.)
  EXPECT_TRUE(Logged("{!}Generating command: value 100000001 does not fit 4 bytes of vfBcdBU"));
  EXPECT_EQ(Queued(), 0);

  // A bad digit loses the frequency of that reply only; its flags still count.
  sim_->InjectFault({rigtest::TSimFault::kGarbage, std::string("\x1A\x00\x00\x00\x01", 5)});
  Poll();
  EXPECT_TRUE(Logged("RIG1: {!}invalid BCD value"));
  EXPECT_EQ(rig_->Freq(), 7013110);
  EXPECT_EQ(rig_->Mode(), pmSSB_U);
  EXPECT_EQ(params_.back(), ParamsToInt({pmSSB_U}));
  EXPECT_EQ(sim_->Freq(), 7013110);
}

// Without a split command, split on and off go through the VFO state; with one, it is written.
TEST_F(RigEngineTest, SplitThroughTheVfoTable) {
  struct Row {
    int vfo_digit;        // what the radio reports (see the test rig's flags)
    TRigParam vfo;        // as the rig stores it
    TRigParam get_split;  // GetSplit from it
    TRigParam set;        // SetSplit's argument
    const char* sent;     // the command that goes out, or nullptr for none
  };
  const Row rows[] = {
      {0, pmVfoAA, pmSplitOff, pmSplitOn, "FR1"},  {4, pmVfoBB, pmSplitOff, pmSplitOn, "FR5"},
      {1, pmVfoAB, pmSplitOn, pmSplitOff, "FR0"},  {5, pmVfoBA, pmSplitOn, pmSplitOff, "FR4"},
      {0, pmVfoAA, pmSplitOff, pmSplitOff, nullptr}, {1, pmVfoAB, pmSplitOn, pmSplitOn, nullptr},
      {3, pmVfoA, pmNone, pmSplitOn, nullptr},     {3, pmVfoA, pmNone, pmSplitOff, nullptr},
      {2, pmVfoB, pmNone, pmSplitOn, nullptr},
  };
  StartOnline();
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "VFO " << RigParamName(row.vfo) << ", "
                                    << RigParamName(row.set));
    sim_->SetVfoDigit(row.vfo_digit);
    Poll();
    ASSERT_EQ(rig_->Vfo(), row.vfo);
    EXPECT_EQ(rig_->GetSplit(), row.get_split);
    const size_t sent = sim_->Received().size();
    rig_->SetSplit(row.set);
    rig_->SetSplit(pmRitOn);  // not a split parameter: ignored
    if (row.sent == nullptr) {
      EXPECT_EQ(Queued(), 0);
      continue;
    }
    ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle() && sim_->Received().size() == sent + 1; }));
    EXPECT_EQ(sim_->Received().back(), row.sent);
  }

  // A rig type with a split command of its own writes it, whatever the VFO state.
  TRigCommands with_split;
  LoadRig(with_split, "WithSplit", (std::string(kTestRig) + "\n[pmSplitOn]\nCommand=(FT1;)\n").c_str());
  rig_->SetRigCommands(&with_split);
  sim_->SetVfoDigit(3);
  Poll();
  const size_t sent = sim_->Received().size();
  rig_->SetSplit(pmSplitOn);
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle() && sim_->Received().size() == sent + 1; }));
  EXPECT_EQ(sim_->Received().back(), "FT1");
  rig_->SetSplit(pmSplitOff);  // no command of its own, and VFO A alone: nothing
  EXPECT_EQ(Queued(), 0);
}

TEST_F(RigEngineTest, CustomRepliesCarryTheirOwnData) {
  struct Got {
    int rig;
    TCustomSender sender;
    std::string command, reply;
    bool operator==(const Got&) const = default;
  };
  std::vector<Got> got;
  rig_->SetRigNumber(2);
  rig_->OnCustomReply = [&](int n, TCustomSender sender, const TByteArray& command,
                            const TByteArray& reply) {
    got.push_back({n, sender, BytesToStr(command), BytesToStr(reply)});
  };
  rig_->ProcessCustomReply(7, StrToBytes("ID;"), StrToBytes("ID042;"));
  rig_->ProcessCustomReply(8, StrToBytes("RB;"), StrToBytes("RB00120;"));
  EXPECT_TRUE(got.empty());  // posted, not called
  loop_.RunPending();
  EXPECT_EQ(got, (std::vector<Got>{{2, 7, "ID;", "ID042;"}, {2, 8, "RB;", "RB00120;"}}));
}

TEST_F(RigEngineTest, CustomCommandReplyGoesBackToItsSender) {
  StartOnline();
  std::vector<std::pair<TCustomSender, std::string>> replies;
  rig_->OnCustomReply = [&](int n, TCustomSender sender, const TByteArray& command,
                            const TByteArray& reply) {
    EXPECT_EQ(n, 1);
    EXPECT_EQ(BytesToStr(command), "ID;");
    replies.emplace_back(sender, BytesToStr(reply));
  };
  rig_->AddCustomCommand(42, StrToBytes("ID;"), StrToBytes(";"), 0);
  rig_->AddCustomCommand(43, {}, {}, 0);  // empty: nothing
  // A length shorter than the answer, which comes in one piece: the client still gets all of it
  // (only a rig file's reply is cut to its length).
  rig_->AddCustomCommand(44, StrToBytes("ID;"), {}, 3);
  ASSERT_TRUE(loop_.RunUntil([&] { return replies.size() == 2 && QueueIdle(); }));
  EXPECT_EQ(replies,
            (std::vector<std::pair<TCustomSender, std::string>>{{42, "ID042;"}, {44, "ID042;"}}));
}

TEST_F(RigEngineTest, CustomCommandTooLongToSendWithinTheTimeoutIsRefused) {
  // 9600 baud, 8 data bits, no parity, one stop bit: 960 characters a second; time-out 1 s.
  rig_->Port().SetBaudRate(9600);
  rig_->SetTimeoutMs(1000);
  const int before = Queued();
  // It could never leave before its send time-out and would be sent again for ever, with every
  // later command stuck behind it.
  rig_->AddCustomCommand(5, TByteArray(961, 'x'), StrToBytes(";"), 0);
  EXPECT_EQ(Queued(), before);
  EXPECT_TRUE(Logged("RIG1 {!}custom command of 961 bytes cannot be sent within the time-out"));
  rig_->AddCustomCommand(5, TByteArray(960, 'x'), StrToBytes(";"), 0);
  EXPECT_EQ(Queued(), before + 1);
}

TEST_F(RigEngineTest, ReceiveTimeoutDropsTheCommandAndMarksTheRigOffline) {
  StartOnline();
  const size_t notices = status_notices_.size();
  sim_->SetMuted(true);
  TickAt(1000);
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting(); }));
  EXPECT_EQ(rig_->Deadline(), 2000);
  TickAt(2000);  // not yet past
  EXPECT_TRUE(rig_->Online());
  TickAt(2001);
  EXPECT_FALSE(rig_->Online());
  EXPECT_EQ(rig_->GetStatus(), rsNotResponding);
  EXPECT_EQ(rig_->GetStatusStr(), "Rig is not responding");
  EXPECT_TRUE(Logged("RIG1 {!}recv timeout. Rx Buffer: \"\""));
  // IF was dropped; RB went out next.
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting() && sim_->Held().size() == 2; }));
  EXPECT_EQ(Queued(), 1);
  EXPECT_EQ(sim_->Received().back(), "RB");
  EXPECT_EQ(status_notices_.size(), notices + 1);
  // A second time-out in a row changes no status again.
  TickAt(3002);
  EXPECT_TRUE(Logged("RIG1 {!}recv timeout."));
  EXPECT_TRUE(QueueIdle());
  loop_.RunPending();
  EXPECT_EQ(status_notices_.size(), notices + 1);
  // The next reply brings the rig back, with one more notice.
  sim_->SetMuted(false);
  TickAt(3600);
  ASSERT_TRUE(loop_.RunUntil([&] { return rig_->Online() && QueueIdle(); }));
  EXPECT_EQ(status_notices_.size(), notices + 2);
}

TEST_F(RigEngineTest, LateReplyWithNothingInFlightIsDropped) {
  StartOnline();
  sim_->SetMuted(true);
  sim_->SetFreq(3500000);
  TickAt(1000);
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting(); }));
  TickAt(2001);  // IF times out, RB goes out
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting() && sim_->Held().size() == 2; }));
  TickAt(3002);  // RB times out
  ASSERT_TRUE(QueueIdle());
  ASSERT_EQ(sim_->Held().size(), 2u);

  sim_->ReleaseHeld();
  ASSERT_TRUE(loop_.RunUntil([&] { return Logged("{!}RIG1 unexpected data received: 4946"); }));
  loop_.RunFor(std::chrono::milliseconds(50));
  EXPECT_EQ(rig_->Freq(), 14250000);
  EXPECT_FALSE(rig_->Online());
  EXPECT_TRUE(QueueIdle());
}

TEST_F(RigEngineTest, LateReplyMeetingTheNextCommandFailsItsValidation) {
  StartOnline();
  sim_->SetMuted(true);
  sim_->SetFreq(3500000);
  sim_->SetRitOffset(999);
  TickAt(1000);
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting(); }));
  TickAt(2001);  // IF times out, RB goes out and waits
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting() && sim_->Held().size() == 2; }));
  sim_->ReleaseFirstHeld();  // the IF reply, late
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle(); }));
  EXPECT_TRUE(Logged("{!}RIG1 reply validation failed"));
  EXPECT_EQ(rig_->Freq(), 14250000);
  EXPECT_EQ(rig_->RitOffset(), 120);
}

TEST_F(RigEngineTest, SendTimeoutSendsTheHeadAgain) {
  rig_->SetRigCommands(&commands_);
  rig_->SetEnabled(true);  // AI0 goes to the port; its "sent" hand-over is left waiting
  ASSERT_TRUE(sim_->WaitReceived(1));
  EXPECT_EQ(rig_->Queue().Phase(), qpSending);
  TickAt(now_ + rig_->TimeoutMs() + 1);
  EXPECT_TRUE(Logged("RIG1 {!}send timeout, 0 bytes still in buffer"));
  ASSERT_TRUE(loop_.RunUntil([&] { return rig_->Online() && QueueIdle(); }));
  EXPECT_EQ(sim_->Received(), (Strings{"AI0", "AI0", "ID", "IF", "RB"}));
}

TEST_F(RigEngineTest, PortUnpluggedAndPluggedInAgain) {
  StartOnline();
  const size_t notices = status_notices_.size();
  sim_->Unplug();
  ASSERT_TRUE(loop_.RunUntil([&] { return rig_->GetStatus() == rsPortBusy; }));
  EXPECT_EQ(rig_->GetStatusStr(), "Port is not available");
  EXPECT_FALSE(rig_->Online());
  EXPECT_EQ(status_notices_.size(), notices + 1);

  // Gone: the timer keeps trying.
  TickAt(2000);
  TickAt(2100);
  EXPECT_EQ(rig_->GetStatus(), rsPortBusy);

  sim_->SetFreq(10100000);
  sim_->Plug();
  TickAt(2200);
  EXPECT_EQ(rig_->GetStatus(), rsNotResponding);
  ASSERT_TRUE(loop_.RunUntil([&] { return rig_->Online() && QueueIdle(); }));
  EXPECT_EQ(rig_->GetStatus(), rsOnline);
  EXPECT_EQ(rig_->Freq(), 10100000);
  EXPECT_EQ(status_notices_.size(), notices + 3);  // gone, port back, on-line
}

// A reply that arrives in pieces is read once it is whole, by count and by terminator.
TEST_F(RigEngineTest, SplitRepliesAreReassembled) {
  StartOnline();
  sim_->SetFreq(21074000);
  sim_->SetRitOffset(-50);
  sim_->InjectFault({rigtest::TSimFault::kSplit, {}, 5, std::chrono::milliseconds(15)});  // IF
  sim_->InjectFault({rigtest::TSimFault::kSplit, {}, 3, std::chrono::milliseconds(15)});  // RB
  log_.clear();
  Poll();
  EXPECT_EQ(sim_->FaultsLeft(), 0u);
  EXPECT_EQ(rig_->Freq(), 21074000);
  EXPECT_EQ(rig_->RitOffset(), -50);
  EXPECT_TRUE(Logged("RIG1 reply received: 4946303030323130373430303031303B"));
  EXPECT_TRUE(Logged("RIG1 reply received: 52422D303035303B"));
  EXPECT_FALSE(Logged("{!}"));
}

// Garbage of the right length is a sign of life that fails validation; garbage while nothing is
// awaited is dropped.
TEST_F(RigEngineTest, GarbageRepliesChangeNothing) {
  StartOnline();
  const size_t notices = status_notices_.size();
  const size_t changes = params_.size();
  sim_->SetFreq(7000000);
  sim_->InjectFault({rigtest::TSimFault::kGarbage, std::string("\x00\xFF\x11\x13\r\nIF;;;;;;;;;;", 16)});
  log_.clear();
  Poll();
  EXPECT_TRUE(Logged("RIG1 reply received: 00FF11130D0A49463B3B3B3B3B3B3B3B"));
  EXPECT_TRUE(Logged("{!}RIG1 reply validation failed"));
  EXPECT_EQ(rig_->Freq(), 14250000);
  EXPECT_TRUE(rig_->Online());
  EXPECT_EQ(status_notices_.size(), notices);
  EXPECT_EQ(params_.size(), changes);

  // The port still frames by the last command's terminator.
  sim_->Write("\x7F\x80junk;");
  ASSERT_TRUE(loop_.RunUntil([&] { return Logged("{!}RIG1 unexpected data received: 7F806A756E6B3B"); }));
  EXPECT_EQ(rig_->Freq(), 14250000);
}

// A reply too short never completes and times out; one too long fails validation.
TEST_F(RigEngineTest, RepliesOfTheWrongLength) {
  StartOnline();
  const size_t notices = status_notices_.size();
  sim_->SetFreq(7000000);
  sim_->InjectFault({rigtest::TSimFault::kShort, {}, 1, {}});
  TickAt(1000);
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting() && sim_->RepliesSent() > 0 && [&] {
    std::lock_guard lock(rig_->Lock());
    return rig_->Port().RxBuffer().size() == 15;
  }(); }));
  TickAt(2001);
  EXPECT_TRUE(Logged("RIG1 {!}recv timeout. Rx Buffer: \"494630303030373030303030303130\""));
  EXPECT_FALSE(rig_->Online());
  EXPECT_EQ(rig_->Freq(), 14250000);
  ASSERT_TRUE(loop_.RunUntil([&] { return rig_->Online() && QueueIdle(); }));  // RB answers
  EXPECT_EQ(status_notices_.size(), notices + 2);

  sim_->InjectFault({rigtest::TSimFault::kLong, "00", 0, {}});
  log_.clear();
  Poll();
  EXPECT_TRUE(Logged("{!}RIG1 reply validation failed"));
  EXPECT_EQ(rig_->Freq(), 14250000);
  Poll();  // and the next good reply is read
  EXPECT_EQ(rig_->Freq(), 7000000);
}

// Silence from the radio: each command is dropped after its time-out, and the rig is reported
// not responding once.
TEST_F(RigEngineTest, SilenceTimesOutEachCommandOnce) {
  StartOnline();
  const size_t notices = status_notices_.size();
  sim_->InjectFault(rigtest::TSimFault::kSilence);
  sim_->InjectFault(rigtest::TSimFault::kSilence);
  TickAt(1000);
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting(); }));
  TickAt(2001);
  ASSERT_TRUE(loop_.RunUntil([&] { return Waiting() && sim_->Received().back() == "RB"; }));
  TickAt(3002);
  loop_.RunPending();
  EXPECT_TRUE(QueueIdle());
  EXPECT_EQ(rig_->GetStatus(), rsNotResponding);
  EXPECT_EQ(status_notices_.size(), notices + 1);
  int timeouts = 0;
  for (const auto& line : log_) timeouts += line.rfind("RIG1 {!}recv timeout.", 0) == 0;
  EXPECT_EQ(timeouts, 2);
}

// A port that another program holds is "not available"; a later tick opens it once it is free.
TEST_F(RigEngineTest, PortHeldByAnotherOpenerIsOpenedOnALaterTick) {
  TAlCommPort other;
  other.SetDevicePath((dir_ / "radio").string());
  ASSERT_TRUE(other.Open());
  rig_->SetRigCommands(&commands_);
  rig_->SetEnabled(true);
  EXPECT_EQ(rig_->GetStatus(), rsPortBusy);
  TickAt(1100);
  EXPECT_EQ(rig_->GetStatus(), rsPortBusy);
  EXPECT_TRUE(sim_->Received().empty());
  other.Close();
  TickAt(1200);
  EXPECT_EQ(rig_->GetStatus(), rsNotResponding);
  ASSERT_TRUE(loop_.RunUntil([&] { return rig_->Online() && QueueIdle(); }));
  EXPECT_EQ(sim_->Received(), (Strings{"AI0", "ID", "IF", "RB"}));
}

TEST_F(RigEngineTest, PortThatIsNotThereIsTriedByTheTimer) {
  sim_->Unplug();
  rig_->SetRigCommands(&commands_);
  rig_->SetEnabled(true);
  EXPECT_TRUE(rig_->Enabled());
  EXPECT_EQ(rig_->GetStatus(), rsPortBusy);
  TickAt(1100);
  EXPECT_EQ(rig_->GetStatus(), rsPortBusy);
  sim_->Plug();
  TickAt(1200);
  ASSERT_TRUE(loop_.RunUntil([&] { return rig_->Online() && QueueIdle(); }));
  EXPECT_EQ(sim_->Received(), (Strings{"AI0", "ID", "IF", "RB"}));
}

TEST_F(RigEngineTest, RigTypeNoneDoesNothing) {
  rig_->SetRigCommands(nullptr);
  EXPECT_EQ(type_changes_, 1);
  loop_.RunPending();
  EXPECT_EQ(status_notices_.size(), 1u);
  rig_->SetEnabled(true);
  EXPECT_FALSE(rig_->Enabled());
  EXPECT_EQ(rig_->GetStatus(), rsNotConfigured);
  EXPECT_EQ(rig_->GetStatusStr(), "Rig is not configured");
  rig_->TimerTick();
  EXPECT_FALSE(rig_->Port().Active());
  rig_->SetFreq(7000000);
  rig_->AddCustomCommand(1, StrToBytes("ID;"), {}, 6);
  EXPECT_TRUE(Logged("Generating Write command for pmFreq"));
  loop_.RunFor(std::chrono::milliseconds(50));
  EXPECT_EQ(Queued(), 1);  // the custom command waits, but nothing ever sends it
  EXPECT_TRUE(sim_->Received().empty());
  EXPECT_EQ(status_notices_.size(), 1u);
}

TEST_F(RigEngineTest, DisablingStopsAndReportsDisabled) {
  StartOnline();
  rig_->SetEnabled(false);
  EXPECT_EQ(rig_->GetStatus(), rsDisabled);
  EXPECT_EQ(rig_->GetStatusStr(), "Rig is disabled");
  EXPECT_FALSE(rig_->Online());
  EXPECT_FALSE(rig_->Port().Active());
  EXPECT_EQ(Queued(), 0);
  const size_t sent = sim_->Received().size();
  TickAt(5000);
  loop_.RunFor(std::chrono::milliseconds(50));
  EXPECT_EQ(sim_->Received().size(), sent);
}

TEST_F(RigEngineTest, TypeWithoutInitOrStatusNeverGoesOnlineButWrites) {
  TRigCommands write_only;
  LoadRig(write_only, "WriteOnly", kWriteOnlyRig);
  rig_->SetRigCommands(&write_only);
  rig_->SetEnabled(true);
  EXPECT_EQ(rig_->GetStatus(), rsNotResponding);
  TickAt(5000);
  rig_->SetFreq(3573000);
  ASSERT_TRUE(loop_.RunUntil([&] { return QueueIdle() && !sim_->Received().empty(); }));
  EXPECT_EQ(sim_->Received(), (Strings{"FA00003573000"}));
  EXPECT_EQ(rig_->GetStatus(), rsNotResponding);
  rig_->SetEnabled(false);
}

TEST_F(RigEngineTest, DestroyedRigIgnoresTasksStillQueued) {
  rig_->SetRigCommands(&commands_);
  rig_->SetEnabled(true);
  rig_->SetFreq(7000000);
  rig_.reset();  // notices and a send request are still queued
  loop_.RunFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(status_notices_.empty());
}

}  // namespace
}  // namespace tarvane
