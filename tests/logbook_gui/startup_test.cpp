// Start-up and shut-down of the logbook: the frame as it appears, the roads through the creation
// sequence (with and without preferences, with a damaged file, with and without a rig server),
// the single copy, and the preferences surviving the close on every road.
#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QTimer>

#include "CT.h"
#include "DXcaller.h"
#include "Hints.h"
#include "LogPrt.h"
#include "RAC.h"
#include "Unit1.h"
#include "VRN_ADIF.h"
#include "licenseA.h"
#include "preferences.h"
#include "shortcutscreen.h"
#include "tarvane_enums.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

const std::string kOperatorFile =
    "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\n-5\r\nAUTODXYES\r\nmylog.dbf\r\n2\r\nAUTOSPEECHYES\r\nF:/\r\nPOWER100\r\n";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

}  // namespace

using StartupTest = TWindowTest;

TEST_F(StartupTest, FirstStartShowsTheFrameReadsTheRigAndSpeaks) {
  fakes.rig->Values = {{TRigProperty::Mode, tarvane::PM_SSB_U},
                       {TRigProperty::Rit, tarvane::PM_RITOFF},
                       {TRigProperty::Freq, 21200000}};
  fakes.voice->SetVoiceList({{"Alice", "en-GB", "none", "speechd-one"}});
  TForm1& f = Start();
  // The clock replaces panel 2's design text once a second; a slow start must not race it.
  f.findChild<QTimer*>("Timer1")->stop();
  ASSERT_TRUE(Settle());

  EXPECT_EQ(f.windowTitle(), "   Quillmere 1.0");
  // The title is the message boxes' caption; it never becomes the toolkit's display name, which
  // would be appended to every window title ("   Quillmere 1.0 — Quillmere").
  EXPECT_EQ(ApplicationTitle(), "Quillmere");
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_TRUE(f.isVisible());
  auto* pages = Find<QTabWidget>("PageControl1");
  const char* captions[] = {"LOG", "Edit", "Set", "DX", "S. MEMORY"};
  ASSERT_EQ(pages->count(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(pages->tabText(i), captions[i]);
    EXPECT_EQ(pages->widget(i)->objectName(), QString("TabSheet%1").arg(i + 1));
  }
  const char* panels[] = {"Version 1.00", " Please load Log", "Time", "DX", "Bearing / Range", "Pf", "TestRig 1"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(f.StatusText(i), panels[i]) << i;
    EXPECT_EQ(f.StatusPanel(i)->minimumWidth(), kStatusPanelWidths[size_t(i)]);
    EXPECT_EQ(f.StatusPanel(i)->alignment(), Qt::AlignCenter);
  }
  EXPECT_EQ(Find<QLabel>("PanelBanner")->text(), "QUILLMERE");

  // The first rig read: 21.2 MHz upper side band, band 15; then the general number form.
  EXPECT_EQ(Find<QLabel>("Label5")->text(), "USB");
  EXPECT_EQ(Find<QLabel>("Label4")->text(), "21.2");
  EXPECT_EQ(Find<QLabel>("Label49")->text(), "21.20000");
  EXPECT_EQ(Find<QLineEdit>("LogEdit7")->text(), "15");
  // The call-sign field has the focus and says its prompt last, as a prompt that gives way.
  EXPECT_EQ(fakes.voice->Spoken(),
            (std::vector<std::string>{"21.20000 mega hertz. ", "Speech activated. ", "enter call. "}));
  EXPECT_EQ(fakes.voice->Echoes(), std::vector<std::string>{"enter call. "});
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join('\n').toStdString();
  EXPECT_TRUE(f.StartupProblems().isEmpty());

  // Preferences on the Set page, voices and word list.
  EXPECT_EQ(Find<QLabel>("Label48")->text(), "Band Limit: OFF");
  EXPECT_EQ(Find<QLineEdit>("Edit18")->text(), "100");
  EXPECT_TRUE(Find<QCheckBox>("CheckBox10")->isChecked());
  EXPECT_EQ(Find<QComboBox>("cbVoices")->currentText(), "Alice (en-GB, speechd-one)");
  auto* words = Find<QListWidget>("ListBox1");
  ASSERT_EQ(words->count(), 64);
  EXPECT_EQ(words->item(0)->text(), "AL\tAlabama");
  EXPECT_EQ(f.MemoryStep(), 3);

  // Every side window exists once, by its name.
  EXPECT_EQ(Form1, &f);
  EXPECT_EQ(PrintForm->windowTitle(), "Create New LogBook ");
  EXPECT_EQ(ADIFform->windowTitle(), "Quillmere / ADIF Conversions");
  EXPECT_EQ(RAC->windowTitle(), "Radio Amateur CALL BOOK");
  EXPECT_EQ(HintBox->windowTitle(), "HintBox");
  EXPECT_EQ(shortcuts->windowTitle(), "Shortcut Key Review");
  for (QWidget* w : std::initializer_list<QWidget*>{DXStuff, CTConvert, qrLogPrintForm, Constants})
    EXPECT_TRUE(w != nullptr && w->isHidden());

  const std::string delivered = ReadFile("ConfigLog.cfg");
  CloseAndDestroy();
  EXPECT_EQ(ReadFile("ConfigLog.cfg"), delivered);
  EXPECT_EQ(Form1, nullptr);
  EXPECT_EQ(RAC, nullptr);
}

TEST_F(StartupTest, MenusCarryTheirShortcutsAndHints) {
  TForm1& f = Start();
  struct Item {
    const char *name, *text, *shortcut;
    bool enabled, visible;
  } items[] = {
      {"EXIT1", "EXIT", "", true, true},
      {"UTCAdjustment1", "Options Configuration", "", true, true},
      {"AdjustLogBook1", "Adjust LogBook", "Ctrl+E", true, true},
      {"CreateADIFlog1", "Create/Convert ADIF ", "Ctrl+A", true, true},
      {"RadioAmateurCallBook1", "Radio Amateur Call Book", "Ctrl+C", true, true},
      {"Start1", "Start", "Ctrl+S", true, true},
      {"Stop1", "Quit", "Ctrl+Q", true, true},
      {"Help2", "Help", "Ctrl+H", true, true},
      {"About2", "About", "", true, true},
      {"NEWLog1", "NEW Log", "Ctrl+N", true, true},
      {"PrintCurrentLogbook1", "Print Current Logbook", "", true, true},
      {"LoadLog1", "Load Log", "Ctrl+L", true, true},
      {"ManualOperation1", "Manual Operation", "Ctrl+M", true, true},
      {"ShortCut1", "ShortCut", "F2", true, true},
      {"ShortCuts1", "ShortCuts", "Ctrl+T", false, false},
      {"WindowsVolumeControl1", "Windows Volume Control", "Ctrl+V", true, true},
      {"Notepad", "Launch Notepad", "", true, true},
      {"Magnifier1", "Xp's Magnifier", "", true, true},
      {"OnScreenKeyboard1", "Xp's On-ScreenKeyboard", "", true, true},
      {"AccessibilityWizard1", "Xp's Accessibility Wizard", "", false, false},
      {"UtilityMgr", "Xp's Utility Manager", "", false, false},
      {"XpAccessibility1", "Xp Accessibility Help", "", true, true},
  };
  for (const Item& item : items) {
    auto* action = f.findChild<QAction*>(item.name);
    ASSERT_NE(action, nullptr) << item.name;
    EXPECT_EQ(action->text(), item.text);
    EXPECT_EQ(action->shortcut().toString(), item.shortcut) << item.name;
    EXPECT_EQ(action->isEnabled(), item.enabled) << item.name;
    EXPECT_EQ(action->isVisible(), item.visible) << item.name;
  }
  EXPECT_EQ(f.findChild<QAction*>("Start1")->toolTip(), "Start Speech");
  EXPECT_EQ(f.findChild<QAction*>("Stop1")->toolTip(), "Stop Speech");
}

TEST_F(StartupTest, EveryRoadThroughStartUpEndsUsableAndKeepsThePreferences) {
  struct Road {
    const char* name;
    std::string file;  // empty: no ConfigLog.cfg
    bool rigPresent;
    bool rigAfterRegister;
    std::vector<std::string> expectedLines;  // after the close
    int problems;
    bool speechOn = true;  // the file's line 9 switches speech on
  } roads[] = {
      {"operator's file, rig", kOperatorFile, true, false, Lines(kOperatorFile), 0},
      {"operator's file, no rig", kOperatorFile, false, false, Lines(kOperatorFile), 1},
      {"operator's file, rig once registered", kOperatorFile, false, true, Lines(kOperatorFile), 0},
      {"no file", "", true, false, Lines(PreferencesText(DefaultPreferences())), 1},
      // Lines missing at the end are empty texts: speech stays off and the problems are shown.
      {"short file, no rig", "K1ABC\r\nFN42\r\n", false, false,
       {"K1ABC", "FN42", "", "", "0", "AUTODXNO", "", "7", "AUTOSPEECHNO", "", "POWER"}, 2, false},
      {"damaged lines 5 and 8", "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\nfive\r\nAUTODXYES\r\n\r\nnine\r\nAUTOSPEECHYES\r\nG:/\r\nPOWER5\r\n",
       true, false, {"W1AW", "FN31", "41.7", "-72.7", "0", "AUTODXYES", "", "7", "AUTOSPEECHYES", "G:/", "POWER5"}, 2},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    fakes = TFakeServices();
    TServices services = fakes.Make();
    fakes.rig->Present = road.rigPresent;
    fakes.rig->FailingReads = {TRigProperty::Mode};  // no first-read phrase among the problems
    if (road.rigAfterRegister) {
      WriteFile("Tarvane", "#!/bin/sh\n");
      QFile::setPermissions(Home() + "/Tarvane", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      FakeRigLink* rig = fakes.rig;
      fakes.launcher->OnRunAndWait = [rig] { rig->Present = true; };
    } else {
      QFile::remove(Home() + "/Tarvane");
    }
    QFile::remove(Home() + "/ConfigLog.cfg");
    if (!road.file.empty()) WriteFile("ConfigLog.cfg", road.file);

    auto form = std::make_unique<TForm1>(std::move(services), Options());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Sequencer().Idle(); }, 3000));
    EXPECT_FALSE(form->TerminateRequested());
    EXPECT_EQ(form->StartupProblems().size(), road.problems) << form->StartupProblems().join('\n').toStdString();
    // The creation ran to its end: word list loaded, speech on, clock running.
    EXPECT_EQ(form->findChild<QListWidget*>("ListBox1")->count(), 64);
    EXPECT_EQ(form->SpeechOn(), road.speechOn);
    EXPECT_EQ(form->StatusText(0), "Version 1.00");
    // Problems were said once each, after "Speech activated. "; with speech off, shown once each.
    const std::vector<std::string>& spoken = fakes.voice->Spoken();
    if (road.speechOn) {
      EXPECT_EQ(spoken.size(), 1u + size_t(road.problems));
      EXPECT_EQ(spoken.empty() ? std::string() : spoken.front(), "Speech activated. ");
    } else {
      EXPECT_EQ(spoken, std::vector<std::string>{"speech capability is closing. "});
      EXPECT_EQ(fakes.dialogs->Shown.size(), size_t(road.problems));
    }
    EXPECT_EQ(form->RigConnected(), road.rigPresent || road.rigAfterRegister);
    if (road.rigAfterRegister) {
      EXPECT_EQ(fakes.launcher->Ran, QStringList{Home() + "/Tarvane /RegServer"});
      EXPECT_EQ(fakes.rig->ConnectCalls, 2);
    }
    if (!form->RigConnected()) {
      EXPECT_EQ(form->StatusText(6), "No rig");
      if (road.speechOn) {
        EXPECT_EQ(std::count(spoken.begin(), spoken.end(),
                             "The rig server Tarvane cannot be reached; the logbook works without a radio. "),
                  1);
      }
    }
    form->close();
    form.reset();
    const std::vector<std::string> lines = Lines(ReadFile("ConfigLog.cfg"));
    EXPECT_EQ(lines, road.expectedLines);
  }
}

TEST_F(StartupTest, ProblemsAreShownWhenSpeechIsOffAtStart) {
  WriteFile("ConfigLog.cfg", "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\nfive\r\nAUTODXNO\r\n\r\n7\r\nAUTOSPEECHNO\r\nD:/\r\nPOWER5\r\n");
  fakes.rig->Present = false;
  QFile::remove(Home() + "/wordlist.txt");
  TForm1& f = Start();
  ASSERT_TRUE(Settle());
  EXPECT_FALSE(f.SpeechOn());
  // Speech off speaks its own phrase whatever the state; the three problems go to message boxes.
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"speech capability is closing. "});
  ASSERT_EQ(fakes.dialogs->Shown.size(), 3) << fakes.dialogs->Shown.join('\n').toStdString();
  EXPECT_TRUE(fakes.dialogs->Shown[0].startsWith("Message: The rig server Tarvane cannot be reached (The name"));
  EXPECT_TRUE(fakes.dialogs->Shown[1].startsWith("Message: Line 5 of ConfigLog.cfg"));
  EXPECT_TRUE(fakes.dialogs->Shown[2].startsWith("Message: The word list wordlist.txt was not found"));
  EXPECT_EQ(Find<QListWidget>("ListBox1")->count(), 0);
}

TEST_F(StartupTest, UnreadablePreferencesAreNeverOverwritten) {
  QFile::remove(Home() + "/ConfigLog.cfg");
  QDir(Home()).mkdir("ConfigLog.cfg");
  QFile::remove(Home() + "/wordlist.txt");
  Start();
  ASSERT_TRUE(Settle());
  EXPECT_FALSE(Form().PreferencesLoaded());
  CloseAndDestroy();
  EXPECT_TRUE(QFileInfo(Home() + "/ConfigLog.cfg").isDir());
  EXPECT_FALSE(QFileInfo::exists(Home() + "/wordlist.txt"));
}

TEST_F(StartupTest, ASecondCopyIsRefusedAndLeavesTheFirstUntouched) {
  TForm1& first = Start();
  ASSERT_TRUE(Settle());
  const std::string before = ReadFile("ConfigLog.cfg");

  TFakeServices second;
  auto copy = std::make_unique<TForm1>(second.Make(), Options());
  EXPECT_TRUE(copy->TerminateRequested());
  EXPECT_EQ(second.dialogs->Shown, QStringList{"Error: You can only have one copy of Quillmere running on a PC!"});
  EXPECT_EQ(second.rig->ConnectCalls, 0);  // refused before the rig server was touched
  EXPECT_TRUE(second.voice->Calls().empty());
  EXPECT_FALSE(copy->isVisible());
  copy->close();
  copy.reset();
  EXPECT_EQ(ReadFile("ConfigLog.cfg"), before);

  // The first copy goes on; once it ends, a new start is allowed.
  first.Timer1Timer();
  CloseAndDestroy();
  TFakeServices third;
  auto next = std::make_unique<TForm1>(third.Make(), Options());
  EXPECT_FALSE(next->TerminateRequested());
}

TEST_F(StartupTest, ClockShowsUtcAcrossMidnight) {
  WriteFile("ConfigLog.cfg", "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\n5\r\nAUTODXNO\r\n\r\n7\r\nAUTOSPEECHYES\r\nD:/\r\nPOWER5\r\n");
  fakes.clock->Local = EncodeDateTime({2024, 12, 31, 21, 30, 15});
  TForm1& f = Start();
  f.Timer1Timer();
  EXPECT_EQ(f.StatusText(2), "01/01/25 02:30:15");
  EXPECT_EQ(Find<QLabel>("Label1")->text(), "02:30");
  // Configure with -5 hours moves the clock back across midnight the other way.
  Find<QSpinBox>("SpinEdit1")->setValue(-5);
  f.BitBtn4Click();
  fakes.clock->Local = EncodeDateTime({2025, 1, 1, 2, 0, 0});
  f.Timer1Timer();
  EXPECT_EQ(f.StatusText(2), "31/12/24 21:00:00");
  EXPECT_EQ(Find<QLabel>("Label1")->text(), "21:00");
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  f.Button13Click();  // "&TIME NOW"
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"21:00"});
}
