// The frame's handlers: pages, the log selector, side windows opened from the menus, the call
// book toggle, About and Help, the exits, and the screen-reader names and descriptions.
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTabWidget>
#include <QSignalSpy>
#include <QTableView>
#include <QFile>

#include "RAC.h"
#include "VRN_ADIF.h"
#include "window_fixture.h"

using namespace quillmere_test;

class FrameTest : public TWindowTest {
 protected:
  void SetUp() override {
    Start();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
  }
  void Trigger(const char* action) {
    Find<QAction>(action)->trigger();
    ASSERT_TRUE(Settle());
  }
};

TEST_F(FrameTest, MenusOpenPagesAndWindowsWithTheirPhrases) {
  auto* pages = Find<QTabWidget>("PageControl1");
  Trigger("UTCAdjustment1");
  EXPECT_EQ(pages->currentWidget()->objectName(), "TabSheet3");
  Trigger("AdjustLogBook1");
  EXPECT_EQ(pages->currentWidget()->objectName(), "TabSheet2");
  EXPECT_EQ(Form().focusWidget(), Find<QLineEdit>("Edit19"));
  Find<QCheckBox>("CheckBox2")->click();
  EXPECT_EQ(pages->currentWidget()->objectName(), "TabSheet1");

  Trigger("CreateADIFlog1");
  EXPECT_TRUE(ADIFform->isVisible());
  Trigger("CreateADIFlog1");
  EXPECT_FALSE(ADIFform->isVisible());

  auto* callBook = Find<QAction>("RadioAmateurCallBook1");
  Trigger("RadioAmateurCallBook1");
  EXPECT_TRUE(callBook->isChecked());
  EXPECT_TRUE(Find<QPushButton>("BitBtn6")->isEnabled());
  Find<QLineEdit>("LogEdit3")->setText("W1AW");
  Find<QPushButton>("BitBtn6")->click();
  EXPECT_TRUE(RAC->isVisible());
  EXPECT_EQ(RAC->findChild<QLineEdit*>("Edit2")->text(), "W1AW");
  Trigger("RadioAmateurCallBook1");
  EXPECT_FALSE(callBook->isChecked());
  EXPECT_FALSE(Find<QPushButton>("BitBtn6")->isEnabled());

  EXPECT_EQ(fakes.voice->Spoken(),
            (std::vector<std::string>{"Set Configuration Panelis up.", "Search and Edit Panel is up.",
                                      "Log editing page is active. ", "enter call. ",
                                      "ADIF conversion form is loading. ", "ADIF conversion form is shut down. ",
                                      " radio amateur call book is loading. ", "call book not available. ",
                                      " radio amateur call book is closing. "}));

  // With speech off the same handlers say nothing.
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  Trigger("AdjustLogBook1");
  Trigger("CreateADIFlog1");
  EXPECT_TRUE(fakes.voice->Spoken().empty());
}

TEST_F(FrameTest, LoggerToggleShowsAndHidesTheSelectorAndItsGrid) {
  // Start-up ran the toggle once: both shown.
  auto* panel = Find<QFrame>("Panel2");
  auto* grid = Find<QTableView>("DBGrid2");
  EXPECT_FALSE(panel->isHidden());
  EXPECT_FALSE(grid->isHidden());
  EXPECT_EQ(Find<QLabel>("Label19")->text(), "LogBook Empty");
  Form().Button4Click();
  EXPECT_TRUE(panel->isHidden());
  EXPECT_TRUE(grid->isHidden());
  Form().Button4Click();
  EXPECT_FALSE(panel->isHidden());
  EXPECT_FALSE(grid->isHidden());
}

TEST_F(FrameTest, AboutAndHelp) {
  Trigger("About2");
  ASSERT_EQ(fakes.dialogs->Shown.size(), 1);
  EXPECT_TRUE(fakes.dialogs->Shown[0].startsWith("Information About Quillmere: Quillmere 1.0"));
  Trigger("Help2");
  EXPECT_EQ(fakes.launcher->Opened, QStringList{Home() + "/QMR1Help.html"});
  QFile::remove(Home() + "/QMR1Help.html");
  Trigger("Help2");
  EXPECT_EQ(fakes.dialogs->Shown.last(), "Error: The help file " + Home() + "/QMR1Help.html was not found.");
  EXPECT_EQ(fakes.launcher->Opened.size(), 1);
}

TEST_F(FrameTest, ExitButtonSaysGoodbyeAndSavesThePreferences) {
  QFile::remove(Home() + "/ConfigLog.cfg");
  QSignalSpy closed(&Form(), &TForm1::Closed);
  Find<QPushButton>("BitBtn1")->click();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"closing the logbook. "});
  EXPECT_EQ(ReadFile("ConfigLog.cfg").size(), PreferencesText(DefaultPreferences()).size());
}

TEST_F(FrameTest, ExitMenuLetsGoOfTheVoice) {
  QSignalSpy closed(&Form(), &TForm1::Closed);
  Trigger("EXIT1");
  EXPECT_EQ(closed.count(), 1);
  EXPECT_EQ(fakes.voice->Calls(), std::vector<std::string>{"Disconnect"});
}

TEST_F(FrameTest, ScreenReadersHearTheCaptionsAndHints) {
  struct Case {
    const char* name;
    QString accessibleName, description;
  } cases[] = {
      {"Edit13", "Lat. N+,S-", "Latitude Decimal Degrees"},
      {"Edit12", "Your Call Sign", "Your Call Sign"},
      {"SpinEdit1", "UTC +/-", "UTC Time Difference"},
      {"cbVoices", "Available Voices", "Available Voices"},
      {"TrackBar1", "Speech Rate", "Speech Rate"},
      {"DriveBox", "Callbook Drive:", "Select Callbook Drive"},
      {"BitBtn11", "Abort", "Abort Speech or use F3 key"},
      {"CheckBox10", "Speech on Load", "Check for Speech on Load"},
      {"LogEdit3", "Station", "Call sign"},
      {"Edit19", "Search for:", "Search  Edit  Box"},
  };
  for (const Case& c : cases) {
    QWidget* w = Find<QWidget>(c.name);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(a, nullptr) << c.name;
    EXPECT_EQ(a->text(QAccessible::Description), c.description) << c.name;
    // A combo box reports its current text as its name; its buddy label names it.
    if (qobject_cast<QComboBox*>(w) == nullptr) {
      EXPECT_EQ(a->text(QAccessible::Name), c.accessibleName) << c.name;
    }
    QStringList labels;
    for (const auto& [label, relation] : a->relations(QAccessible::Label)) labels << label->text(QAccessible::Name);
    if (qobject_cast<QAbstractButton*>(w) == nullptr) {
      EXPECT_EQ(labels.value(0), c.accessibleName) << c.name;  // then the group boxes around it
    }
  }
}
