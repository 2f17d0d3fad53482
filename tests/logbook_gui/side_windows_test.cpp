// The new-logbook window, the printed log, the tool launchers, the word lists and the font switch,
// each driven through its window as the operator would.
#include <QDate>
#include <QDir>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>

#include "../logbook_core/core_test_util.h"
#include "LogPrt.h"
#include "Unit1.h"
#include "logbook_fileset.h"
#include "new_logbook.h"
#include "window_fixture.h"

using namespace quillmere_test;

class SideWindowsTest : public TWindowTest {
 protected:
  void SetUp() override {
    fakes.clock->Local = 45400.5;  // 19 April 2024, noon
    Start();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
  }
  std::string Path(const QString& name) const { return (Home() + "/" + name).toStdString(); }
};

TEST_F(SideWindowsTest, NewLogbookTakesOnlyNameKeysAndRefusesBadNames) {
  core_test::MakeLogbook(Path("existing.dbf"));
  Form().NEWLog1Click();
  ASSERT_TRUE(Settle());
  ASSERT_TRUE(PrintForm->isVisible());
  auto* edit = PrintForm->findChild<QLineEdit*>("Edit2");
  auto* files = PrintForm->findChild<QListWidget*>("FileListBox1");
  EXPECT_EQ(files->count(), 1);

  // Upper case, blanks and punctuation other than '_' and '.' never enter the box.
  QTest::keyClicks(edit, "Ab c_1.-Z");
  EXPECT_EQ(edit->text(), "bc_1.");
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_EQ(edit->text(), "bc_1");

  struct Case {
    const char* name;
    QStringList shown;
    std::vector<std::string> spoken;
    bool staysOpen;
  } cases[] = {
      {"9lives", {}, {"Must not start with a numeral. "}, true},
      {"_under", {}, {"Must start with a letter. "}, true},
      {"states", {}, {"can not use this log file."}, true},
      {"existing", {"Message: Item selected: -1", "Message: Cannot overwrite existing log file."}, {}, false},
      {"dummy", {}, {}, false},
      {"", {}, {}, false},
  };
  for (const Case& k : cases) {
    PrintForm->show();
    fakes.voice->Clear();
    fakes.dialogs->Shown.clear();
    edit->setText(k.name);
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(fakes.dialogs->Shown, k.shown) << k.name;
    EXPECT_EQ(fakes.voice->Spoken(), k.spoken) << k.name;
    EXPECT_EQ(PrintForm->isVisible(), k.staysOpen) << k.name;
  }
  // Nothing was made by any of them.
  EXPECT_EQ(quillmere::ListLogbookFiles(Home().toStdString()), std::vector<std::string>{"existing.dbf"});

  // The menu toggles the window with its phrases; the list speaks what is clicked.
  fakes.voice->Clear();
  Form().NEWLog1Click();
  files->setCurrentRow(0);
  PrintForm->FileListBox1Click();
  Form().NEWLog1Click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(),
            (std::vector<std::string>{"Create a new log book. ", "existing.dbf.", "New log book aborted. "}));
  EXPECT_FALSE(PrintForm->isVisible());
}

TEST_F(SideWindowsTest, NewLogbookIsMadeAndOpenedByItsFullPath) {
  QStringList opened;
  bool openResult = true;
  PrintForm->OpenLogbook = [&](const QString& path) {
    opened << path;
    return openResult;
  };
  Form().NEWLog1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  QTest::keyClicks(PrintForm->findChild<QLineEdit*>("Edit2"), "field24");
  QTest::keyClick(PrintForm->findChild<QLineEdit*>("Edit2"), Qt::Key_Return);
  ASSERT_TRUE(Settle());

  EXPECT_EQ(opened, QStringList{Home() + "/field24.dbf"});
  EXPECT_EQ(Form().StatusText(1), " LogBook: field24.dbf");
  EXPECT_EQ(fakes.voice->Spoken(), (std::vector<std::string>{"The new. log book is.", "field24.dbf."}));
  EXPECT_FALSE(PrintForm->isVisible());
  EXPECT_TRUE(PrintForm->findChild<QLineEdit*>("Edit2")->text().isEmpty());
  {
    TSorrelDataSet table;
    table.SetTableName(Path("field24.dbf"));
    table.Open();
    ASSERT_EQ(table.FieldCount(), quillmere::kLogFieldCount);
    for (int i = 0; i < table.FieldCount(); ++i)
      EXPECT_EQ(table.Fields().Items(i)->FieldName(), quillmere::LogbookFieldNames()[size_t(i)]);
    EXPECT_EQ(table.FieldByName("NRSENT")->DataType(), TFieldType::ftString);
    EXPECT_EQ(table.RecordCount(), 0);
    table.Close();
  }

  // An open that fails was reported by the open path: no success phrases.
  openResult = false;
  fakes.voice->Clear();
  PrintForm->show();
  PrintForm->findChild<QLineEdit*>("Edit2")->setText("second");
  PrintForm->Button3Click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(opened.size(), 2);
  EXPECT_EQ(Form().StatusText(1), "Current Log: second.dbf");
  EXPECT_TRUE(fakes.voice->Spoken().empty());

  // A table that appeared after the list was read: asked, declined, nothing made or opened.
  PrintForm->show();
  core_test::WriteFile(Path("late.dbf"), "the operator's own file");
  fakes.dialogs->YesNoAnswers = {false};
  PrintForm->findChild<QLineEdit*>("Edit2")->setText("late");
  PrintForm->Button3Click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Warning Confirm: Table exists.  Do you want to overwrite?"});
  EXPECT_EQ(core_test::ReadFile(Path("late.dbf")), "the operator's own file");
  EXPECT_EQ(opened.size(), 2);
  EXPECT_TRUE(fakes.voice->Spoken().empty());
}

// Calls longer than the call's box on paper run into the gap before Date, or shrink to fit it; no
// glyph is cut by the box.
TEST_F(SideWindowsTest, PrintedCallsAreNeverCutMidGlyph) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(Home() + "/calls.pdf");
  TqrLogPrintForm::ConfigurePrinter(printer);
  const PrintElement& call = PrintDetailCells()[0].place;
  const double perMm = printer.logicalDpiX() / 25.4;
  const double fullSize = TqrLogPrintForm::LayOutText(call, PrintDetailRoom(0), "W1AW", &printer).font.pointSizeF();
  for (const char* text : {"W1AW", "VK2DEF/P", "KH6/VK2DEF/QRP", "VP2E/WWWWWW/MM", "WWWWWWWWWWWWWWW"}) {
    SCOPED_TRACE(text);
    const TqrLogPrintForm::TextLayout layout = TqrLogPrintForm::LayOutText(call, PrintDetailRoom(0), text, &printer);
    const double drawn = QFontMetricsF(layout.font, &printer).horizontalAdvance(text) / perMm;
    EXPECT_LE(drawn, layout.width + 1e-6);  // the whole text lies inside its box
    EXPECT_LE(layout.width, 18.0 + 1e-9);   // and the box ends before the date's
    EXPECT_GE(layout.width, call.width);
    EXPECT_LE(layout.font.pointSizeF(), fullSize);
    if (std::string(text) == "W1AW") {
      EXPECT_DOUBLE_EQ(layout.width, call.width);
    }
  }
  // Fifteen wide letters cannot fit at full size: the font shrinks.
  EXPECT_LT(TqrLogPrintForm::LayOutText(call, PrintDetailRoom(0), "WWWWWWWWWWWWWWW", &printer).font.pointSizeF(),
            fullSize);
  EXPECT_GT(TqrLogPrintForm::LayOutText(call, PrintDetailRoom(0), "VK2DEF/P", &printer).width, 12.7);
}

TEST_F(SideWindowsTest, PrintedLogOfAHundredContactsIsInDateOrderOnLetterPages) {
  // Logged out of order: the contact of day d is T<d>, stored in the order 0, 37, 74, 11, ...
  std::vector<core_test::Contact> contacts;
  for (int i = 0; i < 100; ++i) {
    const int day = (i * 37) % 100;
    contacts.push_back({{"STATION", QStringLiteral("T%1").arg(day, 3, 10, QChar('0')).toStdString()},
                        {"DATE", QDate(2024, 1, 1).addDays(day).toString("yyyyMMdd").toStdString()},
                        {"TIME", "10:00"},
                        {"FREQ", "14.070"},
                        {"SPARE1", "Name"}});
  }
  core_test::MakeLogbook(Path("club.dbf"), contacts);
  {
    TSorrelDataSet table;
    quillmere::OpenLogbook(table, Path("club.dbf"));
    table.Close();
  }

  // No logbook open: the menu does nothing.
  Form().Print1Click();
  EXPECT_EQ(qrLogPrintForm->Preview(), nullptr);

  QSignalSpy ready(qrLogPrintForm, &TqrLogPrintForm::ReportReady);
  ASSERT_TRUE(qrLogPrintForm->QuickRep1BeforePrint(QString::fromStdString(Path("club.dbf")), "W1AW"));
  ASSERT_TRUE(ready.wait(20000));
  ASSERT_NE(qrLogPrintForm->Preview(), nullptr);
  EXPECT_TRUE(qrLogPrintForm->Preview()->isVisible());
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());

  const QString pdf = Home() + "/log.pdf";
  {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    TqrLogPrintForm::ConfigurePrinter(printer);
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);
    EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::Letter);
    qrLogPrintForm->QuickRep1Print(&printer);
  }
  QProcess text;
  text.start("pdftotext", {"-layout", pdf, "-"});
  ASSERT_TRUE(text.waitForFinished(30000));
  const QStringList pages = QString::fromUtf8(text.readAllStandardOutput()).split('\f', Qt::SkipEmptyParts);
  ASSERT_EQ(pages.size(), 3);
  const QRegularExpression call("\\bT(\\d{3})\\b");
  const int expectedRows[] = {41, 41, 18};
  int next = 0;
  for (int p = 0; p < 3; ++p) {
    EXPECT_TRUE(pages[p].contains("Log of W1AW")) << p;
    EXPECT_TRUE(pages[p].contains(QRegularExpression(QStringLiteral("Page:\\s*%1\\b").arg(p + 1)))) << p;
    EXPECT_TRUE(pages[p].contains("Callsign")) << p;
    EXPECT_TRUE(pages[p].contains("QSL Rcvd")) << p;
    int rows = 0;
    for (auto it = call.globalMatch(pages[p]); it.hasNext();) {
      EXPECT_EQ(it.next().captured(1).toInt(), next) << "page " << p + 1;
      ++next;
      ++rows;
    }
    EXPECT_EQ(rows, expectedRows[p]) << "page " << p + 1;
  }
  EXPECT_TRUE(pages[0].contains(QString::fromStdString(qrLogPrintForm->Report().date)));

  // Without its index file the log cannot be read in date order: reported, no preview.
  qrLogPrintForm->Preview()->close();
  QFile::remove(Home() + "/CLUB.cdx");
  ASSERT_TRUE(qrLogPrintForm->QuickRep1BeforePrint(QString::fromStdString(Path("club.dbf")), "W1AW"));
  ASSERT_TRUE(ready.wait(20000));
  ASSERT_EQ(fakes.dialogs->Shown.size(), 1);
  EXPECT_TRUE(fakes.dialogs->Shown[0].startsWith("Error: "));
  EXPECT_EQ(qrLogPrintForm->Preview(), nullptr);
}

TEST_F(SideWindowsTest, ToolsStartTheirProgramsOrSayWhyNot) {
  WriteFile("QuillmereTools.cfg",
            "; the operator's own choices\nMagnifier=mymag --zoom 2\nOnScreenKeyboard=\"my keyboard\" -x\n"
            "VolumeControl=mixer\nTextEditor=editor\n");
  struct Case {
    const char* action;
    QString started;
    QString failure;
  } cases[] = {
      {"Magnifier1", "mymag --zoom 2", "Error: Could not find Magnifier"},
      {"OnScreenKeyboard1", "my keyboard -x", "Error: Could not find On-ScreenKeyboard."},
      {"WindowsVolumeControl1", "mixer ", "Message: Volume Control panel not found."},
      {"Notepad", "editor ", "Message: Could not find the text editor."},
  };
  for (const Case& k : cases) {
    for (const bool starts : {true, false}) {
      fakes.launcher->Result = starts;
      fakes.launcher->Started.clear();
      fakes.dialogs->Shown.clear();
      Find<QAction>(k.action)->trigger();
      EXPECT_EQ(fakes.launcher->Started, QStringList{k.started}) << k.action;
      EXPECT_EQ(fakes.dialogs->Shown, starts ? QStringList{} : QStringList{k.failure}) << k.action;
    }
  }
  fakes.launcher->Result = true;
  Find<QAction>("XpAccessibility1")->trigger();
  EXPECT_EQ(fakes.launcher->Opened, QStringList{Home() + "/QMR1Help.html"});
}

TEST_F(SideWindowsTest, WordListsTurnCommasToTabsAndAMissingListKeepsTheOld) {
  auto* list = Find<QListWidget>("ListBox1");
  auto* group = Find<QGroupBox>("RadioGroup4");
  WriteFile("WordList2.txt", "AL,Alabama\r\nNOCOMMA\nA,B,C\n");
  group->findChild<QRadioButton*>("RadioGroup4Item1")->click();
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(0)->text(), "AL\tAlabama");
  EXPECT_EQ(list->item(1)->text(), "NOCOMMA");
  EXPECT_EQ(list->item(2)->text(), "A\tB\tC");
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());

  // "WordList.txt" is not beside the program (nor the start-up list, whose name differs only in
  // case): a file error, and the list in use stays.
  QFile::remove(Home() + "/wordlist.txt");
  group->findChild<QRadioButton*>("RadioGroup4Item0")->click();
  ASSERT_EQ(fakes.dialogs->Shown.size(), 1);
  EXPECT_TRUE(fakes.dialogs->Shown[0].startsWith("Error: Cannot open file")) << fakes.dialogs->Shown[0].toStdString();
  EXPECT_TRUE(fakes.dialogs->Shown[0].contains("WordList.txt"));
  EXPECT_EQ(list->count(), 3);
}

// One word list is delivered under the start-up name; the "Grammar" choice's "WordList.txt" finds
// it through the case-insensitive look-up, so choosing WordList2 and back keeps every entry.
TEST_F(SideWindowsTest, TheDeliveredWordListIsOneFileThatTheGrammarChoiceFindsAgain) {
  QStringList lists;
  for (const QString& name : QDir(QStringLiteral(QM_SOURCE_DIR) + "/data").entryList(QDir::Files))
    if (name.compare("wordlist.txt", Qt::CaseInsensitive) == 0) lists << name;
  EXPECT_EQ(lists, QStringList{"wordlist.txt"});

  auto* list = Find<QListWidget>("ListBox1");
  auto* group = Find<QGroupBox>("RadioGroup4");
  const int startup = list->count();
  ASSERT_GE(startup, 64);  // the states and the provinces
  const QString last = list->item(startup - 1)->text();
  EXPECT_EQ(last, "YT\tYukon");
  Deliver("WordList2.txt");
  group->findChild<QRadioButton*>("RadioGroup4Item1")->click();
  EXPECT_NE(list->count(), startup);
  group->findChild<QRadioButton*>("RadioGroup4Item0")->click();
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join("|").toStdString();
  ASSERT_EQ(list->count(), startup);
  EXPECT_EQ(list->item(startup - 1)->text(), last);
  EXPECT_EQ(list->findItems("ON\tOntario", Qt::MatchExactly).size(), 1);
}

TEST_F(SideWindowsTest, FontSwitchUsesTheDeliveredFontsFamily) {
  auto* button = Find<QPushButton>("Button39");
  button->click();  // not delivered yet
  ASSERT_EQ(fakes.dialogs->Shown.size(), 1);
  EXPECT_TRUE(fakes.dialogs->Shown[0].contains("monaco.TTF"));

  ASSERT_TRUE(QFile::copy(QStringLiteral(QM_PROGRAM_DIR) + "/monaco.TTF", Home() + "/monaco.TTF"));
  const int id = QFontDatabase::addApplicationFont(Home() + "/monaco.TTF");
  ASSERT_GE(id, 0);
  const QString family = QFontDatabase::applicationFontFamilies(id).value(0);
  QFontDatabase::removeApplicationFont(id);
  EXPECT_FALSE(family.isEmpty());
  button->click();
  for (const char* name : {"Label1", "Label4", "LogEdit3"}) EXPECT_EQ(Find<QWidget>(name)->font().family(), family) << name;
  EXPECT_TRUE(QFontInfo(Find<QWidget>("LogEdit3")->font()).fixedPitch());
}
