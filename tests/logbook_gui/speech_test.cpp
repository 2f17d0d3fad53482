// The logbook's voice through the capture voice: speech on and off with their phrases, waits and
// controls; abort (F3 and the button) emptying what is queued; rate and volume aborting first;
// pause and resume; the voice list and its six information lines; a failing voice reported once.
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>

#include "window_fixture.h"

using namespace quillmere_test;

namespace {

const char* const kSpeechControls[] = {"Label41",  "CheckBox15", "CheckBox11", "Button12", "Button13", "Button14",
                                       "Button17", "Button19",   "Button20",   "Button28", "Button1"};

// The box of a voice that does not work: what to do, in plain words; the library's reason goes
// to the log.
const char* const kVoiceFailure =
    "The voice does not work: speech-dispatcher is not installed or not running. Install or start "
    "speech-dispatcher, then press Ctrl+S to try again. Ctrl+Q switches speech off.";

}  // namespace

class SpeechTest : public TWindowTest {
 protected:
  void SetUp() override {
    fakes.voice->SetVoiceList({{"Alice", "en-GB", "none", "one"}, {"Bert", "de", "klatt", "two"}});
    Start();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
  }
  bool ControlsVisible(bool visible) {
    for (const char* name : kSpeechControls)
      if (Find<QWidget>(name)->isHidden() == visible) return false;
    return true;
  }
  std::vector<std::string> Spoken() { return fakes.voice->Spoken(); }
};

TEST_F(SpeechTest, OffSpeaksItsPhraseThenHidesTheControlsAfterItsWait) {
  EXPECT_TRUE(ControlsVisible(true));
  QElapsedTimer clock;
  clock.start();
  Find<QAction>("Stop1")->trigger();
  // Said at once, though speech is about to be off; the state changes only after the wait.
  EXPECT_EQ(Spoken(), std::vector<std::string>{"speech capability is closing. "});
  EXPECT_TRUE(Form().SpeechOn());
  EXPECT_TRUE(ControlsVisible(true));
  Form().Speak("asked during the wait. ");
  ASSERT_TRUE(Settle());
  EXPECT_GE(clock.elapsed(), 190);
  EXPECT_FALSE(Form().SpeechOn());
  EXPECT_TRUE(Find<QAction>("Stop1")->isChecked());
  EXPECT_TRUE(ControlsVisible(false));
  // The phrase asked for during the wait came after the switch, so it was not spoken.
  EXPECT_EQ(Spoken(), std::vector<std::string>{"speech capability is closing. "});
}

TEST_F(SpeechTest, OnShowsTheControlsAtOnceAndSpeaksAfterItsWait) {
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  Find<QAction>("Start1")->trigger();
  EXPECT_TRUE(ControlsVisible(true));
  EXPECT_TRUE(Find<QAction>("Start1")->isChecked());
  EXPECT_FALSE(Find<QAction>("Stop1")->isChecked());
  EXPECT_TRUE(Spoken().empty());
  Form().Speak("next. ");  // asked for during the wait: keeps its place behind the announcement
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Spoken(), (std::vector<std::string>{"Speech activated. ", "next. "}));

  // The second word list adds its own wait before anything changes.
  Find<QRadioButton>("RadioGroup4Item1")->setChecked(true);
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  Form().Start1Click();
  EXPECT_FALSE(Form().SpeechOn());
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(Form().SpeechOn());
}

TEST_F(SpeechTest, AbortEmptiesTheQueueAndForgetsWaitingPhrases) {
  Form().Speak("one. ");
  Form().Speak("two. ");
  Key(Qt::Key_F3);
  EXPECT_TRUE(fakes.voice->Queue().empty());
  // A phrase still waiting behind a pause is dropped by the abort, as the button does.
  Form().Stop1Click();
  Form().Start1Click();
  Find<QPushButton>("BitBtn11")->click();
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(Form().SpeechOn());
  EXPECT_EQ(Spoken(), (std::vector<std::string>{"one. ", "two. ", "speech capability is closing. "}));
  EXPECT_TRUE(fakes.voice->Queue().empty());
  // Ctrl+F3 aborts too (F3 with any modifier), then brings up the Edit page, which says so.
  Form().Speak("three. ");
  Key(Qt::Key_F3, Qt::ControlModifier);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Queue(), (std::vector<std::string>{"Search and Edit Panel is up.", "Edit sheet active."}));
}

TEST_F(SpeechTest, RateAndVolumeCancelBeforeTheyApply) {
  Form().Speak("long phrase. ");
  Find<QSlider>("TrackBar1")->setValue(5);
  Find<QSlider>("TrackBar2")->setValue(40);
  const std::vector<std::string> expected = {"Speak long phrase. ", "Skip", "Rate 5", "Skip", "Volume 40"};
  EXPECT_EQ(fakes.voice->Calls(), expected);
  Find<QPushButton>("BitBtn10")->click();
  EXPECT_TRUE(fakes.voice->Paused());
  Find<QPushButton>("BitBtn9")->click();
  EXPECT_FALSE(fakes.voice->Paused());
}

TEST_F(SpeechTest, VoiceListAndItsInformationLines) {
  auto* voices = Find<QComboBox>("cbVoices");
  ASSERT_EQ(voices->count(), 2);
  EXPECT_EQ(voices->itemText(1), "Bert (de, two/klatt)");
  auto* info = Find<QListWidget>("lstEngineinfo");
  ASSERT_EQ(info->count(), 6);
  EXPECT_EQ(info->item(0)->text(), "Name: Alice");
  EXPECT_EQ(info->item(5)->text(), "Reg key: one/Alice");
  EXPECT_EQ(fakes.voice->CurrentVoice().Name, "Alice");

  voices->setCurrentIndex(1);
  emit voices->activated(1);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Spoken(), std::vector<std::string>{"Voice selected isBert (de, two/klatt) . "});
  EXPECT_EQ(fakes.voice->CurrentVoice().Name, "Bert");
  const char* lines[] = {"Name: Bert", "Vendor: two", "Age: ", "Gender: ", "Language: de", "Reg key: two/Bert/klatt"};
  ASSERT_EQ(info->count(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(info->item(i)->text(), lines[i]);
}

TEST_F(SpeechTest, NotYetImplementedIsSpokenOrShown) {
  Form().Button14Click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Spoken(), std::vector<std::string>{"not yet implemented. "});
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  Form().Button14Click();
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Message: Not yet implemented. "});
}

TEST_F(SpeechTest, AFailingVoiceIsReportedOnceThenSilentUntilSpeechIsSwitchedOn) {
  fakes.voice->FailWith("no speech service");
  for (const char* text : {"one. ", "two. ", "three. "}) Form().Speak(text);
  Form().SayOrShow("refused. ", "Refused!");
  ASSERT_TRUE(Settle());
  ASSERT_EQ(fakes.dialogs->Shown.size(), 2);
  EXPECT_EQ(fakes.dialogs->Shown[0], "Message: " + QString(kVoiceFailure));
  EXPECT_EQ(fakes.dialogs->Shown[1], "Message: Refused!");
  EXPECT_EQ(fakes.voice->Calls(), std::vector<std::string>{"Speak one.  (failed)"});

  // Switching speech on tries again; a voice that works again is heard.
  fakes.voice->FailWith("");
  Form().Start1Click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Spoken(), std::vector<std::string>{"Speech activated. "});
  EXPECT_EQ(fakes.dialogs->Shown.size(), 2);
}

// No speech service at start: the frequency phrase fails first, the start-up's own "speech on"
// does not try again, and the box comes once, after the window is up, before the other problems.
using SpeechAtStartTest = TWindowTest;

TEST_F(SpeechAtStartTest, AVoiceThatFailsFromTheStartIsReportedOnceAfterTheWindowIsUp) {
  fakes.rig->Values = {{TRigProperty::Freq, 14200000}};
  QFile::remove(Home() + "/wordlist.txt");  // a second problem, reported after the voice's
  fakes.voice->FailWith("Can't connect to unix socket /run/user/1/speech-dispatcher/speechd.sock, reason: ");
  fakes.voice->SetVoiceList({{"Alice", "en-GB", "none", "one"}});
  TForm1& f = Start();
  // Nothing is shown while the window is being built.
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join('\n').toStdString();
  ASSERT_TRUE(Settle());
  ASSERT_EQ(fakes.dialogs->Shown.size(), 2) << fakes.dialogs->Shown.join('\n').toStdString();
  EXPECT_EQ(fakes.dialogs->Shown[0], "Message: " + QString(kVoiceFailure));
  EXPECT_TRUE(fakes.dialogs->Shown[1].contains("wordlist.txt")) << fakes.dialogs->Shown[1].toStdString();
  // One attempt only: the frequency phrase; neither the voice list nor "Speech activated. ".
  EXPECT_EQ(fakes.voice->Calls(), std::vector<std::string>{"Speak 14.20000 mega hertz.  (failed)"});
  EXPECT_TRUE(f.SpeechOn());

  // Ctrl+S (the menu item) tries again; a voice that works now is heard.
  fakes.voice->FailWith("");
  f.Start1Click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"Speech activated. "});
  EXPECT_EQ(fakes.dialogs->Shown.size(), 2);
}
