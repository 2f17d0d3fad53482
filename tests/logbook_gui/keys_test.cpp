// The keyboard: the window's own keys (pages with their phrases, the F3 abort, tuning), the menu
// shortcuts reaching their items even while a text field has the focus, the hint box's Alt
// letter, the pages announcing themselves, a click on the window's free area, and the
// "ShortCut" review toggle.
#include <QAction>
#include <QClipboard>
#include <QSignalSpy>

#include "Hints.h"
#include "shortcutscreen.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

std::vector<std::string> Strings(std::initializer_list<const char*> texts) { return {texts.begin(), texts.end()}; }

}  // namespace

class KeysTest : public TWindowTest {
 protected:
  void SetUp() override {
    Start();
    ASSERT_TRUE(Settle());
    Activate();
    fakes.voice->Clear();
  }
  void Activate() {
    Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
  }
  QString PageName() { return Find<QTabWidget>("PageControl1")->currentWidget()->objectName(); }
};

TEST_F(KeysTest, WindowKeysSwitchPagesAndSayWhichFromAnyControl) {
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* page;
    std::vector<std::string> spoken;
    const char* focus;  // the control that has the focus afterwards; nullptr: not checked
  } cases[] = {
      // Each page announces itself as it comes up, then the key says which sheet is active.
      {Qt::Key_F5, Qt::ControlModifier, "TabSheet4", Strings({"DX. W. A. S. Panel is up.", "DX. W. A. S. sheet active."}),
       nullptr},
      {Qt::Key_F4, Qt::ControlModifier, "TabSheet3",
       Strings({"Set Configuration Panelis up.", "Configuration sheet active."}), nullptr},
      {Qt::Key_F6, Qt::ControlModifier, "TabSheet5", Strings({"Memory Panel is up.", "Memory sheet active."}),
       "StringGrid1"},
      // The page that is up already does not announce itself again.
      {Qt::Key_F6, Qt::ControlModifier, "TabSheet5", Strings({"Memory sheet active."}), "StringGrid1"},
      {Qt::Key_F3, Qt::ControlModifier, "TabSheet2", Strings({"Search and Edit Panel is up.", "Edit sheet active."}),
       "Edit19"},
      // Other modifiers may be held with Ctrl.
      {Qt::Key_F2, Qt::ControlModifier | Qt::ShiftModifier, "TabSheet1", Strings({"enter call. ", "Log sheet active"}),
       "LogEdit3"},
      {Qt::Key_F4, Qt::ControlModifier | Qt::AltModifier, "TabSheet3",
       Strings({"Set Configuration Panelis up.", "Configuration sheet active."}), nullptr},
      // The call-sign field says its prompt as the focus enters it, before the page key speaks.
      {Qt::Key_F2, Qt::ControlModifier, "TabSheet1", Strings({"enter call. ", "Log sheet active"}), "LogEdit3"},
      // Without Ctrl the F-keys change no page; the tuning keys neither change a page nor speak.
      {Qt::Key_F5, Qt::NoModifier, "TabSheet1", {}, "LogEdit3"},
      {Qt::Key_F4, Qt::ShiftModifier, "TabSheet1", {}, "LogEdit3"},
      {Qt::Key_Left, Qt::ControlModifier, "TabSheet1", {}, "LogEdit3"},
      {Qt::Key_Right, Qt::ControlModifier, "TabSheet1", {}, "LogEdit3"},
  };
  Find<QLineEdit>("LogEdit3")->setFocus();
  for (const Case& c : cases) {
    const QString before = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
    SCOPED_TRACE(QKeySequence(c.key | c.modifiers).toString().toStdString() + " from " + before.toStdString());
    fakes.voice->Clear();
    Key(c.key, c.modifiers);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(PageName(), c.page);
    EXPECT_EQ(fakes.voice->Spoken(), c.spoken);
    if (c.focus != nullptr) {
      EXPECT_EQ(QApplication::focusWidget()->objectName(), c.focus);
    }
  }

  // With speech off the keys still switch the pages, silently.
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  Key(Qt::Key_F5, Qt::ControlModifier);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(PageName(), "TabSheet4");
  EXPECT_TRUE(fakes.voice->Spoken().empty());
}

TEST_F(KeysTest, F3StopsTheSpeechAndCtrlF3ThenAnnouncesTheEditPage) {
  // Phrases still waiting their turn are dropped with what the voice is saying.
  Form().Sequencer().Wait(200);
  Form().Speak("a phrase nobody wants to hear now");
  Key(Qt::Key_F3, Qt::ControlModifier);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(PageName(), "TabSheet2");
  EXPECT_EQ(fakes.voice->Calls(), Strings({"Skip", "Speak Search and Edit Panel is up.", "Speak Edit sheet active."}));

  // F3 with or without other modifiers only stops the speech.
  for (Qt::KeyboardModifiers modifiers : {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier),
                                          Qt::KeyboardModifiers(Qt::AltModifier)}) {
    fakes.voice->Clear();
    Key(Qt::Key_F3, modifiers);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(fakes.voice->Calls(), Strings({"Skip"}));
    EXPECT_EQ(PageName(), "TabSheet2");
  }
}

TEST_F(KeysTest, MenuShortcutsReachTheirItemsEvenFromATextField) {
  struct Case {
    const char* sequence;
    const char* action;
    const char* phrase;  // said by the item's handler; empty: not checked here
  } cases[] = {
      {"Ctrl+C", "RadioAmateurCallBook1", " radio amateur call book is loading. "},
      {"Ctrl+A", "CreateADIFlog1", "ADIF conversion form is loading. "},
      {"Ctrl+V", "WindowsVolumeControl1", ""},
      {"Ctrl+E", "AdjustLogBook1", "Log editing page is active. "},
      {"Ctrl+N", "NEWLog1", ""},
      {"Ctrl+L", "LoadLog1", "Load an existing log book. "},
      {"Ctrl+M", "ManualOperation1", ""},
      {"Ctrl+H", "Help2", ""},
      {"F2", "ShortCut1", " Short cut review is loading."},
      {"Ctrl+Q", "Stop1", "speech capability is closing. "},
      {"Ctrl+S", "Start1", "Speech activated. "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sequence);
    // Every side window the last item opened is put away, and the LOG page's call-sign field
    // (a text field that copies, pastes and selects all with these keys) has the focus.
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != &Form()) w->hide();
    Activate();
    Form().ShowPage(Form().Page(0));
    auto* call = Find<QLineEdit>("LogEdit3");
    call->setFocus();
    call->setText("W1AW");
    call->selectAll();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
    QSignalSpy reached(Find<QAction>(c.action), &QAction::triggered);
    const QKeySequence keys(QString::fromLatin1(c.sequence));
    Key(Qt::Key(keys[0].key()), keys[0].keyboardModifiers());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(reached.count(), 1);
    if (*c.phrase != 0) {
      const std::vector<std::string>& spoken = fakes.voice->Spoken();
      EXPECT_NE(std::find(spoken.begin(), spoken.end(), c.phrase), spoken.end()) << ::testing::PrintToString(spoken);
    }
    // The field neither lost its text to a cut nor got a paste.
    EXPECT_EQ(call->text(), "W1AW");
  }
}

TEST_F(KeysTest, AltHWorksTheHintBoxFromTheLogPage) {
  EXPECT_EQ(Find<QPushButton>("Button38")->shortcut().toString(), "Alt+H");
  ASSERT_TRUE(HintBox->isHidden());
  Find<QLineEdit>("LogEdit3")->setFocus();
  // A button's Alt letter clicks it the way a click looks: pressed, then released a moment later.
  Key(Qt::Key_H, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([] { return HintBox->isVisible(); }, 3000));
  Activate();
  Key(Qt::Key_H, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([] { return HintBox->isHidden(); }, 3000));
}

TEST_F(KeysTest, ShortCutItemTogglesTheReviewAndItsCloseBoxUnchecksIt) {
  auto* item = Find<QAction>("ShortCut1");
  Key(Qt::Key_F2);
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(item->isChecked());
  EXPECT_TRUE(shortcuts->isVisible());
  EXPECT_EQ(fakes.voice->Spoken(), Strings({" Short cut review is loading."}));
  // F2 works from the review window too, even from its search box, and Ctrl+C there is the
  // call book's, not a copy of the search text.
  shortcuts->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(shortcuts));
  auto* search = shortcuts->findChild<QLineEdit*>("Edit1");
  search->setFocus();
  search->setText("alt");
  search->selectAll();
  QApplication::clipboard()->clear();
  QTest::keyClick(search, Qt::Key_C, Qt::ControlModifier);
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(Find<QAction>("RadioAmateurCallBook1")->isChecked());
  EXPECT_EQ(QApplication::clipboard()->text(), "");
  fakes.voice->Clear();
  QTest::keyClick(search, Qt::Key_F2);
  ASSERT_TRUE(Settle());
  EXPECT_FALSE(item->isChecked());
  EXPECT_TRUE(shortcuts->isHidden());
  EXPECT_EQ(fakes.voice->Spoken(), Strings({" Short cut review is closing."}));

  // Its own close box unchecks the item, so the next F2 opens it again.
  item->trigger();
  ASSERT_TRUE(Settle());
  shortcuts->close();
  EXPECT_FALSE(item->isChecked());
}

TEST_F(KeysTest, AClickOnTheFreeAreaBringsUpTheLogPage) {
  Form().ShowPage(Form().Page(2));
  auto* central = Find<QWidget>("CentralPanel");
  // A click on a control of a page is the control's, not the window's.
  QTest::mouseClick(Find<QLabel>("Label48"), Qt::LeftButton);
  EXPECT_EQ(PageName(), "TabSheet3");
  // The margin around the page control is the window's own.
  QTest::mouseClick(central, Qt::LeftButton, {}, QPoint(1, 1));
  EXPECT_EQ(PageName(), "TabSheet1");
  EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("LogEdit3"));
}

TEST_F(KeysTest, TuningKeysStepTheRadioFromATextField) {
  // Ctrl+Left and Ctrl+Right tune even where a text field would move its cursor by a word; other
  // modifiers may be held with Ctrl. Each step goes to Freq and then to FreqA.
  Find<QLabel>("Label4")->setText("14.07400");
  Find<QSlider>("TrackBar3")->setValue(3);
  Find<QLineEdit>("LogEdit3")->setFocus();
  ASSERT_TRUE(Settle());
  fakes.rig->Writes.clear();
  fakes.voice->Clear();
  Key(Qt::Key_Left, Qt::ControlModifier);
  Key(Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(Settle());
  const std::vector<std::pair<TRigProperty, int32_t>> expected = {{TRigProperty::Freq, 14073000},
                                                                  {TRigProperty::FreqA, 14073000},
                                                                  {TRigProperty::Freq, 14075000},
                                                                  {TRigProperty::FreqA, 14075000}};
  EXPECT_EQ(fakes.rig->Writes, expected);
  EXPECT_TRUE(fakes.voice->Spoken().empty());
  EXPECT_EQ(PageName(), "TabSheet1");
}
