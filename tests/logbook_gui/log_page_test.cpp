// The LOG page's road, offscreen with the capture voice and a fake clock: a logbook opened from
// outside the program folder, calls typed (filter, duplicate warning and its phrases), contacts
// logged by button, Alt+L and Ctrl+Enter and read back from the file; the refusals that keep the
// fields; sort, band filter and the grid boxes; PACK answered No and Yes and refused while another
// program holds the logbook; another program logging while the logbook is open; the starter
// logbook of a first start.
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QTableView>

#include "dataset/Sorl6db.h"
#include "base/hx6_date.h"
#include "logbook_fileset.h"
#include "preferences.h"
#include "../logbook_core/core_test_util.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

using Row = std::map<std::string, std::string>;

// A contact: DATE "yyyymmdd", TIME, STATION, BAND, NUMBER, SPARE1.
Row Qso(const char* date, const char* time, const char* station, const char* band, const char* number,
        const char* name = "") {
  return {{"DATE", date}, {"TIME", time}, {"STATION", station}, {"BAND", band}, {"NUMBER", number}, {"SPARE1", name}};
}

void MakeLog(const std::string& path, const std::vector<Row>& contacts) {
  ASSERT_TRUE(CreateLogbookTable(path, LogbookFieldLines(), {}));
  core_test::AppendContacts(path, contacts);
}

// Every record as a fresh data set reads it: text without trailing blanks, numbers as text,
// DATE as "yyyymmdd"; deleted records too when `deleted`.
std::vector<Row> ReadBack(const std::string& path, bool deleted = false) {
  std::vector<Row> rows;
  TSorrelDataSet table;
  table.SetTableName(path);
  table.SetUseDeleted(deleted);
  table.Open();
  for (table.First(); !table.Eof(); table.Next()) {
    Row row;
    for (int i = 0; i < table.FieldCount(); ++i) {
      TField* f = table.Fields().Items(i);
      std::string text = f->DataType() == TFieldType::ftDate
                             ? (f->IsNull() ? "" : DBFDate().DTOS(DateTimeToJulian(f->AsDateTime())))
                             : f->AsString();
      while (!text.empty() && text.back() == ' ') text.pop_back();
      row[f->FieldName()] = text;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

class LogPageTest : public TWindowTest {
 protected:
  QLineEdit* Field(const char* name) { return Find<QLineEdit>(name); }
  // Types `text` into the call-sign field key by key, after emptying it.
  void TypeCall(const QString& text) {
    Field("LogEdit3")->clear();
    Field("LogEdit3")->setFocus();
    QTest::keyClicks(Field("LogEdit3"), text);
    ASSERT_TRUE(Settle());
  }
  void Choose(const char* box, const QString& text) {
    auto* combo = Find<QComboBox>(box);
    combo->setCurrentText(text);
    emit combo->activated(combo->currentIndex());
    ASSERT_TRUE(Settle());
  }
  std::string Current(const char* field) { return Form().dbf1().FieldByName(field)->AsString(); }
  int GridRows() { return Find<QTableView>("DBGrid1")->model()->rowCount(); }

  QTemporaryDir elsewhere_;
};

TEST_F(LogPageTest, OpenTypeAndLogContactsThatReadBackFromTheFile) {
  fakes.clock->Local = EncodeDateTime({2024, 3, 9, 21, 30});
  TForm1& f = Start();
  ASSERT_TRUE(Settle());
  // A logbook outside the program folder, its name in lower case.
  const std::string path = elsewhere_.filePath("field.dbf").toStdString();
  MakeLog(path, {Qso("20240301", "10:00", "W1AW", "20", "1", "Hiram"), Qso("20240305", "09:00", "K1ABC", "40", "2"),
                 Qso("20240302", "12:00", "DL1XYZ", "20", "3")});
  fakes.voice->Clear();
  ASSERT_TRUE(f.OpenChosenLogbook(QString::fromStdString(path)));
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(QFile::exists(elsewhere_.filePath("FIELD.cdx")));
  EXPECT_FALSE(QFile::exists(Home() + "/FIELD.cdx"));
  EXPECT_EQ(f.LogPath().toStdString(), path);
  EXPECT_EQ(f.LogBaseName(), "field");
  EXPECT_EQ(f.StatusText(1), "Log: field.dbf");
  EXPECT_EQ(Find<QLabel>("Label19")->text(), "field.dbf");
  EXPECT_EQ(f.dbf1().IndexName(), "DATE");
  EXPECT_EQ(Current("STATION"), "K1ABC");  // the newest contact
  EXPECT_EQ(GridRows(), 3);
  EXPECT_EQ(Find<QTableView>("DBGrid1")->currentIndex().row(), 2);
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"field. is  the  current  log. "});

  // Typing: the starred pattern first, then the call itself with filtering on and the warning.
  Field("LogEdit7")->setText("20");
  TypeCall("W1A");
  EXPECT_EQ(f.dbf1().Filter(), "STATION = 'W1A*'");
  EXPECT_FALSE(f.dbf1().Filtered());
  EXPECT_TRUE(Find<QLabel>("StaticText1")->isHidden());
  fakes.voice->Clear();
  QTest::keyClick(Field("LogEdit3"), Qt::Key_W);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(f.dbf1().Filter(), "STATION = 'W1AW'");
  EXPECT_TRUE(f.dbf1().Filtered());
  EXPECT_FALSE(Find<QLabel>("StaticText1")->isHidden());
  EXPECT_EQ(fakes.voice->Spoken(), (std::vector<std::string>{" Duplicate Contact . ", "with   .", "W1AW.", "Hiram."}));
  EXPECT_EQ(GridRows(), 1);
  // Another band is no duplicate; the call typed in lower case is one.
  Field("LogEdit7")->setText("40");
  TypeCall("W1AW");
  EXPECT_TRUE(Find<QLabel>("StaticText1")->isHidden());
  Field("LogEdit7")->setText("20");
  TypeCall("w1aw");
  EXPECT_FALSE(Find<QLabel>("StaticText1")->isHidden());

  // Log It under the W1AW filter and the STATION order, five hours east of local time: 21:30
  // local is 02:30 UTC of the next day; the number follows the whole log's highest.
  Choose("ComboBox5", "STATION");
  f.SetUtcOffset(UtcOffsetDays(5));
  f.Prefs()[plOwnCall] = "W1ABC";
  Find<QCheckBox>("CheckBox7")->setChecked(true);
  Find<QLineEdit>("Edit18")->setText("100");
  Find<QLabel>("Label5")->setText("USB");
  Find<QLabel>("Label4")->setText("14.07000");
  TypeCall("o'k1a");
  const std::pair<const char*, const char*> typed[] = {
      {"Edit3", "Mary O'Neil \"MJ\""}, {"LogEdit8", "Newington"}, {"LogEdit9", "Hartford"}, {"LogEdit6", "CT"},
      {"Edit4", "first QSO"}, {"logedit10", "FN31pr"}, {"LogEdit4", "57"}, {"LogEdit5", "55"},
      {"Edit10", "5"}, {"Edit11", "8"}};
  for (const auto& [name, text] : typed) Field(name)->setText(text);
  // The prefix look-up ran on the keystrokes (with no QTH yet); Log It writes what it holds now.
  f.SetPrefix("K");
  fakes.voice->Clear();
  Find<QPushButton>("BitBtn2")->click();
  ASSERT_TRUE(Settle());
  const std::vector<Row> rows = ReadBack(path);
  ASSERT_EQ(rows.size(), 4u);
  const Row expected = {
      {"DATE", "20240310"}, {"TIME", "02:30"},   {"NUMBER", "4"},      {"STATION", "O'K1A"}, {"BAND", "20"},
      {"QTH", "Newington"}, {"RST", ""},         {"NRSENT", "57"},     {"NRRCVD", "55"},
      {"SPARE1", "Mary O'Neil \"MJ\""},          {"MODE", "PSK"},      {"PREFIX", "K"},      {"STATE", "CT"},
      {"CQZONE", "5"},      {"ITUZONE", "8"},    {"TENTEN", "0"},      {"QSLS", ""},         {"QSLR", ""},
      {"CITY", "Hartford"}, {"REMARK", "first QSO"},                   {"FREQ", "14.0700"},  {"COUNTY", ""},
      {"CONTEST", ""},      {"OPERATR", "W1ABC"}, {"IOTA", ""},        {"TXPWR", "100"},     {"GRIDSQR", "FN31pr"}};
  EXPECT_EQ(rows[3], expected);
  EXPECT_EQ(fakes.voice->Spoken(), (std::vector<std::string>{"contact logged. ", "Contact logged. "}));
  // The contact's fields are emptied; reports, band and zones stay for the next one. The boxes
  // read DATE and NONE while the order and filter stay as they were.
  for (const char* name : {"LogEdit3", "Edit3", "LogEdit8", "LogEdit9", "logedit10", "LogEdit6", "Edit4"})
    EXPECT_EQ(Field(name)->text(), "") << name;
  EXPECT_EQ(Field("LogEdit4")->text(), "57");
  EXPECT_EQ(Field("LogEdit7")->text(), "20");
  EXPECT_EQ(Field("Edit10")->text(), "5");
  EXPECT_EQ(Find<QComboBox>("ComboBox5")->currentText(), "DATE");
  EXPECT_EQ(Find<QComboBox>("ComboBox8")->currentText(), "NONE");
  EXPECT_EQ(f.dbf1().IndexName(), "STATION");
  EXPECT_EQ(Field("LogEdit3"), QApplication::focusWidget());

  // Alt+L logs; Ctrl+Enter only once "Use CTRL +Enter" is checked.
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  TypeCall("N0AX");
  Key(Qt::Key_L, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ReadBack(path).size() == 5; }, 3000));
  TypeCall("N0AY");
  Key(Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(Settle());
  EXPECT_EQ(ReadBack(path).size(), 5u);
  Find<QCheckBox>("CheckBox12")->setChecked(true);
  Key(Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(Settle());
  const std::vector<Row> after = ReadBack(path);
  ASSERT_EQ(after.size(), 6u);
  EXPECT_EQ(after[4].at("STATION"), "N0AX");
  EXPECT_EQ(after[4].at("NUMBER"), "5");
  EXPECT_EQ(after[5].at("STATION"), "N0AY");
  EXPECT_EQ(after[5].at("NUMBER"), "6");

  // Alt+C empties the contact's fields and says so.
  TypeCall("K9Q");
  Field("Edit3")->setText("Bea");
  fakes.voice->Clear();
  Key(Qt::Key_C, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return fakes.voice->Spoken().size() == 1; }, 3000));
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"Logging fields cleared. "});
  EXPECT_EQ(Field("LogEdit3")->text(), "");
  EXPECT_EQ(Field("Edit3")->text(), "");
  EXPECT_EQ(Field("LogEdit4")->text(), "57");
}

TEST_F(LogPageTest, RefusalsSayWhyAndKeepTheFields) {
  TForm1& f = Start();
  ASSERT_TRUE(Settle());
  // No logbook: the call is still followed, Log It refuses and keeps what was typed.
  ASSERT_FALSE(f.LogbookOpen());
  TypeCall("W1AW");
  Field("Edit3")->setText("Hiram");
  fakes.voice->Clear();
  Find<QPushButton>("BitBtn2")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"please load a log book first. "});
  EXPECT_EQ(Field("LogEdit3")->text(), "W1AW");
  EXPECT_EQ(Field("Edit3")->text(), "Hiram");

  // Tables that are no logbook: refused by name in any case, or by their fields, untouched.
  WriteFile("states.dbf", "");
  ASSERT_TRUE(CreateLogbookTable((Home() + "/calls.dbf").toStdString(), {"CALL;C;10;0", "NAME;C;20;0"}, {}));
  const std::string calls = ReadFile("calls.dbf");
  struct Refusal {
    const char* file;
    const char* spoken;
  } refusals[] = {{"states.dbf", "cannot use this log file. "}, {"DUMMY.DBF", "cannot use this log file. "},
                  {"calls.dbf", "calls. is not a log book. "}};
  const std::string path = (Home() + "/mylog.dbf").toStdString();
  MakeLog(path, {Qso("20240301", "10:00", "W1AW", "20", "1")});
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.file);
    ASSERT_TRUE(f.OpenChosenLogbook(QString::fromStdString(path)));
    fakes.voice->Clear();
    EXPECT_FALSE(f.OpenChosenLogbook(Home() + "/" + r.file));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{r.spoken});
    EXPECT_FALSE(f.LogbookOpen());
    EXPECT_FALSE(f.dbf1().Active());
    EXPECT_EQ(f.StatusText(1), "Log: None Loaded");
  }
  EXPECT_EQ(ReadFile("calls.dbf"), calls);
  EXPECT_FALSE(QFile::exists(Home() + "/CALLS.cdx"));

  // With a logbook: an empty call and a band that is no number are refused, nothing stored. With
  // speech off the refusal is shown instead.
  ASSERT_TRUE(f.OpenChosenLogbook(QString::fromStdString(path)));
  Field("LogEdit3")->clear();
  fakes.voice->Clear();
  Find<QPushButton>("BitBtn2")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"please enter callsign. "});
  f.Stop1Click();
  ASSERT_TRUE(Settle());
  TypeCall("K1ABC");
  Field("LogEdit7")->setText("2O");
  Find<QPushButton>("BitBtn2")->click();
  Field("LogEdit7")->setText("20");
  Field("LogEdit3")->clear();
  Find<QPushButton>("BitBtn2")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.dialogs->Shown, (QStringList{"Message: '2O' is not a whole number for the band. Nothing was logged.",
                                               "Message: Please enter callsign!"}));
  EXPECT_EQ(ReadBack(path).size(), 1u);
  EXPECT_EQ(Field("Edit3")->text(), "Hiram");
}

TEST_F(LogPageTest, SortBandFilterGridBoxesAndPack) {
  TForm1& f = Start();
  ASSERT_TRUE(Settle());
  const std::string path = (Home() + "/bands.dbf").toStdString();
  MakeLog(path, {Qso("20240301", "10:00", "W1AW", "160", "1"), Qso("20240302", "10:00", "ZL2AB", "20", "2"),
                 Qso("20240303", "10:00", "AA1A", "2", "3"), Qso("20240304", "10:00", "K1ABC", "20", "4")});
  ASSERT_TRUE(f.OpenChosenLogbook(QString::fromStdString(path)));
  ASSERT_TRUE(Settle());

  Choose("ComboBox5", "STATION");
  EXPECT_EQ(f.dbf1().IndexName(), "STATION");
  EXPECT_EQ(Current("STATION"), "ZL2AB");
  fakes.voice->Clear();
  Choose("ComboBox5", "GRID");
  EXPECT_EQ(fakes.voice->Spoken(), (std::vector<std::string>{"log sorted according to. GRID",
                                                              "There is no GRID order in this log book. "}));
  EXPECT_EQ(f.dbf1().IndexName(), "STATION");
  const std::pair<const char*, int> filters[] = {{"160", 1}, {"02", 1}, {"20", 2}, {"NONE", 4}};
  for (const auto& [item, rows] : filters) {
    Choose("ComboBox8", item);
    EXPECT_EQ(GridRows(), rows) << item;
  }

  auto* grid = Find<QTableView>("DBGrid1");
  Find<QCheckBox>("CheckBox3")->click();
  EXPECT_NE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
  Find<QCheckBox>("CheckBox3")->click();
  EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
  Find<QCheckBox>("CheckBox4")->click();
  EXPECT_EQ(grid->font().pointSize(), 18);
  Find<QCheckBox>("CheckBox4")->click();
  EXPECT_EQ(grid->font().pointSize(), 12);

  // One contact deleted. PACK answered No changes nothing; refused while another program holds
  // the logbook, the logbook stays open here; answered Yes, the deleted contact is gone.
  ASSERT_TRUE(f.dbf1().Locate("STATION", {TVarValue("AA1A")}, 0));
  f.dbf1().Delete();
  const std::string deleted = ReadFile("bands.dbf");
  auto* pack = Find<QPushButton>("Button41");
  fakes.dialogs->YesNoAnswers = {false};
  pack->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(ReadFile("bands.dbf"), deleted);
  EXPECT_EQ(fakes.dialogs->Shown.last(),
            "Question Contest: Pack permanently deletes all records previously deleted using the toolbar. Do you want "
            "to permanently delete those records?");

  QProcess other;
  other.start(QM_SECOND_PROGRAM, {"hold", QString::fromStdString(path)});
  ASSERT_TRUE(other.waitForReadyRead(10000)) << other.readAllStandardError().toStdString();
  fakes.voice->Clear();
  fakes.dialogs->YesNoAnswers = {true};
  pack->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(),
            std::vector<std::string>{"The log book is open in another program, so it was not packed. "});
  EXPECT_TRUE(f.dbf1().Active());
  EXPECT_FALSE(f.dbf1().Exclusive());
  EXPECT_EQ(ReadFile("bands.dbf"), deleted);
  other.closeWriteChannel();
  ASSERT_TRUE(other.waitForFinished(10000));

  fakes.dialogs->YesNoAnswers = {true};
  pack->click();
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(f.dbf1().Active());
  EXPECT_FALSE(f.dbf1().Exclusive());
  EXPECT_EQ(ReadBack(path, true).size(), 3u);
  EXPECT_EQ(GridRows(), 3);
}

TEST_F(LogPageTest, AnotherProgramLogsWhileTheLogbookIsOpen) {
  // The starter logbook the build makes, as a first start finds it beside the program.
  for (const char* name : {"logbook.dbf", "LOGBOOK.cdx"})
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("QM_TEST_BIN_DIR") + "/" + name, Home() + "/" + name)) << name;
  for (const char* name : {"logbook.dbf", "LOGBOOK.cdx"})
    QFile::setPermissions(Home() + "/" + name, QFile::ReadOwner | QFile::WriteOwner);
  TForm1& f = Start();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(f.StatusText(1), "Log: logbook.dbf");
  const std::string path = (Home() + "/logbook.dbf").toStdString();

  TypeCall("W1AW");
  Find<QPushButton>("BitBtn2")->click();
  ASSERT_TRUE(Settle());
  QProcess other;
  other.start(QM_SECOND_PROGRAM, {"log", QString::fromStdString(path), "W9XYZ", "20"});
  ASSERT_TRUE(other.waitForFinished(10000));
  EXPECT_EQ(other.readAllStandardOutput().trimmed(), "2") << other.readAllStandardError().toStdString();
  // The other contact shows after the log is ordered again, and is a duplicate here.
  Choose("ComboBox5", "DATE");
  EXPECT_EQ(Current("STATION"), "W9XYZ");
  Field("LogEdit7")->setText("20");
  TypeCall("W9XYZ");
  EXPECT_FALSE(Find<QLabel>("StaticText1")->isHidden());
  TypeCall("K1ABC");
  Find<QPushButton>("BitBtn2")->click();
  ASSERT_TRUE(Settle());
  const std::vector<Row> rows = ReadBack(path);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].at("NUMBER"), "3");
}

}  // namespace
