// The roads into a logbook: the placeholder "dummy.dbf" as the default logbook opens nothing and
// says nothing; a chosen logbook is named (spoken and in the status bar) before its tags are
// built; the hidden makeindex, dateindex and prefix buttons; the new-logbook window opening its
// logbook with its own phrases only, and refusing "dummy" while dummy.dbf is listed.
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "../logbook_core/core_test_util.h"
#include "Unit1.h"
#include "logbook_fileset.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

std::string Preferences(const std::string& defaultLog) {
  return "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\n0\r\nAUTODXNO\r\n" + defaultLog +
         "\r\n7\r\nAUTOSPEECHYES\r\nD:/\r\nPOWER5\r\n";
}

const std::vector<core_test::Contact> kContacts = {
    {{"DATE", "20240301"}, {"TIME", "1200"}, {"STATION", "K1ABC"}},
    {{"DATE", "20240302"}, {"TIME", "0800"}, {"STATION", "AA1AA"}},
    {{"DATE", "20231231"}, {"TIME", "2359"}, {"STATION", "W5XYZ"}},
};

bool Heard(const std::vector<std::string>& spoken, const std::string& phrase) {
  return std::find(spoken.begin(), spoken.end(), phrase) != spoken.end();
}

}  // namespace

class LogbookOpenTest : public TWindowTest {
 protected:
  std::string Path(const QString& name) const { return (Home() + "/" + name).toStdString(); }
  void StartWith(const std::string& defaultLog) {
    WriteFile("ConfigLog.cfg", Preferences(defaultLog));
    Start();
    ASSERT_TRUE(Settle());
  }
  std::string Station() { return Form().dbf1().FieldByName("STATION")->AsString(); }
};

TEST_F(LogbookOpenTest, ThePlaceholderAsDefaultLogbookOpensNothingAndSaysNothing) {
  core_test::MakeLogbook(Path("dummy.dbf"), kContacts);
  StartWith("dummy.dbf");
  EXPECT_FALSE(Form().LogbookOpen());
  EXPECT_FALSE(Form().dbf1().Active());
  EXPECT_EQ(Form().StatusText(1), " Please load Log");
  EXPECT_FALSE(Heard(fakes.voice->Spoken(), "cannot use this log file. "));
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join("|").toStdString();
  EXPECT_FALSE(QDir(Home()).exists("DUMMY.cdx"));
}

TEST_F(LogbookOpenTest, ALogbookIsNamedBeforeItsTagsAreBuilt) {
  core_test::MakeLogbook(Path("w1log.dbf"), kContacts);
  core_test::MakeLogbook(Path("broken.dbf"), kContacts);
  // broken's index cannot be written: a folder stands where it would go.
  ASSERT_TRUE(QDir(Home()).mkdir("BROKEN.cdx"));
  StartWith("");
  fakes.voice->Clear();

  ASSERT_TRUE(Form().OpenChosenLogbook(QString::fromStdString(Path("w1log.dbf"))));
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"w1log. is  the  current  log. "});
  EXPECT_EQ(Form().StatusText(1), "Log: w1log.dbf");
  EXPECT_EQ(Form().dbf1().IndexName(), "DATE");

  // The index build fails after the logbook was named: the name was said, the failure shown,
  // and no logbook is open.
  fakes.voice->Clear();
  EXPECT_FALSE(Form().OpenChosenLogbook(QString::fromStdString(Path("broken.dbf"))));
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"broken. is  the  current  log. "});
  ASSERT_EQ(fakes.dialogs->Shown.size(), 1);
  EXPECT_TRUE(fakes.dialogs->Shown[0].startsWith("Error: ")) << fakes.dialogs->Shown[0].toStdString();
  EXPECT_FALSE(Form().LogbookOpen());
  EXPECT_EQ(Form().StatusText(1), "Log: None Loaded");
}

TEST_F(LogbookOpenTest, HiddenButtonsRunMakeIndexDateIndexAndThePrefixLookUp) {
  core_test::MakeLogbook(Path("w1log.dbf"), kContacts);
  StartWith("w1log.dbf");
  ASSERT_TRUE(Form().LogbookOpen());
  auto* makeIndex = Find<QPushButton>("Button8");
  auto* dateIndex = Find<QPushButton>("Button6");
  auto* prefix = Find<QPushButton>("Button11");
  for (QPushButton* b : {makeIndex, dateIndex, prefix}) EXPECT_FALSE(b->isVisible()) << b->text().toStdString();
  EXPECT_EQ(makeIndex->text(), "makeindex");
  EXPECT_EQ(dateIndex->text(), "dateindex");
  EXPECT_EQ(prefix->text(), "determines pfx");

  // Sorted by station, dateindex goes back to the date order on the newest contact.
  auto* sort = Find<QComboBox>("ComboBox5");
  sort->setCurrentText("STATION");
  Form().ComboBox5Change();
  EXPECT_EQ(Form().dbf1().IndexName(), "STATION");
  EXPECT_EQ(Station().substr(0, 5), "W5XYZ");
  dateIndex->click();
  EXPECT_EQ(Form().dbf1().IndexName(), "DATE");
  EXPECT_EQ(Station().substr(0, 5), "AA1AA");

  // makeindex builds the seven tags again: a lost index file comes back.
  ASSERT_TRUE(QFile::remove(Home() + "/W1LOG.cdx"));
  makeIndex->click();
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(QFile::exists(Home() + "/W1LOG.cdx"));
  EXPECT_EQ(Form().dbf1().IndexName(), "DATE");
  EXPECT_EQ(Station().substr(0, 5), "AA1AA");

  // The prefix look-up of the QTH field, shown in panel 5.
  Form().LogField("LogEdit8")->setText("japan");
  prefix->click();
  EXPECT_EQ(Form().Prefix(), "JA");
  EXPECT_EQ(Form().StatusText(5), "JA");
  Form().LogField("LogEdit8")->setText("Tromelin I.");
  prefix->click();
  EXPECT_EQ(Form().StatusText(5), "");
}

TEST_F(LogbookOpenTest, NewLogbookWindowSaysOnlyItsOwnPhrasesAndRefusesAListedDummy) {
  StartWith("");
  Form().NEWLog1Click();
  ASSERT_TRUE(Settle());
  auto* name = PrintForm->findChild<QLineEdit*>("Edit2");
  fakes.voice->Clear();
  QTest::keyClicks(name, "field24");
  QTest::keyClick(name, Qt::Key_Return);
  ASSERT_TRUE(Settle());
  // The real open path: the logbook is open, and only the window's own announcement is heard.
  EXPECT_EQ(fakes.voice->Spoken(), (std::vector<std::string>{"The new. log book is.", "field24.dbf."}));
  EXPECT_TRUE(Form().LogbookOpen());
  EXPECT_EQ(Form().StatusText(1), " LogBook: field24.dbf");

  // "dummy" with dummy.dbf in the list: the two overwrite messages, and nothing made or opened.
  core_test::MakeLogbook(Path("dummy.dbf"));
  const std::string before = core_test::ReadFile(Path("dummy.dbf"));
  PrintForm->show();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  fakes.dialogs->Shown.clear();
  name->setText("dummy");
  QTest::keyClick(name, Qt::Key_Return);
  ASSERT_TRUE(Settle());
  ASSERT_EQ(fakes.dialogs->Shown.size(), 2);
  EXPECT_TRUE(fakes.dialogs->Shown[0].startsWith("Message: Item selected: "));
  EXPECT_EQ(fakes.dialogs->Shown[1], "Message: Cannot overwrite existing log file.");
  EXPECT_FALSE(PrintForm->isVisible());
  EXPECT_TRUE(fakes.voice->Spoken().empty());
  EXPECT_EQ(core_test::ReadFile(Path("dummy.dbf")), before);
  EXPECT_EQ(Form().StatusText(1), " LogBook: field24.dbf");
}
