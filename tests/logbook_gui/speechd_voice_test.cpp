// The speech-dispatcher voice against a real speech-dispatcher started by the test (a private
// daemon whose only output module writes the text of each message and its rate into a file), so
// what the service would say can be read back: order, spelling, skip, voices, and the two
// priorities beside another client speaking as a screen reader does. Skipped, with the reason,
// only when the daemon cannot be started on this machine.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>

#include "private_speechd.h"
#include "speech_markup.h"
#include "speechd_voice.h"

using namespace quillmere;
using quillmere_test::TPrivateSpeechDispatcher;

namespace {

class SpeechDispatcherVoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!daemon_.Ok()) GTEST_SKIP() << "speech-dispatcher could not be started: " << daemon_.Reason().toStdString();
    daemon_.SetAsDefault();
  }
  void TearDown() override { voice_.Disconnect(); }
  bool WaitForLines(qsizetype count, int ms = 10000) { return daemon_.WaitForTexts(count, ms); }
  bool Say(const char* text, SpeechPriority priority = SpeechPriority::Message) { return voice_.Speak(text, priority); }

  TPrivateSpeechDispatcher daemon_;
  SpeechDispatcherVoice voice_{"QuillmereTest"};
};

}  // namespace

TEST(SpeechMarkup, SpellTagsSplitAndDisappear) {
  using Parts = std::vector<TSpeechPart>;
  const std::pair<const char*, Parts> cases[] = {
      {"contact logged. ", {{"contact logged. ", false}}},
      {"<SPELL> FN31 </SPELL>", {{"FN31", true}}},
      {"<SPELL>fn31</SPELL>", {{"fn31", true}}},
      {"<SPELL> 59 </SPELL> is the report. ", {{"59", true}, {"is the report.", false}}},
      {"<SPELL> W1AW", {{"W1AW", true}}},
      {"<SPELL></SPELL>", {}},
      {"<SPELL>A</SPELL> and <SPELL>B</SPELL>", {{"A", true}, {"and", false}, {"B", true}}},
      {" <SPELL>X</SPELL>", {{" <SPELL>X</SPELL>", false}}},  // markup only at the very start
      {"", {}},
  };
  for (const auto& [text, parts] : cases) EXPECT_EQ(SplitSpeechMarkup(text), parts) << text;
}

TEST(SpeechMarkup, ServiceRanges) {
  EXPECT_EQ(SpeechDispatcherVoice::ServiceRate(-10), -100);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceRate(3), 30);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceRate(11), 100);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceVolume(0), -100);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceVolume(50), 0);
  EXPECT_EQ(SpeechDispatcherVoice::ServiceVolume(100), 100);
}

TEST_F(SpeechDispatcherVoiceTest, PhrasesQueueInOrderAndSpellingMarkupIsSpelled) {
  ASSERT_TRUE(Say("one. ")) << voice_.LastError();
  ASSERT_TRUE(voice_.SetRate(5));
  ASSERT_TRUE(Say("two. "));
  ASSERT_TRUE(Say("<SPELL> W1AW </SPELL>"));
  ASSERT_TRUE(Say("three. "));
  ASSERT_TRUE(WaitForLines(4)) << daemon_.Spoken().join('\n').toStdString();
  // The rate travels with the phrases asked for after it; the tags are not spoken.
  EXPECT_EQ(daemon_.Spoken(), (QStringList{"one. |0.00", "two. |50.00", "W1AW|50.00", "three. |50.00"}));
  EXPECT_EQ(daemon_.SpellingFor("W1AW"), "on");
  EXPECT_EQ(daemon_.SpellingFor("three."), "off");
}

TEST_F(SpeechDispatcherVoiceTest, SkipEmptiesTheQueue) {
  for (const char* text : {"first. ", "second. ", "third. ", "fourth. "}) ASSERT_TRUE(Say(text));
  ASSERT_TRUE(WaitForLines(1));
  ASSERT_TRUE(voice_.Skip());
  QTest::qWait(1500);
  const QStringList spoken = daemon_.Spoken();
  EXPECT_LE(spoken.size(), 2) << spoken.join('\n').toStdString();
  EXPECT_FALSE(spoken.contains("fourth. |0.00"));
  ASSERT_TRUE(Say("after. "));
  ASSERT_TRUE(WaitForLines(spoken.size() + 1));
  EXPECT_EQ(daemon_.Spoken().last(), "after. |0.00");
}

TEST_F(SpeechDispatcherVoiceTest, VoicesAndPause) {
  std::vector<TVoiceInfo> voices;
  ASSERT_TRUE(voice_.GetVoices(voices)) << voice_.LastError();
  const auto found = std::find_if(voices.begin(), voices.end(), [](const TVoiceInfo& v) {
    return v.Name == "recorder-voice" && v.Module == "recorder";
  });
  ASSERT_NE(found, voices.end());
  EXPECT_TRUE(voice_.SetVoice(*found));
  EXPECT_TRUE(voice_.Pause());
  EXPECT_TRUE(voice_.Paused());
  EXPECT_TRUE(voice_.Resume());
  EXPECT_FALSE(voice_.Paused());
  // The chosen voice speaks; a new connection takes it up again.
  voice_.Disconnect();
  ASSERT_TRUE(Say("again. "));
  ASSERT_TRUE(WaitForLines(1));
  EXPECT_TRUE(daemon_.Log().contains("synthesis_voice=recorder-voice"));
}

TEST_F(SpeechDispatcherVoiceTest, EchoesGiveWayAndMessagesAreHeardWholeBesideAScreenReader) {
  // Another client of the same daemon, speaking at "message" as a screen reader does.
  SpeechDispatcherVoice reader{"ScreenReader"};
  ASSERT_TRUE(Say("result one. ")) << voice_.LastError();
  ASSERT_TRUE(WaitForLines(1));
  // Echoes queued behind a message being spoken: each one cancels the one before, and the
  // next message (the program's or the reader's) cancels the one left.
  ASSERT_TRUE(Say("enter call. ", SpeechPriority::Text));
  ASSERT_TRUE(Say("W", SpeechPriority::Text));
  ASSERT_TRUE(Say("result two. "));
  ASSERT_TRUE(reader.Speak("Station edit", SpeechPriority::Message)) << reader.LastError();
  ASSERT_TRUE(Say("1", SpeechPriority::Text));
  // A spelled echo of one part stays an echo; one of several parts goes whole as a message.
  ASSERT_TRUE(WaitForLines(4));
  ASSERT_TRUE(Say("<SPELL> 59 </SPELL> is the report. ", SpeechPriority::Text));
  daemon_.WaitForQuiet();
  EXPECT_EQ(daemon_.Texts(), (QStringList{"result one. ", "result two. ", "Station edit", "1", "59", "is the report."}));
  EXPECT_EQ(daemon_.PriorityOf("result one. "), "message");
  EXPECT_EQ(daemon_.PriorityOf("enter call. "), "text");
  EXPECT_EQ(daemon_.PriorityOf("1"), "text");
  EXPECT_EQ(daemon_.PriorityOf("59"), "message");
  EXPECT_EQ(daemon_.SpellingFor("59"), "on");
  reader.Disconnect();
}
