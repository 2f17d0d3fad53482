// The logbook beside a screen reader. In-process: what the log grids announce to a screen
// reader (nothing while another control has the keyboard focus, only the operator's moves while
// they have it) and the priority of every kind of phrase (what a screen reader says too gives way,
// results are heard whole). Then the main road with the real speech-dispatcher voice on a
// private daemon: what the program, as started, hands the speech service, at which priority,
// and that F3 silences what is queued. That part is skipped, with the reason, only where the
// daemon cannot be started.
#include <QCheckBox>
#include <QTableView>

#include "../logbook_core/core_test_util.h"
#include "log_grid.h"
#include "logbook_fileset.h"
#include "private_speechd.h"
#include "speechd_voice.h"
#include "tarvane_enums.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

using Row = std::map<std::string, std::string>;
using Phrases = std::vector<std::string>;

const std::vector<Row> kContacts = {
    {{"DATE", "20240301"}, {"TIME", "10:00"}, {"NUMBER", "1"}, {"STATION", "W1AW"}, {"BAND", "20"}, {"SPARE1", "Hiram"}},
    {{"DATE", "20240305"}, {"TIME", "09:00"}, {"NUMBER", "2"}, {"STATION", "K1ABC"}, {"BAND", "40"}}};

class VoiceBesideReaderTest : public TWindowTest {
 protected:
  void OpenLog() {
    const std::string path = Home().toStdString() + "/field.dbf";
    core_test::MakeLogbook(path, kContacts);
    ASSERT_TRUE(Form().OpenChosenLogbook(QString::fromStdString(path)));
    ASSERT_TRUE(Settle());
  }
  QLineEdit* Field(const char* name) { return Find<QLineEdit>(name); }
};

}  // namespace

TEST_F(VoiceBesideReaderTest, LogGridsAnnounceOnlyTheOperatorsMovesWhileFocused) {
  StartActive();
  OpenLog();
  auto* grid1 = Find<TLogGrid>("DBGrid1");
  auto* grid3 = Find<TLogGrid>("DBGrid3");
  const int rows1 = grid1->model()->rowCount();

  // Typing a call, Log It and Clear move both grids' cursors (the Edit page's while hidden)
  // while the keyboard stays in the call field: neither grid announces a thing.
  Field("LogEdit7")->setText("20");
  Field("LogEdit3")->setFocus();
  QTest::keyClicks(Field("LogEdit3"), "W1AW");
  ASSERT_TRUE(Settle());
  EXPECT_EQ(grid1->model()->rowCount(), 1);  // the grids did follow the filter
  Key(Qt::Key_L, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Field("LogEdit3")->text().isEmpty(); }, 3000));
  QTest::keyClicks(Field("LogEdit3"), "K1");
  Key(Qt::Key_C, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Field("LogEdit3")->text().isEmpty(); }, 3000));
  ASSERT_TRUE(Settle());
  EXPECT_NE(grid1->model()->rowCount(), rows1);
  EXPECT_EQ(grid1->Announced(), 0);
  EXPECT_EQ(grid3->Announced(), 0);

  // In the focused grid the operator's arrow keys are announced; a move of the data set's
  // record (the rows listed again, the cursor put back) is not.
  grid1->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(Settle());
  ASSERT_GE(grid1->model()->rowCount(), 2);
  const int before = grid1->Announced();
  Key(Qt::Key_Up);
  ASSERT_TRUE(Settle());
  EXPECT_GT(grid1->Announced(), before);
  const int afterKey = grid1->Announced();
  Form().dbf1().First();
  Form().dbf1().Last();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(grid1->Announced(), afterKey);
  EXPECT_EQ(grid3->Announced(), 0);
}

TEST_F(VoiceBesideReaderTest, WhatAScreenReaderSaysTooGivesWayAndResultsAreHeardWhole) {
  StartActive();
  OpenLog();
  Find<QCheckBox>("CheckBox11")->setChecked(true);  // Audible Typing
  Field("LogEdit7")->setText("20");
  struct Step {
    const char* what;
    std::function<void()> act;
    Phrases spoken;
    Phrases echoes;  // those of `spoken` that give way
  } steps[] = {
      {"a field's prompt", [&] { Field("Edit3")->setFocus(Qt::TabFocusReason); }, {"enter name. "}, {"enter name. "}},
      {"the way back", [&] { Field("LogEdit3")->setFocus(Qt::BacktabFocusReason); }, {"enter call. "}, {"enter call. "}},
      {"an echoed key and a duplicate",
       [&] { QTest::keyClicks(Field("LogEdit3"), "W1AW"); },
       {"W", "1", "A", "W", " Duplicate Contact . ", "with   .", "W1AW.", "Hiram."},
       {"W", "1", "A", "W"}},
      {"Log It from the name field: the results, then the call field's prompt",
       [&] {
         Field("Edit3")->setFocus(Qt::MouseFocusReason);
         Find<QCheckBox>("CheckBox11")->setChecked(false);
         Key(Qt::Key_L, Qt::AltModifier);
         // The button's shortcut clicks it a moment later.
         EXPECT_TRUE(QTest::qWaitFor([&] { return fakes.voice->Spoken().size() >= 3; }, 3000));
       },
       {"enter name. ", "contact logged. ", "Contact logged. ", "enter call. "},
       {"enter name. ", "enter call. "}},
      {"a refusal", [&] { Form().BitBtn2Click(); }, {"please enter callsign. "}, {}},
      {"a page key", [&] { Key(Qt::Key_F5, Qt::ControlModifier); }, {"DX. W. A. S. Panel is up.", "DX. W. A. S. sheet active."}, {}},
      // The menu bar taking the keyboard and giving it back is no move into the field.
      {"the menu bar opened and closed",
       [&] {
         Key(Qt::Key_F2, Qt::ControlModifier);
         ASSERT_TRUE(Settle());
         fakes.voice->Clear();
         QWidget* bar = Form().menuBar();
         bar->setFocus(Qt::MenuBarFocusReason);
         Field("LogEdit3")->setFocus(Qt::MenuBarFocusReason);
       },
       {},
       {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
    step.act();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(fakes.voice->Spoken(), step.spoken);
    EXPECT_EQ(fakes.voice->Echoes(), step.echoes);
  }
  EXPECT_EQ(QApplication::focusWidget(), Field("LogEdit3"));
}

// ---- The real speech-dispatcher voice on the main road -----------------------------------------

TEST_F(VoiceBesideReaderTest, TheMainRoadThroughTheRealSpeechService) {
  // Each message takes 0.4 s in the daemon, so later ones wait in its queue.
  TPrivateSpeechDispatcher daemon(0.4);
  if (!daemon.Ok()) GTEST_SKIP() << "speech-dispatcher could not be started: " << daemon.Reason().toStdString();
  daemon.SetAsDefault();
  UseVoice(std::make_unique<SpeechDispatcherVoice>("QuillmereRoad"));
  fakes.clock->Local = EncodeDateTime({2024, 3, 9, 21, 30});
  fakes.rig->Values = {{TRigProperty::Mode, tarvane::PM_SSB_U},
                       {TRigProperty::Rit, tarvane::PM_RITOFF},
                       {TRigProperty::Freq, 14200000}};
  // What the daemon began since the last mark, once its queue has run dry.
  qsizetype mark = 0;
  auto heard = [&] {
    EXPECT_TRUE(Settle());
    daemon.WaitForQuiet();
    const QStringList texts = daemon.Texts();
    const QStringList since = texts.mid(mark);
    mark = texts.size();
    return since;
  };

  // Start: the frequency and "Speech activated. " whole, then the call field's prompt.
  StartActive();
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join('\n').toStdString();
  EXPECT_EQ(heard(), (QStringList{"14.20000 mega hertz. ", "Speech activated. ", "enter call. "}));
  EXPECT_EQ(daemon.PriorityOf("14.20000 mega hertz. "), "message");
  EXPECT_EQ(daemon.PriorityOf("Speech activated. "), "message");
  EXPECT_EQ(daemon.PriorityOf("enter call. "), "text");
  OpenLog();
  EXPECT_EQ(heard(), QStringList{"field. is  the  current  log. "});

  // A focus prompt.
  Field("Edit3")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(heard(), QStringList{"enter name. "});
  EXPECT_EQ(daemon.PriorityOf("enter name. "), "text");

  // Key echo, key by key, then the duplicate whole and in order: it cuts off the last echo
  // if that was still being said.
  Find<QCheckBox>("CheckBox11")->setChecked(true);
  Field("LogEdit7")->setText("20");
  Field("LogEdit3")->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(heard(), QStringList{"enter call. "});
  // The keys as typed (the field shows them in capitals).
  for (Qt::Key key : {Qt::Key_W, Qt::Key_1, Qt::Key_A}) {
    QTest::keyClick(Field("LogEdit3"), key);
    EXPECT_TRUE(daemon.WaitForTexts(mark + 1));
    mark = daemon.Texts().size();
  }
  QTest::keyClick(Field("LogEdit3"), Qt::Key_W);
  QStringList duplicate = heard();
  if (!duplicate.isEmpty() && duplicate.first() == "w") duplicate.removeFirst();
  EXPECT_EQ(duplicate, (QStringList{" Duplicate Contact . ", "with   .", "W1AW.", "Hiram."}));
  const QStringList texts = daemon.Texts();
  EXPECT_TRUE(texts.contains("w") && texts.contains("1") && texts.contains("a")) << texts.join('|').toStdString();
  EXPECT_EQ(daemon.PriorityOf("1"), "text");
  EXPECT_EQ(daemon.PriorityOf(" Duplicate Contact . "), "message");

  // Log It from the name field: the two results whole, then the prompt of the field that takes
  // the focus last.
  Find<QCheckBox>("CheckBox11")->setChecked(false);
  Field("Edit3")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(heard(), QStringList{"enter name. "});
  Field("Edit3")->setText("Hiram");
  Key(Qt::Key_L, Qt::AltModifier);
  EXPECT_EQ(heard(), (QStringList{"contact logged. ", "Contact logged. ", "enter call. "}));
  EXPECT_EQ(daemon.PriorityOf("contact logged. "), "message");
  EXPECT_EQ(core_test::ReadContacts(Home().toStdString() + "/field.dbf").size(), 3u);

  // F3 while a long read-out is being said: nothing queued behind it is begun; what comes next
  // is heard.
  Form().Button1Click();   // Review Log: two phrases
  Form().Button17Click();  // the frequency
  ASSERT_TRUE(daemon.WaitForTexts(mark + 1));
  Key(Qt::Key_F3);
  const QStringList cut = heard();
  // The first phrase, and the second only if the key came late; never the frequency.
  ASSERT_GE(cut.size(), 1);
  EXPECT_LE(cut.size(), 2) << cut.join('|').toStdString();
  EXPECT_TRUE(cut[0].startsWith("03/09/2024  21:30  W1AW")) << cut[0].toStdString();
  EXPECT_FALSE(cut.contains("14.2 mega hertz. ")) << cut.join('|').toStdString();
  Key(Qt::Key_F2, Qt::ControlModifier);
  EXPECT_EQ(heard(), QStringList{"Log sheet active"});
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join('\n').toStdString();
}
