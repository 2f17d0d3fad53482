// The ADIF window end to end: the export writes the file beside the chosen logbook (a cancelled
// choice writes nothing, a long name is cut with its message), the import makes one logbook of
// several files beside the first, asks before replacing one, and leaves nothing behind when a
// file is cut short; both run on a worker while the window shows progress and stays usable.
#include <QCheckBox>
#include <QPushButton>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalSpy>

#include "../logbook_core/core_test_util.h"
#include "VRN_ADIF.h"
#include "adif_export.h"
#include "window_fixture.h"

using namespace quillmere_test;

class AdifWindowTest : public TWindowTest {
 protected:
  void SetUp() override {
    Start();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
  }
  template <typename T>
  static T* Child(const char* name) {
    T* w = ADIFform->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::string Path(const QString& name) const { return (Home() + "/" + name).toStdString(); }
  QStringList Files(const QString& pattern) const { return QDir(Home()).entryList({pattern}, QDir::Files); }
  // Runs one conversion through `click` and waits for its end. The click returns at once with the
  // conversion still running: both buttons are disabled until it ends.
  void Convert(void (TADIFform::*click)(), bool expectRun = true) {
    QSignalSpy ended(ADIFform, &TADIFform::ConversionEnded);
    (ADIFform->*click)();
    if (!expectRun) {
      EXPECT_FALSE(ADIFform->Busy());
      return;
    }
    EXPECT_TRUE(ADIFform->Busy());
    EXPECT_FALSE(Child<QPushButton>("BitBtn1")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>("BitBtn2")->isEnabled());
    ASSERT_TRUE(ended.wait(20000));
    EXPECT_TRUE(Child<QPushButton>("BitBtn1")->isEnabled());
  }
};

TEST_F(AdifWindowTest, ExportWritesBesideTheLogbookAndTellsWhatItWrote) {
  core_test::MakeLogbook(Path("field.dbf"),
                         {{{"STATION", "W1AW"}, {"DATE", "20240301"}, {"TIME", "09:05"}, {"FREQ", "14.070"}, {"BAND", "20"},
                           {"MODE", "USB"}},
                          {{"STATION", "K1ABC"}, {"DATE", "20240302"}, {"TIME", "10:00"}, {"FREQ", "432.100"},
                           {"BAND", "70"}, {"MODE", "FM"}}});
  core_test::MakeLogbook(Path("fieldday2024.dbf"), {{{"STATION", "N0XY"}}});
  core_test::WriteFile(Path("junk.dbf"), "not a table at all");
  QSignalSpy progress(Child<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged);

  // A cancelled choice writes nothing and says nothing.
  fakes.files->Answers.push_back(std::nullopt);
  Convert(&TADIFform::BitBtn1Click, false);
  EXPECT_TRUE(Files("*.adi").isEmpty());
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
  EXPECT_EQ(fakes.files->Requests.value(0), "Open QMR File to Convert | " + Home() + " | VINT LogBook File (*.DBF *.dbf)");

  fakes.files->Answers.push_back(QString::fromStdString(Path("field.dbf")));
  Convert(&TADIFform::BitBtn1Click);
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Message: field.dbf was converted to ADIF as field.adi"});
  const std::string adif = core_test::ReadFile(Path("field.adi"));
  std::string header;
  for (const std::string& line : quillmere::AdifHeaderLines()) header += line + "\r\n";
  EXPECT_EQ(adif.substr(0, header.size()), header);
  EXPECT_NE(adif.find("<QSO_DATE:8>20240301<TIME_ON:4>0905<CALL:4>W1AW"), std::string::npos);
  EXPECT_NE(adif.find("<MODE:3>SSB<SUBMODE:3>USB"), std::string::npos);
  EXPECT_NE(adif.find("<BAND:4>70CM"), std::string::npos);
  EXPECT_EQ(adif.substr(adif.size() - 7), "<EOR>\r\n");
  EXPECT_TRUE(progress.contains(QList<QVariant>{1000}));  // the whole table, before the bar went back to 0
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->value(), 0);

  // A name longer than 8 characters is cut, with its message first; checked: ".txt". The contact
  // has no date, time or mode, and the operator is told other programs will refuse it.
  fakes.dialogs->Shown.clear();
  Child<QCheckBox>("CheckBox1")->setChecked(true);
  fakes.files->Answers.push_back(QString::fromStdString(Path("fieldday2024.dbf")));
  Convert(&TADIFform::BitBtn1Click);
  EXPECT_EQ(fakes.dialogs->Shown,
            (QStringList{"Message: File name truncated. QMR file names limited to 8 characters.",
                         "Message: fieldday2024.dbf was converted to ADIF as fieldday.txt",
                         "Message: " + QString::fromStdString(quillmere::AdifIncompleteNote(1))}));
  EXPECT_TRUE(QFile::exists(Home() + "/fieldday.txt"));

  // A table that cannot be read is reported and leaves no file.
  fakes.dialogs->Shown.clear();
  Child<QCheckBox>("CheckBox1")->setChecked(false);
  fakes.files->Answers.push_back(QString::fromStdString(Path("junk.dbf")));
  Convert(&TADIFform::BitBtn1Click);
  ASSERT_EQ(fakes.dialogs->Shown.size(), 1);
  EXPECT_TRUE(fakes.dialogs->Shown[0].startsWith("Error: ")) << fakes.dialogs->Shown[0].toStdString();
  EXPECT_EQ(Files("junk*"), QStringList{"junk.dbf"});
}

TEST_F(AdifWindowTest, ImportMakesOneLogbookOfTheChosenFilesAndAsksBeforeReplacing) {
  core_test::WriteFile(Path("contest.adi"),
                       "Made by hand\r\n<ADIF_VER:5>3.1.0\r\n<eoh>\r\n"
                       "<call:4>W1AW<qso_date:8>20240301<time_on:4>1200<band:3>20m<eor>\r\n"
                       "<CALL:5>K1ABC <QSO_DATE:8:D>20240302\r\n<TIME_ON:6>130512<BAND:3>40M<EOR>\r\n"
                       "<Call:4>N0XY<Name:3>Zoe<EoR>\r\n");
  core_test::WriteFile(Path("more.adi"), "<CALL:4>AA1A<EOR><CALL:4>BB2B<EOR>\n<CALL:4>CC3C<EOR><CALL:4>DD4D<EOR>\n");
  core_test::WriteFile(Path("cut.adi"), "<CALL:4>W1AW<EOR><CALL:4>K1");
  core_test::WriteFile(Path("broken.adi"), "Log\r\n<EOH>\r\n<call:4>w1aw<eor>\r\n<call:4>k1ab<name:three>bob<eor>\r\n");

  // Cancelled: nothing.
  fakes.files->Answers.push_back(std::nullopt);
  Convert(&TADIFform::BitBtn2Click, false);

  fakes.files->Answers.push_back(Home() + "/contest.adi\n" + Home() + "/more.adi");
  Convert(&TADIFform::BitBtn2Click);
  EXPECT_EQ(fakes.files->Requests.value(1),
            "Open files Select ADI File | " + Home() +
                " | ADI files (*.adi *.ADI);;Text files (*.txt *.TXT);;All files (*)");
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join('|').toStdString();
  std::vector<core_test::Contact> rows = core_test::ReadContacts(Path("contest.dbf"));
  ASSERT_EQ(rows.size(), 7u);
  const char* calls[] = {"W1AW", "K1ABC", "N0XY", "AA1A", "BB2B", "CC3C", "DD4D"};
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i]["STATION"], calls[i]) << i;
  EXPECT_EQ(rows[0]["DATE"], "20240301");
  EXPECT_EQ(rows[1]["TIME"], "13:05");
  EXPECT_EQ(rows[2]["SPARE1"], "ZOE");
  EXPECT_TRUE(QFile::exists(Home() + "/CONTEST.cdx"));
  EXPECT_EQ(Child<QLabel>("Label6")->text(), "0");
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->format(), "7 contacts imported into contest.dbf");

  // The logbook exists: Cancel keeps it whole, OK replaces it.
  fakes.dialogs->YesNoAnswers = {false};
  fakes.files->Answers.push_back(Home() + "/contest.adi");
  Convert(&TADIFform::BitBtn2Click);
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Warning Confirm: Table exists.  Do you want to overwrite?"});
  EXPECT_EQ(core_test::ReadContacts(Path("contest.dbf")).size(), 7u);
  fakes.dialogs->YesNoAnswers = {true};
  fakes.files->Answers.push_back(Home() + "/contest.adi");
  Convert(&TADIFform::BitBtn2Click);
  EXPECT_EQ(core_test::ReadContacts(Path("contest.dbf")).size(), 3u);

  // A file cut short: its complete records are imported, and what was left out is told.
  fakes.dialogs->Shown.clear();
  fakes.files->Answers.push_back(Home() + "/cut.adi");
  Convert(&TADIFform::BitBtn2Click);
  EXPECT_EQ(fakes.dialogs->Shown,
            QStringList{"Message: The text after the last <EOR> of cut.adi was left out: no <EOR> ends it. It begins "
                        "on line 1 with \"<CALL:4>K1\"."});
  EXPECT_EQ(core_test::ReadContacts(Path("cut.dbf")).size(), 1u);
  EXPECT_TRUE(Child<QPlainTextEdit>("RichEdit1")->toPlainText().isEmpty());  // reset after the import

  // A broken tag is refused by record and field, nothing is made of the file, and its text stays
  // in view, upper-cased, one line per line.
  fakes.dialogs->Shown.clear();
  fakes.files->Answers.push_back(Home() + "/broken.adi");
  Convert(&TADIFform::BitBtn2Click);
  EXPECT_EQ(fakes.dialogs->Shown,
            QStringList{"Error: Cannot read the ADIF file broken.adi: record 2, field NAME: the length \"three\" is "
                        "not a number."});
  EXPECT_EQ(Files("broken.*"), QStringList{"broken.adi"});
  EXPECT_EQ(Child<QPlainTextEdit>("RichEdit1")->toPlainText(), "<CALL:4>W1AW<EOR>\n<CALL:4>K1AB<NAME:THREE>BOB<EOR>\n");
  EXPECT_EQ(Files("*.dbf"), (QStringList{"contest.dbf", "cut.dbf"}));
}

TEST_F(AdifWindowTest, MenuClosesTheWindowAndHelpTellsTheNameRule) {
  ADIFform->show();
  ADIFform->findChild<QAction*>("Help2")->trigger();
  EXPECT_EQ(fakes.dialogs->Shown,
            QStringList{"Message: ADIF file name must be 8 characters or less in length.  If not, the converted "
                        "QMR file name will be truncated."});
  ADIFform->findChild<QAction*>("Exit1")->trigger();
  EXPECT_FALSE(ADIFform->isVisible());
}
