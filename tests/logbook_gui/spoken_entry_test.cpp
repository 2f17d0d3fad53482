// Spoken entry and reading through the capture voice, offscreen: each LOG-page field's prompt,
// double-click and Enter read-back (with "Use CTRL +Enter" silencing Enter); audible typing on,
// off, and on after speech was switched off; a contact row of the log grids read cell by cell by
// click, column entry and arrow keys, with the grids' hints following; the read-out buttons,
// labels, sort and band boxes and the log list.
#include <QComboBox>
#include <QFileInfo>
#include <QListWidget>
#include <QTableView>

#include "dataset/Sorl6db.h"
#include "base/hx6_date.h"
#include "logbook_fileset.h"
#include "../logbook_core/core_test_util.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

using Row = std::map<std::string, std::string>;
using Phrases = std::vector<std::string>;

void MakeLog(const std::string& path, const std::vector<Row>& contacts) {
  ASSERT_TRUE(CreateLogbookTable(path, LogbookFieldLines(), {}));
  core_test::AppendContacts(path, contacts);
}

}  // namespace

class SpokenEntryTest : public TWindowTest {
 protected:
  void SetUp() override {
    // Focus moves are heard only inside the active window.
    StartActive();
    fakes.voice->Clear();
  }
  Phrases Heard() {
    EXPECT_TRUE(Settle());
    Phrases spoken = fakes.voice->Spoken();
    fakes.voice->Clear();
    return spoken;
  }
  QLineEdit* Field(const char* name) { return Find<QLineEdit>(name); }
  void SpeechOff() {
    Form().Stop1Click();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
  }
  void OpenLog(const std::vector<Row>& contacts) {
    const std::string path = Home().toStdString() + "/field.dbf";
    MakeLog(path, contacts);
    ASSERT_TRUE(Form().OpenChosenLogbook(QString::fromStdString(path)));
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
  }
  int Column(QTableView* grid, const char* field) {
    for (int c = 0; c < grid->model()->columnCount(); ++c)
      if (grid->model()->headerData(c, Qt::Horizontal).toString() == field) return c;
    ADD_FAILURE() << field;
    return 0;
  }
  // The centre of a cell, scrolled into view.
  QPoint Cell(QTableView* grid, int row, int column) {
    const QModelIndex index = grid->model()->index(row, column);
    grid->scrollTo(index);
    return grid->visualRect(index).center();
  }
  void ClickCell(QTableView* grid, int row, int column) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Cell(grid, row, column));
  }
};

TEST_F(SpokenEntryTest, EachFieldPromptsAndReadsBack) {
  struct Case {
    const char* field;
    const char* text;
    Phrases prompt, doubleClick, enter;
  };
  const std::vector<Case> cases = {
      {"LogEdit3", "W1AW", {"enter call. "}, {"W1AW"}, {"W1AW"}},
      {"Edit3", "Hiram", {"enter name. "}, {"Hiram"}, {"Hiram"}},
      {"LogEdit8", "Newington", {"enter Q.T.H. "}, {"Newington"}, {"Newington"}},
      {"LogEdit9", "Hartford", {"enter city. "}, {"Hartford"}, {"Hartford"}},
      {"Edit4", "good signal", {"enter remarks. "}, {"good signal"}, {"good signal"}},
      {"LogEdit6", "tx", {"enter state. "}, {"Texas"}, {"Texas"}},
      {"LogEdit6", "ZQ", {"enter state. "}, {"ZQ"}, {"ZQ"}},  // not in the word list
      {"logedit10", "FN31PR", {"enter grid. "}, {"<SPELL>fn31pr</SPELL>"}, {"fn31pr"}},
      {"LogEdit4", "57", {"enter sent R.S.T. "}, {}, {}},
      {"LogEdit5", "55", {"enter received R.S.T. "}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    QLineEdit* field = Field(c.field);
    Find<QPushButton>("BitBtn2")->setFocus(Qt::TabFocusReason);
    field->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(Heard(), c.prompt);
    field->setText(c.text);
    QTest::mouseDClick(field, Qt::LeftButton);
    EXPECT_EQ(Heard(), c.doubleClick);
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(Heard(), c.enter);
    if (c.doubleClick.empty()) continue;
    // Empty: "empty" on a double click, nothing on Enter.
    field->clear();
    QTest::mouseDClick(field, Qt::LeftButton);
    EXPECT_EQ(Heard(), Phrases{"empty"});
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(Heard(), Phrases{});
  }
  // The state look-up leaves the word list on the state's line.
  EXPECT_EQ(Find<QListWidget>("ListBox1")->currentItem()->text(), "TX\tTexas");

  // With "Use CTRL +Enter" checked, Enter in a field says nothing.
  Find<QCheckBox>("CheckBox12")->setChecked(true);
  Field("LogEdit3")->setText("K1ABC");
  QTest::keyClick(Field("LogEdit3"), Qt::Key_Return);
  EXPECT_EQ(Heard(), Phrases{});

  // Edit12 on the Set page says its own text, and nothing when empty.
  QLineEdit* own = Field("Edit12");
  Form().ShowPage(Form().Page(2));
  own->setText("N0CALL");
  Find<QLineEdit>("Edit13")->setFocus(Qt::TabFocusReason);
  Heard();
  own->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(Heard(), Phrases{"N0CALL"});
  own->clear();
  Find<QLineEdit>("Edit13")->setFocus(Qt::TabFocusReason);
  own->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(Heard(), Phrases{});

  // Speech off: prompts and read-backs are silent.
  Form().ShowPage(Form().Page(0));
  SpeechOff();
  Find<QCheckBox>("CheckBox12")->setChecked(false);
  Field("Edit3")->setFocus(Qt::TabFocusReason);
  QTest::mouseDClick(Field("Edit3"), Qt::LeftButton);
  QTest::keyClick(Field("Edit3"), Qt::Key_Return);
  EXPECT_EQ(Heard(), Phrases{});
}

TEST_F(SpokenEntryTest, AudibleTypingFollowsItsBoxAlone) {
  QLineEdit* name = Field("Edit3");
  name->setFocus(Qt::TabFocusReason);
  Heard();
  // Off: typing is silent.
  QTest::keyClicks(name, "ab");
  EXPECT_EQ(Heard(), Phrases{});
  auto* box = Find<QCheckBox>("CheckBox11");
  QTest::mouseClick(box, Qt::LeftButton);
  ASSERT_TRUE(box->isChecked());
  name->setFocus(Qt::TabFocusReason);
  Heard();
  // On: each typed character, in every one of the nine fields; keys that type nothing are not echoed.
  QTest::keyClicks(name, "c D");
  QTest::keyClick(name, Qt::Key_Backspace);
  QTest::keyClick(name, Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(Heard(), (Phrases{"c", " ", "D"}));
  EXPECT_EQ(Find<QLabel>("Label47")->text(), "D");
  for (const char* field : {"LogEdit3", "LogEdit8", "LogEdit9", "Edit4", "LogEdit6", "logedit10", "LogEdit4",
                            "LogEdit5"}) {
    Field(field)->setFocus(Qt::TabFocusReason);
    Heard();
    QTest::keyClicks(Field(field), "7");
    EXPECT_EQ(Heard(), Phrases{"7"}) << field;
  }
  // Speech switched off with the box left checked: the keys are still heard.
  SpeechOff();
  ASSERT_FALSE(Form().SpeechOn());
  QTest::keyClicks(name, "x");
  EXPECT_EQ(Heard(), Phrases{"x"});
  EXPECT_EQ(Find<QLabel>("Label47")->text(), "x");
}

TEST_F(SpokenEntryTest, GridReadsAContactRowCellByCell) {
  // A word-list line without a comma: the whole line (25 characters) is the name.
  QListWidget* list = Find<QListWidget>("ListBox1");
  list->clear();
  list->addItems({"ZQ Zebra Quarter and more text", "TX\tTexas"});
  OpenLog({{{"DATE", "20240301"}, {"TIME", "10:00"}, {"NUMBER", "1"}, {"STATION", "W1AW"}, {"BAND", "20"},
            {"NRSENT", "59"}, {"NRRCVD", "CW"}, {"SPARE1", "Hiram"}, {"MODE", "CW"}, {"STATE", "TX"},
            {"GRIDSQR", "FN31pr"}, {"QTH", "ZQ"}},
           {{"DATE", "20240302"}, {"TIME", "11:00"}, {"NUMBER", "2"}, {"STATION", "K1ABC"}, {"BAND", "40"},
            {"NRSENT", "57"}, {"MODE", "USB"}, {"STATE", "ZQ"}, {"QTH", "Texas"}}});
  QTableView* grid = Find<QTableView>("DBGrid1");
  struct Case {
    const char* column;
    Phrases spoken;
  };
  // Row 0 by click: NRRCVD holds "CW" too, so it is spelled as a report before the mode rule.
  const std::vector<Case> row0 = {{"GRIDSQR", {"<SPELL> FN31pr </SPELL>"}}, {"NRSENT", {"<SPELL> 59 </SPELL>"}},
                                  {"NRRCVD", {"<SPELL> CW </SPELL>"}},      {"STATE", {"Texas"}},
                                  {"STATION", {"W1AW"}},                    {"SPARE1", {"Hiram"}},
                                  {"QTH", {"ZQ"}},                          {"CITY", {}}};
  for (const Case& c : row0) {
    ClickCell(grid, 0, Column(grid, c.column));
    EXPECT_EQ(Heard(), c.spoken) << c.column;
  }
  // Row 1: the mode word; a state code whose list line has no comma reads the line's start.
  ClickCell(grid, 1, Column(grid, "MODE"));
  EXPECT_EQ(Heard(), Phrases{"Upper Side Band"});
  ClickCell(grid, 1, Column(grid, "STATE"));
  EXPECT_EQ(Heard(), Phrases{"ZQ Zebra Quarter and more"});
  // A cell that happens to hold another field's text is read by that field's rule.
  ClickCell(grid, 1, Column(grid, "NRSENT"));
  EXPECT_EQ(Heard(), Phrases{"<SPELL> 57 </SPELL>"});

  // Entering a column by the keyboard reads the new cell; Up and Down read on release, and any
  // key released sets the grid's hint to the cell.
  grid->setFocus(Qt::TabFocusReason);
  ClickCell(grid, 1, Column(grid, "STATION"));
  Heard();
  QTest::keyClick(grid, Qt::Key_Right);
  EXPECT_EQ(Heard(), Phrases{"40"});
  QTest::keyClick(grid, Qt::Key_Up);
  EXPECT_EQ(Heard(), Phrases{"20"});
  EXPECT_EQ(grid->toolTip(), "20");
  QTest::keyClick(grid, Qt::Key_Left);
  EXPECT_EQ(Heard(), Phrases{"W1AW"});
  EXPECT_EQ(grid->toolTip(), "W1AW");
  // The mouse moving over the grid puts the current cell's text into the hint.
  ClickCell(grid, 1, Column(grid, "MODE"));
  Heard();
  grid->setToolTip(QString());
  const QPointF over(Cell(grid, 0, 0));
  QMouseEvent move(QEvent::MouseMove, over, grid->viewport()->mapToGlobal(over), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(grid->viewport(), &move);
  EXPECT_EQ(grid->toolTip(), "USB");

  // Double clicks: the station, and on the Edit page the station and a pause.
  ClickCell(grid, 0, 1);
  EXPECT_EQ(Heard(), Phrases{"10:00"});
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, Cell(grid, 0, 1));
  const Phrases doubleClick = Heard();
  ASSERT_FALSE(doubleClick.empty());
  EXPECT_EQ(doubleClick.back(), "W1AW");
  // The Edit page's grid reads by the same rules; a double click says the station and a pause.
  Form().ShowPage(Form().Page(1));
  QTableView* grid3 = Find<QTableView>("DBGrid3");
  QApplication::processEvents();
  Heard();  // the page announces itself
  ClickCell(grid3, 0, Column(grid3, "TIME"));
  EXPECT_EQ(Heard(), Phrases{"10:00"});
  QTest::mouseDClick(grid3->viewport(), Qt::LeftButton, {}, Cell(grid3, 0, Column(grid3, "TIME")));
  const Phrases doubleClick3 = Heard();
  ASSERT_FALSE(doubleClick3.empty());
  EXPECT_EQ(doubleClick3.back(), "W1AW . ");
  ClickCell(grid3, 0, Column(grid3, "MODE"));
  EXPECT_EQ(Heard(), Phrases{"<SPELL> CW </SPELL>"});  // the received report holds "CW" too
  ClickCell(grid3, 1, Column(grid3, "MODE"));
  EXPECT_EQ(Heard(), Phrases{"Upper Side Band"});

  // Speech off: the cells are silent, the hints still follow.
  SpeechOff();
  ClickCell(grid3, 0, Column(grid3, "STATE"));
  grid3->setFocus(Qt::TabFocusReason);
  QTest::keyClick(grid3, Qt::Key_Down);
  EXPECT_EQ(Heard(), Phrases{});
  EXPECT_EQ(grid3->toolTip(), "ZQ");
}

TEST_F(SpokenEntryTest, ReadOutButtonsLabelsAndBoxes) {
  // Review Log with no logbook refuses as every logbook action does.
  QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
  EXPECT_EQ(Heard(), Phrases{"please load a log book first. "});

  Find<QLabel>("Label4")->setText("14.07400");
  Find<QLabel>("Label5")->setText("CW");
  Form().SetStatusText(3, "Japan");
  Form().SetStatusText(4, "310.4 \xC2\xB0. @ 10872 km.");
  Field("LogEdit3")->setText("JA1XYZ");
  struct Case {
    const char* button;
    Phrases spoken;
  };
  const std::vector<Case> cases = {
      {"Button12", {"JA1XYZ"}},
      {"Button17", {"14.07400 mega hertz. "}},
      {"Button19", {"C.W. . ", "is the current mode."}},
      {"Button20", {"310.4 \xC2\xB0. @ 10872 km.is the bearing to .  Japan"}},
      {"Button28", {"Japan. is the DX."}},
  };
  for (const Case& c : cases) {
    QTest::mouseClick(Find<QPushButton>(c.button), Qt::LeftButton);
    EXPECT_EQ(Heard(), c.spoken) << c.button;
  }
  // The clock reads itself through "TIME NOW".
  const QString clock = Find<QLabel>("Label1")->text();
  ASSERT_FALSE(clock.isEmpty());
  QTest::mouseClick(Find<QPushButton>("Button13"), Qt::LeftButton);
  const Phrases time = Heard();
  ASSERT_EQ(time.size(), 1u);
  EXPECT_EQ(time[0].size(), clock.toStdString().size());  // the clock may tick in between
  Find<QLabel>("Label5")->setText("PKT");
  Field("LogEdit3")->clear();
  Form().Button19Click();
  Form().Button12Click();
  EXPECT_EQ(Heard(), (Phrases{"Other . ", "is the current mode."}));

  // Review Log reads the last record of the current order: sorted by station, not the newest.
  OpenLog({{{"DATE", "20240301"}, {"TIME", "10:00"}, {"NUMBER", "1"}, {"STATION", "W1AW"}, {"SPARE1", "Hiram"},
            {"STATE", "CT"}},
           {{"DATE", "20240305"}, {"TIME", "09:00"}, {"NUMBER", "2"}, {"STATION", "K1ABC"}, {"SPARE1", "Ann"}}});
  auto* sort = Find<QComboBox>("ComboBox5");
  sort->setCurrentText("STATION");
  emit sort->activated(sort->currentIndex());
  EXPECT_EQ(Heard(), Phrases{"log sorted according to. STATION"});
  Form().dbf1().First();
  QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
  std::string date = Form().dbf1().FieldByName("DATE")->AsString();
  EXPECT_EQ(Heard(), (Phrases{date + "  10:00  W1AW  Hiram   . ", "CT . "}));
  EXPECT_EQ(Find<QTableView>("DBGrid1")->currentIndex().row(), 1);

  auto* band = Find<QComboBox>("ComboBox8");
  band->setCurrentText("20");
  emit band->activated(band->currentIndex());
  EXPECT_EQ(Heard(), Phrases{"log filtered according to. 20 meters"});

  // The clock and log labels read their captions when clicked.
  Find<QLabel>("Label1")->setText("12:34:56");
  QTest::mouseClick(Find<QLabel>("Label1"), Qt::LeftButton);
  QTest::mouseClick(Find<QLabel>("Label19"), Qt::LeftButton);
  EXPECT_EQ(Heard(), (Phrases{"12:34:56", "field.dbf"}));

  // The log list: a click or an arrow key names the file; Enter opens it. Listing the files
  // again chooses the first without a word.
  MakeLog(Home().toStdString() + "/another.dbf", {});
  Form().LoadLog1Click();
  EXPECT_EQ(Heard(), Phrases{"Load an existing log book. "});
  auto* files = Find<QListWidget>("FileListBox1");
  ASSERT_GE(files->count(), 2);
  files->setFocus(Qt::TabFocusReason);
  files->setCurrentRow(0);
  QTest::keyClick(files, Qt::Key_Down);
  EXPECT_EQ(Heard(), (Phrases{"Double click or press enter to select the ",
                              QFileInfo(files->item(1)->text()).completeBaseName().toStdString() + " . ",
                              "log book."}));
  const QList<QListWidgetItem*> found = files->findItems("field.dbf", Qt::MatchFixedString);
  ASSERT_EQ(found.size(), 1);
  files->setCurrentItem(found.front());
  QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, files->visualItemRect(found.front()).center());
  EXPECT_EQ(Heard(), (Phrases{"Double click or press enter to select the ", "field . ", "log book."}));
  QTest::keyClick(files, Qt::Key_Return);
  // The list goes; the focus, and its prompt, move to the call field.
  EXPECT_EQ(Heard(), (Phrases{"field. is  the  current  log. ", "enter call. "}));
}
