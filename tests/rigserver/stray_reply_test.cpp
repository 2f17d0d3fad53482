// A radio may answer a command that its rig file expects no answer to: radios of the 5-byte family
// answer keying and unkeying with one byte. That byte arrives after the next command went out,
// ahead of its reply, and must never be read as part of that reply. Hundreds of fast PTT toggles,
// each followed at once by a poll, against a radio that answers them: with the rig file that
// waits for the answer and with one that does not, no value other than the radio's is ever
// stored, so no client ever hears of a wrong frequency or mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "five_byte_radio.h"
#include "main_loop.h"
#include "rig.h"
#include "temp_folder.h"

namespace tarvane {
namespace {

using radiosim::TFiveByteRadio;
using radiosim::TTestMainLoop;

std::string FiveByteRig(bool pttAnswer) {
  const std::string reply = pttAnswer ? "ReplyLength=1\n" : "";
  return "[STATUS1]\nCommand=00.00.00.00.03\nReplyLength=5\nValue1=0|4|vfBcdBU|10|0|pmFreq\n"
         "Flag1=00.00.00.00.FF|00.00.00.00.00|pmSSB_L\n"
         "Flag2=00.00.00.00.FF|00.00.00.00.01|pmSSB_U\n"
         "[pmTx]\nCommand=00.00.00.00.08\n" + reply +
         "[pmRx]\nCommand=00.00.00.00.88\n" + reply;
}

TEST(StrayReply, PttAnswersNeverShiftAPollReply) {
  for (const bool pttAnswer : {true, false}) {
    SCOPED_TRACE(pttAnswer ? "file waits for the PTT answer" : "file expects no PTT answer");
    tarvane_test::TempFolder folder;
    TTestMainLoop loop;
    TFiveByteRadio radio(folder.Path() / "radio");
    radio.SetFreq(0, 14074000);
    TRigCommands commands;
    commands.LoadFromFile(folder.Write("Ptt.ini", FiveByteRig(pttAnswer)));
    ASSERT_EQ(commands.Errors, std::vector<std::string>{});

    int64_t now = 1000;
    std::vector<std::string> log;
    std::vector<int32_t> freqs;  // the frequency stored at every change a client hears of
    int changes = 0;
    TRig rig;
    rig.SetDispatcher(loop.Dispatcher());
    rig.SetClock([&] { return now; });
    rig.SetLog([&](const std::string& line) { log.push_back(line); });
    rig.SetPollMs(100);
    rig.SetTimeoutMs(1000);
    rig.Port().SetDevicePath((folder.Path() / "radio").string());
    rig.OnParamsChange = [&](int, int32_t params) {
      ++changes;
      if (params & ParamToInt(pmFreq)) freqs.push_back(rig.Freq());
    };
    auto idle = [&] {
      std::lock_guard lock(rig.Lock());
      return rig.Queue().Empty() && rig.Queue().Phase() == qpIdle;
    };
    rig.SetRigCommands(&commands);
    rig.SetEnabled(true);
    ASSERT_TRUE(loop.RunUntil([&] { return rig.Online() && idle(); }));

    for (int i = 0; i < 300; ++i) {
      rig.SetTx(i % 2 == 0 ? pmTx : pmRx);
      now += rig.PollMs() + 1;
      rig.TimerTick();  // the poll goes out right behind the PTT command
      ASSERT_TRUE(loop.RunUntil(idle)) << i;
    }
    loop.RunFor(std::chrono::milliseconds(20));  // a last stray byte, if any, is only logged

    EXPECT_EQ(freqs, std::vector<int32_t>{14074000});
    EXPECT_EQ(changes, 1);  // the first reading only: nothing else ever changed
    EXPECT_EQ(rig.Freq(), 14074000);
    EXPECT_EQ(rig.Mode(), pmSSB_U);
    EXPECT_FALSE(radio.Transmitting());
    EXPECT_TRUE(rig.Online());
    int errors = 0, strays = 0;
    for (const std::string& line : log) {
      errors += line.find("{!}") != std::string::npos;
      strays += line.rfind("{!}RIG1 unexpected data received: ", 0) == 0;
    }
    if (pttAnswer) {
      EXPECT_EQ(errors, 0);
    } else {
      // Each answer is logged as what it is, and nothing else went wrong.
      EXPECT_GT(strays, 0);
      EXPECT_EQ(errors, strays);
    }
  }
}

}  // namespace
}  // namespace tarvane
