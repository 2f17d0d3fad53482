// The "Set" page: Configure's checks and what it applies, the "Current Preferences" labels, the
// default-logbook choice, and the eleven lines the close writes from the page's controls.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "RAC.h"
#include "radio_group.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

const std::string kFile =
    "w1aw\r\nFN31\r\n41.7\r\n-72.7\r\n-5\r\nAUTODXNO\r\nmylog.dbf\r\n0\r\nAUTOSPEECHYES\r\nE:/\r\nPOWER1500W\r\n";

}  // namespace

class SetPageTest : public TWindowTest {
 protected:
  void SetUp() override {
    WriteFile("ConfigLog.cfg", kFile);
    Start();
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
  }
  void Configure(const char* lat, const char* lon) {
    Find<QLineEdit>("Edit13")->setText(lat);
    Find<QLineEdit>("Edit14")->setText(lon);
    Find<QPushButton>("BitBtn4")->click();
    ASSERT_TRUE(Settle());
  }
};

TEST_F(SetPageTest, PreferencesFillThePage) {
  const std::pair<const char*, const char*> labels[] = {
      {"Label11", "w1aw"},      {"Label12", "FN31"},          {"Label13", "41.7"},       {"Label14", "-72.7"},
      {"Label16", "-5"},        {"Label17", "AUTODXNO"},      {"Label32", "mylog.dbf"}, {"Label52", "AUTOSPEECHYES"},
      {"Label53", "POWER1500W"}, {"Label48", "Band Limit: EXTRA Class"}, {"Label57", "mylog.dbf"}};
  for (const auto& [name, text] : labels) EXPECT_EQ(Find<QLabel>(name)->text(), text) << name;
  EXPECT_EQ(Find<QLineEdit>("Edit12")->text(), "w1aw");
  EXPECT_EQ(Find<QLineEdit>("Edit18")->text(), "1500");  // cut to four characters
  EXPECT_EQ(Find<QSpinBox>("SpinEdit1")->value(), -5);
  EXPECT_EQ(Find<QComboBox>("DriveBox")->currentText(), "E:/");
  EXPECT_FALSE(Find<QCheckBox>("CheckBox1")->isChecked());
  EXPECT_TRUE(Find<QGroupBox>("Panel4")->isHidden());
  Find<QPushButton>("Button3")->click();
  EXPECT_FALSE(Find<QGroupBox>("Panel4")->isHidden());
  Find<QPushButton>("BitBtn5")->click();
  EXPECT_TRUE(Find<QGroupBox>("Panel4")->isHidden());
}

TEST_F(SetPageTest, ConfigureRefusesBadPositionsSpokenOrShown) {
  struct Case {
    const char *lat, *lon;
    bool speech;
    QString expected;  // what was said or shown
  } cases[] = {
      {"90.01", "0", true, "Cannot save.  Latitude must be in range -90.0 to 90.0  ."},
      {"45N", "0", true, "Cannot save.  Latitude must be non-alphanumeric and must be in range -90.0 to 90.0  . "},
      {"", "0", false, "Message: Cannot save.  Latitude must be non-alphanumeric and must be in range -90.0 to 90.0  . "},
      {"45", "200", false, "Message: Cannot save.  Longitude must be in range -180.0 to 180.0  ."},
      {"1.2.3", "0", true, "Error: '1.2.3' is not a valid floating point value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lat);
    if (c.speech != Form().SpeechOn()) (c.speech ? Form().Start1Click() : Form().Stop1Click());
    ASSERT_TRUE(Settle());
    fakes.voice->Clear();
    fakes.dialogs->Shown.clear();
    Find<QLineEdit>("Edit12")->setText("k1abc");
    Configure(c.lat, c.lon);
    if (c.expected.startsWith("Message: ") || c.expected.startsWith("Error: ")) {
      EXPECT_EQ(fakes.dialogs->Shown, QStringList{c.expected});
      EXPECT_TRUE(fakes.voice->Spoken().empty());
    } else {
      EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{c.expected.toStdString()});
      EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
    }
    // Nothing was applied.
    EXPECT_EQ(Find<QLabel>("Label11")->text(), "w1aw");
    EXPECT_EQ(Form().Prefs()[plOwnCall], "w1aw");
  }
}

TEST_F(SetPageTest, ConfigureAppliesAndTheCloseWritesElevenLines) {
  Find<QLineEdit>("Edit12")->setText("k1abc");
  Find<QLineEdit>("Edit17")->setText("FN42");
  Find<QSpinBox>("SpinEdit1")->setValue(3);
  Find<QCheckBox>("CheckBox1")->setChecked(true);  // "Auto DX Yes"
  SetRadioGroupIndex(Find<QGroupBox>("RadioGroup2"), 2);
  Configure("-90", "180");
  EXPECT_EQ(Find<QLabel>("Label11")->text(), "K1ABC");
  EXPECT_EQ(Find<QLabel>("Label13")->text(), "-90");
  EXPECT_EQ(Find<QLabel>("Label16")->text(), "3");
  EXPECT_EQ(Find<QLabel>("Label17")->text(), "AUTODXYES");
  EXPECT_EQ(Find<QLabel>("Label48")->text(), "Band Limits: GENERAL Class");
  EXPECT_DOUBLE_EQ(Form().UtcOffset(), 3 / 24.0);
  EXPECT_TRUE(fakes.voice->Spoken().empty());

  // Controls read at close need no Configure; line 6 follows the main window's box, not "Auto DX Yes".
  Find<QCheckBox>("CheckBox2")->setChecked(false);
  Find<QCheckBox>("CheckBox10")->click();  // speech on load off
  // The call-book drive: a folder typed in, which the call-book window follows.
  auto* drive = Find<QComboBox>("DriveBox");
  EXPECT_TRUE(drive->isEditable());
  drive->setEditText("/mnt/call book/");
  EXPECT_EQ(RAC->findChild<QComboBox*>("ComboBox1")->currentText(), "/mnt/call book/");
  Find<QLineEdit>("Edit18")->setText("  50 ");
  CloseAndDestroy();
  EXPECT_EQ(ReadFile("ConfigLog.cfg"),
            "K1ABC\r\nFN42\r\n-90\r\n180\r\n3\r\nAUTODXNO\r\nmylog.dbf\r\n2\r\nAUTOSPEECHNO\r\n/mnt/call book/\r\nPOWER50\r\n");
}

TEST_F(SetPageTest, DefaultLogbookIsChosenByFileName) {
  fakes.files->Answers = {Home() + "/sub/Field Day.dbf", std::nullopt};
  Find<QPushButton>("Button40")->click();
  EXPECT_EQ(Find<QLabel>("Label57")->text(), "Field Day.dbf");
  Find<QPushButton>("Button40")->click();  // cancelled: unchanged
  EXPECT_EQ(Find<QLabel>("Label57")->text(), "Field Day.dbf");
  EXPECT_EQ(fakes.files->Requests.front(), "Open Select Default LogBook | " + Home() + " | QMR logbook (*.dbf)");
  Configure("41.7", "-72.7");
  EXPECT_EQ(Find<QLabel>("Label32")->text(), "Field Day.dbf");
}
