// The Edit page over a real logbook: the search box's filter and its spoken result (quotes and
// expression text searched for as typed, never evaluated), Clear, the grid's column order, its
// magnify box, and an edit typed into the grid in lower case reaching the file in capitals.
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>

#include "dataset/Sorl6db.h"
#include "dbgridmodel.h"
#include "base/hx6_date.h"
#include "logbook_fileset.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

struct Contact {
  const char* date;
  const char* time;
  const char* station;
};

const Contact kContacts[] = {{"20240301", "1200", "K1ABC"},  {"20240105", "0900", "O'HARA"},
                             {"20231231", "2359", "W5XYZ"},  {"20240302", "0800", "K1ABC"},
                             {"20240210", "1530", "SAY\"HI"}};

}  // namespace

class EditPageTest : public TWindowTest {
 protected:
  void SetUp() override {
    Start();
    ASSERT_TRUE(Settle());
    path_ = (Home() + "/w1log.dbf").toStdString();
    ASSERT_TRUE(CreateLogbookTable(path_, LogbookFieldLines(), {}));
    {
      TSorrelDataSet table;
      table.SetTableName(path_);
      table.Open();
      for (const Contact& c : kContacts) {
        table.Append();
        table.FieldByName("DATE")->SetAsDateTime(JulianToDateTime(DBFDate().CTOD(c.date)));
        table.FieldByName("TIME")->SetAsString(c.time);
        table.FieldByName("STATION")->SetAsString(c.station);
        table.FieldByName("BAND")->SetAsInteger(20);
        table.Post();
      }
      table.Close();
    }
    ASSERT_TRUE(Form().OpenChosenLogbook(QString::fromStdString(path_)));
    ASSERT_TRUE(Settle());
    Form().ShowPage(Form().Page(1));
    fakes.voice->Clear();
  }

  // The stations DBGrid3 shows, top to bottom.
  QStringList Stations() {
    const TDBGridModel& model = Form().DBGrid3Model();
    QStringList stations;
    for (int row = 0; row < model.rowCount(); ++row) stations << model.index(row, StationColumn()).data().toString();
    return stations;
  }
  int StationColumn() {
    const TDBGridModel& model = Form().DBGrid3Model();
    for (int column = 0; column < model.columnCount(); ++column)
      if (model.ColumnField(column)->FieldName() == "STATION") return column;
    return -1;
  }
  void Search(const QString& text) {
    auto* box = Find<QLineEdit>("Edit19");
    box->setFocus();
    box->setText(text);
    Key(Qt::Key_Return);
    ASSERT_TRUE(Settle());
  }

  std::string path_;
};

TEST_F(EditPageTest, SearchFiltersByTheTypedCallAndSaysWhatItFound) {
  const QStringList all = {"W5XYZ", "O'HARA", "SAY\"HI", "K1ABC", "K1ABC"};  // date order
  EXPECT_EQ(Stations(), all);
  const QString injection = "X' .OR. .T. .OR. STATION='Y";
  const QString unquotable = "A'B\"C]";
  struct Case {
    QString typed;
    QStringList shown;
    std::vector<std::string> spoken;
    QStringList messages;
  };
  const Case cases[] = {
      {"K1ABC", {"K1ABC", "K1ABC"}, {"the search found.", "K1ABC"}, {}},
      {"O'HARA", {"O'HARA"}, {"the search found.", "O'HARA"}, {}},
      {"SAY\"HI", {"SAY\"HI"}, {"the search found.", "SAY\"HI"}, {}},
      {"K1AB", {}, {"the search found.", "no entries for K1AB"}, {}},
      {injection, {}, {"the search found.", "no entries for " + injection.toStdString()}, {}},
      // Refused, spoken when speech is on: the previous filter stays.
      {unquotable,
       {},
       {"cannot search for text that holds a single quote, a double quote and a closing bracket. ",
        "the search found.", "no entries for A'B\"C]"},
       {}},
      {"", all, {"the search found.", "no entries for "}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    fakes.voice->Clear();
    Search(c.typed);
    EXPECT_EQ(Stations(), c.shown);
    EXPECT_EQ(fakes.voice->Spoken(), c.spoken);
  }
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());

  // With speech off the refusal is shown; Enter says nothing.
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  Search(unquotable);
  EXPECT_TRUE(fakes.voice->Spoken().empty());
  ASSERT_EQ(fakes.dialogs->Shown.size(), 1);
  EXPECT_TRUE(fakes.dialogs->Shown[0].startsWith("Message: Cannot search for \"A'B\"C]\""));

  // The search lands on the last match; Clear shows every contact again.
  Search("K1ABC");
  EXPECT_EQ(Form().dbf1().FieldByName("TIME")->AsString(), "0800");
  Find<QPushButton>("Button34")->click();
  EXPECT_TRUE(Find<QLineEdit>("Edit19")->text().isEmpty());
  EXPECT_EQ(Stations(), all);

  // When Ctrl+Enter logs a contact, Enter in the box says nothing.
  Form().Start1Click();
  Find<QCheckBox>("CheckBox12")->setChecked(true);
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  Search("O'HARA");
  EXPECT_EQ(Stations(), QStringList{"O'HARA"});
  EXPECT_TRUE(fakes.voice->Spoken().empty());
}

TEST_F(EditPageTest, GridShowsDateTimeStationFirstAndPostsEditsInCapitals) {
  auto* grid = Find<QTableView>("DBGrid3");
  QHeaderView* header = grid->horizontalHeader();
  QStringList firstColumns;
  for (int visual = 0; visual < 4; ++visual)
    firstColumns << Form().DBGrid3Model().headerData(header->logicalIndex(visual), Qt::Horizontal).toString();
  EXPECT_EQ(firstColumns, (QStringList{"DATE", "TIME", "STATION", "NUMBER"}));

  // W5XYZ's station cell, retyped in lower case.
  grid->setFocus();
  grid->setCurrentIndex(Form().DBGrid3Model().index(0, StationColumn()));
  // The first key opens the cell's editor, which takes the others.
  for (const char c : std::string("k9zz/p")) QTest::keyClicks(QApplication::focusWidget(), QString(QChar(c)));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  // The editor hands its text over once the event loop runs.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Stations()[0] == "K9ZZ/P"; }, 2000)) << Stations()[0].toStdString();
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join("|").toStdString();
  Form().dbf1().Close();
  TSorrelDataSet fresh;
  fresh.SetTableName(path_);
  fresh.Open();
  QStringList stored;
  for (fresh.First(); !fresh.Eof(); fresh.Next())
    stored << QString::fromStdString(fresh.FieldByName("STATION")->AsString()).trimmed();
  EXPECT_EQ(stored, (QStringList{"K1ABC", "O'HARA", "K9ZZ/P", "K1ABC", "SAY\"HI"}));
  fresh.Close();

  auto* magnify = Find<QCheckBox>("CheckBox6");
  magnify->click();
  EXPECT_EQ(grid->font().pointSize(), 18);
  magnify->click();
  EXPECT_EQ(grid->font().pointSize(), 12);
}
