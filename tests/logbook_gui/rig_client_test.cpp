// The main window as the rig server's client, against the recording rig link: what a parameter
// change shows (mode names, RIT, the band rows that differ from start-up, reads that fail), when
// the announcement timer starts, the frequency steps in exact hertz, the mode buttons, a
// server that does not answer (said once, no box), manual operation with its band and mode
// lists, events held back while a modal dialog is up, and a comma locale.
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <locale>

#include "tarvane_enums.h"
#include "window_fixture.h"

using namespace quillmere_test;
using namespace tarvane;  // NOLINT

namespace {

using Writes = std::vector<std::pair<TRigProperty, int32_t>>;

const std::string kNotAnswering = "The rig server or the radio is not answering. ";

}  // namespace

class RigClientTest : public TWindowTest {
 protected:
  void SetUp() override {
    Tune(14074000, PM_SSB_U);
    Start();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
    fakes.rig->Writes.clear();
  }
  void Tune(int32_t hz, int32_t mode, int32_t rit = PM_RITOFF, int32_t offset = 0) {
    fakes.rig->Values[TRigProperty::Freq] = hz;
    fakes.rig->Values[TRigProperty::Mode] = mode;
    fakes.rig->Values[TRigProperty::Rit] = rit;
    fakes.rig->Values[TRigProperty::RitOffset] = offset;
  }
  QString Text(const char* label) { return Find<QLabel>(label)->text(); }
  QString Band() { return Find<QLineEdit>("LogEdit7")->text(); }
  std::vector<std::string> Spoken() { return fakes.voice->Spoken(); }
  long Count(const std::string& phrase) {
    const auto& s = fakes.voice->Spoken();
    return std::count(s.begin(), s.end(), phrase);
  }
};

TEST_F(RigClientTest, ParameterChangeShowsRigOneInEveryLabel) {
  struct Case {
    const char* name;
    int32_t hz, mode, rit, offset;
    const char *frequency, *modeText, *band;  // band "-": unchanged
  } cases[] = {
      {"20 m upper side band", 14074000, PM_SSB_U, PM_RITOFF, 0, "14.07400", "USB", "20"},
      {"RIT on adds the offset", 14074000, PM_CW_U, PM_RITON, 450, "14.07445", "CW", "20"},
      {"RIT off ignores the offset", 7030000, PM_CW_L, PM_RITOFF, 450, "7.03000", "CW", "40"},
      {"negative offset", 3700000, PM_SSB_L, PM_RITON, -1200, "3.69880", "LSB", "80"},
      {"digital upper", 21080000, PM_DIG_U, PM_RITOFF, 0, "21.08000", "RTTY-R", "15"},
      {"digital lower", 28080000, PM_DIG_L, PM_RITOFF, 0, "28.08000", "RTTY", "10"},
      {"AM at 160 m", 1900000, PM_AM, PM_RITOFF, 0, "1.90000", "AM", "160"},
      {"50.5 MHz is 6 m on a change", 50500000, PM_FM, PM_RITOFF, 0, "50.50000", "FM", "6"},
      {"54.999999 MHz shows as 55: no band", 54999999, PM_FM, PM_RITOFF, 0, "55.00000", "FM", "-"},
      {"1240 MHz is 23 cm on a change", 1240000000, PM_FM, PM_RITOFF, 0, "1240.00000", "FM", "23"},
      {"70 cm", 432100000, PM_SSB_U, PM_RITOFF, 0, "432.10000", "USB", "70"},
      {"2 m", 144300000, PM_SSB_U, PM_RITOFF, 0, "144.30000", "USB", "2"},
      {"5.3 MHz is no band", 5300000, PM_SSB_U, PM_RITOFF, 0, "5.30000", "USB", "-"},
      {"60 MHz is no band", 60000000, PM_SSB_U, PM_RITOFF, 0, "60.00000", "USB", "-"},
      {"220 MHz is no band", 220000000, PM_SSB_U, PM_RITOFF, 0, "220.00000", "USB", "-"},
      {"unknown mode keeps the mode label", 18100000, PM_UNKNOWN, PM_RITOFF, 0, "18.10000", "MARK", "17"},
      {"a VFO bit is no mode", 24900000, PM_VFOA, PM_RITOFF, 0, "24.90000", "MARK", "12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Find<QLabel>("Label5")->setText("MARK");
    Find<QLineEdit>("LogEdit7")->setText("MARK");
    Tune(c.hz, c.mode, c.rit, c.offset);
    Form().TarvaneX1ParamsChange(2, PM_FREQB);  // whichever rig changed, rig 1 is read
    EXPECT_EQ(Text("Label4"), c.frequency);
    EXPECT_EQ(Find<QLineEdit>("Edit21")->text(), c.frequency);
    EXPECT_EQ(Text("Label35"), c.frequency);
    EXPECT_EQ(Text("Label49"), c.frequency);
    EXPECT_EQ(Text("Label5"), c.modeText);
    EXPECT_EQ(Text("Label36"), c.modeText);
    EXPECT_EQ(Band(), std::string(c.band) == "-" ? "MARK" : c.band);
  }
  // Nothing is said by the change itself, and nothing is written.
  EXPECT_TRUE(Spoken().empty());
  EXPECT_TRUE(fakes.rig->Writes.empty());
}

TEST_F(RigClientTest, AFailingReadEndsTheUpdateQuietly) {
  Form().TarvaneX1ParamsChange(1, PM_FREQ);
  Tune(7100000, PM_SSB_L);
  fakes.rig->FailingReads = {TRigProperty::Freq};
  Form().TarvaneX1ParamsChange(1, PM_FREQ);
  EXPECT_EQ(Text("Label5"), "LSB");  // read before the failure
  EXPECT_EQ(Text("Label4"), "14.07400");
  EXPECT_EQ(Band(), "20");
  fakes.rig->FailingReads = {TRigProperty::Mode};
  Tune(7100000, PM_CW_U);
  Form().TarvaneX1ParamsChange(1, PM_FREQ);
  EXPECT_EQ(Text("Label5"), "LSB");
  EXPECT_EQ(Text("Label4"), "14.07400");
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
  EXPECT_TRUE(Spoken().empty());
}

TEST_F(RigClientTest, TheAnnouncementWaitsOnlyForANewFrequencyWithSpeechAndTheCheckBoxOn) {
  ASSERT_TRUE(Form().SpeechOn());
  Find<QCheckBox>("CheckBox15")->setChecked(true);
  Form().TarvaneX1ParamsChange(1, PM_FREQ);  // start-up showed 14.074; the change form differs
  QTimer* timer = Form().findChild<QTimer*>("Timer2");
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 2000);
  timer->stop();
  // The same frequency again is no change; without the check box, or with speech off, no timer.
  Form().TarvaneX1ParamsChange(1, PM_FREQ);
  EXPECT_FALSE(timer->isActive());
  Find<QCheckBox>("CheckBox15")->setChecked(false);
  Tune(14080000, PM_SSB_U);
  Form().TarvaneX1ParamsChange(1, PM_FREQ);
  EXPECT_FALSE(timer->isActive());
  Find<QCheckBox>("CheckBox15")->setChecked(true);
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  Tune(14090000, PM_SSB_U);
  Form().TarvaneX1ParamsChange(1, PM_FREQ);
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(Text("Label4"), "14.09000");
}

TEST_F(RigClientTest, StepsAreSentInExactHertzToFreqAndFreqA) {
  struct Case {
    const char* shown;
    int position;
    bool higher;
    int32_t sent;  // 0: nothing sent
  } cases[] = {
      {"14.07400", 1, true, 14074100},  {"14.07400", 2, false, 14073500}, {"14.07400", 3, true, 14075000},
      {"14.07400", 4, false, 14069000}, {"14.07400", 5, true, 14084000},  {"14.07400", 6, false, 13974000},
      {"14.074", 3, false, 14073000},   {"14.0705", 1, true, 14070600},   {"2.002", 1, false, 2001900},
      {"1296.1", 6, true, 1296200000},  {"", 3, true, 0},                 {"not a number", 3, true, 0},
      {"0.0001", 6, false, 0},          {"2147.483", 6, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.shown) + " position " + std::to_string(c.position));
    fakes.rig->Writes.clear();
    Find<QLabel>("Label4")->setText(c.shown);
    Find<QSlider>("TrackBar3")->setValue(c.position);
    EXPECT_EQ(Text("Label56"), QString::number(c.position));
    EXPECT_EQ(Form().MemoryStep(), c.position);
    Find<QPushButton>(c.higher ? "BitBtn8" : "BitBtn7")->click();
    const Writes expected =
        c.sent == 0 ? Writes{} : Writes{{TRigProperty::Freq, c.sent}, {TRigProperty::FreqA, c.sent}};
    EXPECT_EQ(fakes.rig->Writes, expected);
    EXPECT_EQ(Text("Label4"), c.shown);  // the label waits for the radio's report
  }
  EXPECT_TRUE(Spoken().empty());
}

TEST_F(RigClientTest, ModeButtonsWriteTheModeAndSetTheLabel) {
  const std::pair<const char*, std::pair<int32_t, const char*>> buttons[] = {
      {"Button29", {PM_CW_U, "CW"}}, {"Button30", {PM_SSB_U, "USB"}},
      {"Button31", {PM_SSB_L, "LSB"}}, {"Button32", {PM_FM, "FM"}}};
  for (const auto& [name, expect] : buttons) {
    fakes.rig->Writes.clear();
    Find<QPushButton>(name)->click();
    EXPECT_EQ(fakes.rig->Writes, (Writes{{TRigProperty::Mode, expect.first}})) << name;
    EXPECT_EQ(Text("Label5"), expect.second) << name;
  }
}

TEST_F(RigClientTest, AServerThatDoesNotAnswerIsSaidOnceWithoutABox) {
  fakes.rig->IsConnected = false;  // the server went away
  Find<QPushButton>("BitBtn8")->click();
  Find<QPushButton>("BitBtn7")->click();
  Form().TarvaneX1RigTypeChange(1);
  Find<QPushButton>("Button21")->click();
  Find<QAction>("COM1")->trigger();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Spoken(), std::vector<std::string>{kNotAnswering});
  EXPECT_EQ(Form().statusBar()->currentMessage().toStdString() + " ", kNotAnswering);
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
  EXPECT_EQ(Text("Label4"), "14.074");  // as start-up left it
  EXPECT_EQ(Form().StatusText(6), "TestRig 1");

  // Reconnecting shows the frequency in its general form; a later outage is said again.
  fakes.rig->Values[TRigProperty::Freq] = 7074000;
  const int connects = fakes.rig->ConnectCalls;
  Find<QPushButton>("Button33")->click();
  EXPECT_EQ(fakes.rig->ConnectCalls, connects + 1);
  EXPECT_EQ(Text("Label4"), "7.074");
  Form().TarvaneX1RigTypeChange(1);
  EXPECT_EQ(Form().StatusText(6), "TestRig 1");
  fakes.rig->IsConnected = false;
  Find<QPushButton>("BitBtn8")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Count(kNotAnswering), 2);
}

TEST_F(RigClientTest, ManualOperationChoosesBandAndModeFromItsLists) {
  QAction* manual = Find<QAction>("ManualOperation1");
  const int connects = fakes.rig->ConnectCalls;
  manual->trigger();
  EXPECT_TRUE(manual->isChecked());
  EXPECT_TRUE(Form().ManualMode());
  EXPECT_FALSE(fakes.rig->IsConnected);
  EXPECT_EQ(Text("Label4"), "14.1");
  EXPECT_EQ(Text("Label5"), "USB");
  for (const char* name : {"Button29", "Button30", "Button31", "Button32"})
    EXPECT_FALSE(Find<QPushButton>(name)->isEnabled()) << name;
  EXPECT_TRUE(Find<QComboBox>("BandCB")->isVisible());
  EXPECT_TRUE(Find<QComboBox>("ModeCB")->isVisible());
  EXPECT_FALSE(Find<QPushButton>("Button26")->isVisible());  // after the short wait
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(Find<QPushButton>("Button26")->isVisible());
  EXPECT_TRUE(Find<QPushButton>("Button27")->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), Find<QComboBox>("BandCB"));
  EXPECT_EQ(Spoken(), std::vector<std::string>{"manual rig operation mode engaged. "});

  struct ManualBand {
    const char *item, *frequency, *band, *spoken;
  } bands[] = {{"23", "1296.1", "23", "23 cm"}, {"70", "432.1", "70", "70 cm"}, {"2", "144.2", "2", "2 m"},
               {"6", "50.125", "6", "6 m"},     {"10", "28.0", "10", "10 m"},   {"12", "24.93", "12", "12 m"},
               {"15", "21.2", "15", "15 m"},    {"17", "18.11", "17", "17 m"},  {"20", "14.1", "20", "20 m"},
               {"30", "10.125", "30", "30 m"},  {"40", "7.15", "40", "40 m"},   {"80", "3.75", "80", "80 m"},
               {"160", "1.9", "160", "160 m"}};
  QComboBox* bandList = Find<QComboBox>("BandCB");
  ASSERT_EQ(bandList->count(), 13);
  for (const ManualBand& b : bands) {
    // Chosen from the list: the focus goes back to the call sign, which asks for it.
    bandList->setFocus();
    fakes.voice->Clear();
    const int index = bandList->findText(b.item);
    ASSERT_GE(index, 0) << b.item;
    bandList->setCurrentIndex(index);
    emit bandList->activated(index);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Text("Label4"), b.frequency) << b.item;
    EXPECT_EQ(Band(), b.band) << b.item;
    EXPECT_EQ(Spoken(), (std::vector<std::string>{b.spoken, "enter call. "})) << b.item;
    EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("LogEdit3"));
  }
  // Another number is 20 m; an entry that is no number changes nothing.
  bandList->addItem("99");
  bandList->addItem("abc");
  Form().Button26Click();
  bandList->setCurrentIndex(bandList->findText("99"));
  Form().BandCBChange();
  EXPECT_EQ(Text("Label4"), "14.1");
  EXPECT_EQ(Band(), "20");
  Find<QLabel>("Label4")->setText("7.15");
  bandList->setCurrentIndex(bandList->findText("abc"));
  Form().BandCBChange();
  EXPECT_EQ(Text("Label4"), "7.15");
  EXPECT_EQ(Band(), "20");
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());

  const char* modeWords[] = {"CW", "Upper Side Band", "Lower Side Band", "F.M.", "A.M.", "P.S.K.", "R.T.T.Y.", "other"};
  const char* modeTexts[] = {"CW", "USB", "LSB", "FM", "AM", "PSK", "RTTY", "Other"};
  QComboBox* modeList = Find<QComboBox>("ModeCB");
  ASSERT_EQ(modeList->count(), 8);
  for (int i = 0; i < 8; ++i) {
    fakes.voice->Clear();
    modeList->setCurrentIndex(i);
    emit modeList->activated(i);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Spoken(), std::vector<std::string>{modeWords[i]});
    EXPECT_EQ(Text("Label5"), modeTexts[i]);
  }
  fakes.voice->Clear();
  Find<QPushButton>("Button26")->click();
  EXPECT_EQ(QApplication::focusWidget(), bandList);
  Find<QPushButton>("Button27")->click();
  EXPECT_EQ(QApplication::focusWidget(), modeList);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(Spoken(), (std::vector<std::string>{"band change.", "mode change."}));
  EXPECT_TRUE(fakes.rig->Writes.empty());  // nothing reached the radio

  // Leaving connects once and hides the lists; the labels wait for the next report.
  manual->trigger();
  EXPECT_FALSE(manual->isChecked());
  EXPECT_FALSE(Form().ManualMode());
  EXPECT_EQ(fakes.rig->ConnectCalls, connects + 1);
  EXPECT_TRUE(fakes.rig->IsConnected);
  for (const char* name : {"BandCB", "ModeCB", "Button26", "Button27"}) EXPECT_FALSE(Find<QWidget>(name)->isVisible());
  for (const char* name : {"Button29", "Button30", "Button31", "Button32"})
    EXPECT_TRUE(Find<QPushButton>(name)->isEnabled()) << name;
  EXPECT_EQ(Text("Label5"), "Other");
  Form().TarvaneX1ParamsChange(1, PM_FREQ);
  EXPECT_EQ(Text("Label4"), "14.07400");
}

TEST_F(RigClientTest, ManualOperationWithSpeechOffShowsItsMessage) {
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  Form().ManualOperation1Click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Message: Manual rig operation mode engaged"});
  // Leaving before the short wait has ended leaves the buttons hidden.
  Form().ManualOperation1Click();
  Form().ManualOperation1Click();
  Form().ManualOperation1Click();
  ASSERT_TRUE(Settle());
  EXPECT_FALSE(Find<QPushButton>("Button26")->isVisible());
}

TEST_F(RigClientTest, NoRigCallRunsWhileAModalDialogIsUp) {
  QDialog dialog(&Form());
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.show();
  ASSERT_NE(QApplication::activeModalWidget(), nullptr);
  Tune(7074000, PM_CW_U);
  fakes.rig->FailingReads = {TRigProperty::Freq};  // a read would leave its mark on Label5
  Form().TarvaneX1ParamsChange(1, PM_FREQ);
  Form().TarvaneX1ParamsChange(1, PM_SSB_U | PM_FREQ);
  // Keys that reach the window past the dialog send nothing either.
  Form().BitBtn8Click();
  Form().ManualOperation1Click();
  QTest::qWait(400);
  EXPECT_EQ(Text("Label5"), "USB");
  EXPECT_TRUE(fakes.rig->Writes.empty());
  EXPECT_FALSE(Form().ManualMode());
  fakes.rig->FailingReads.clear();
  dialog.close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Text("Label4") == "7.07400"; }, 3000));
  EXPECT_EQ(Text("Label5"), "CW");
  EXPECT_EQ(Band(), "40");
}

TEST_F(RigClientTest, CheckBoxClicksTakeTheFocusToTheCallSign) {
  for (const char* name : {"CheckBox15", "CheckBox11"}) {
    Form().ShowPage(Form().Page(2));
    Find<QCheckBox>(name)->click();
    EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentIndex(), 0) << name;
    EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("LogEdit3")) << name;
  }
}

TEST_F(RigClientTest, ACommaLocaleStillShowsAndReadsAPoint) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr || std::setlocale(LC_ALL, "fr_FR.UTF-8") != nullptr;
  struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  const std::locale previous = std::locale::global(std::locale(std::locale(), new CommaPoint));
  const QLocale qtBefore;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  if (comma) {
    EXPECT_EQ(*std::localeconv()->decimal_point, ',');
  }

  Tune(14074000, PM_SSB_U, PM_RITON, 250);
  Form().TarvaneX1ParamsChange(1, PM_FREQ);
  const QString shown = Text("Label4");
  Find<QSlider>("TrackBar3")->setValue(1);
  Find<QPushButton>("BitBtn8")->click();
  Find<QLabel>("Label4")->setText("14,1");  // a comma is no frequency here
  Find<QPushButton>("BitBtn8")->click();

  QLocale::setDefault(qtBefore);
  std::locale::global(previous);
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_EQ(shown, "14.07425");
  EXPECT_EQ(Find<QLineEdit>("Edit21")->text(), "14.07425");
  EXPECT_EQ(Text("Label35"), "14.07425");
  EXPECT_EQ(fakes.rig->Writes, (Writes{{TRigProperty::Freq, 14074350}, {TRigProperty::FreqA, 14074350}}));
}
