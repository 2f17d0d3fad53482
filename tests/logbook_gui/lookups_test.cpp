// The look-ups that follow a typed call: the DX window's answer to status panel 3, the QTH and the
// entity field; the country file's zones and bearing to panel 4; the prefix to panel 5; the
// call-book window's call box. Then the country-file window's own controls, the call-book window
// through the stand-in library, and the program with no outside library at all.
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <fstream>

#include "CT.h"
#include "DXcaller.h"
#include "RAC.h"
#include "call_book.h"
#include "dx_check.h"
#include "preferences.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

// A control of a side window, by its name.
template <typename T>
T* In(QWidget* window, const char* name) {
  T* w = window->findChild<T*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// Bearing and kilometres in a panel text ("335.3 °. @ 10798 km." or "51.59 °@5422.55 km").
std::pair<double, double> BearingAndKm(const QString& panel) {
  static const QRegularExpression form(QString::fromUtf8("^([0-9.]+) \xC2\xB0(?:\\. )?@ ?([0-9.]+) km\\.?$"));
  const QRegularExpressionMatch m = form.match(panel);
  EXPECT_TRUE(m.hasMatch()) << panel.toStdString();
  return {m.captured(1).toDouble(), m.captured(2).toDouble()};
}

class LookUpTest : public TWindowTest {
 protected:
  void SetUp() override {
    // The outside libraries are looked for in the program folder, where there are none.
    qputenv("QUILLMERE_HOME", Home().toUtf8());
    qunsetenv(kDXCheckLibraryVariable);
    qunsetenv(kCallBookLibraryVariable);
  }
  void TearDown() override {
    qunsetenv("QUILLMERE_HOME");
    qunsetenv(kDXCheckLibraryVariable);
    qunsetenv(kCallBookLibraryVariable);
  }
  void StartAt(const char* lat, const char* lon) {
    Start();
    ASSERT_TRUE(Settle());
    Form().Prefs()[plLatitude] = lat;
    Form().Prefs()[plLongitude] = lon;
    fakes.voice->Clear();
  }
  QString Field(const char* name) { return Form().LogField(name)->text(); }
};

TEST_F(LookUpTest, TypedCallHandsOverToPanelsThreeToFive) {
  StartAt("41.7", "-72.7");
  auto* autoDx = Find<QCheckBox>("CheckBox2");
  autoDx->setChecked(true);
  struct Case {
    const char* call;
    const char* entity;  // panel 3, Edit8, LogEdit8
    const char* prefix;  // panel 5
    const char *cq, *itu;
    double bearing, km;  // a Vincenty geodesic on the same ellipsoid; 0 km: panel 4 empty
  } cases[] = {
      {"ja1abc", "Japan", "JA", "25", "45", 335.29, 10798.1},
      {"3D2CR", "Conway Reef", "3D2/C", "32", "56", 267.16, 13428.8},  // exact call beats 3D2 (Fiji)
      {"W1AW", "United States", "K", "05", "08", 0, 0},               // spelled otherwise in the file
      {"Q1ABC", "", "", "", "", 0, 0},                                // no entity: nothing stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Form().LookUpsForCall(c.call);
    EXPECT_EQ(Form().StatusText(3), c.entity);
    EXPECT_EQ(Field("Edit8"), c.entity);
    EXPECT_EQ(Field("LogEdit8"), c.entity);
    EXPECT_EQ(Form().Prefix(), c.prefix);
    EXPECT_EQ(Form().StatusText(5), c.prefix);
    EXPECT_EQ(In<QLineEdit>(RAC, "Edit2")->text(), QString(c.call).toUpper());
    if (*c.entity == '\0') {
      EXPECT_EQ(Form().StatusText(4), "");
      EXPECT_EQ(Field("Edit10"), "");
      EXPECT_EQ(Field("Edit11"), "");
      continue;
    }
    EXPECT_EQ(Field("Edit10").toInt(), QString(c.cq).toInt());
    EXPECT_EQ(Field("Edit11").toInt(), QString(c.itu).toInt());
    const QString panel4 = Form().StatusText(4);
    EXPECT_EQ(panel4, In<QLabel>(CTConvert, "Label1")->text() + ". @ " + In<QLabel>(CTConvert, "Label3")->text());
    if (c.km > 0) {
      const auto [bearing, km] = BearingAndKm(panel4);
      EXPECT_NEAR(bearing, c.bearing, 0.06);
      EXPECT_NEAR(km, c.km, 1.0);
    }
  }

  // Typed letter by letter, the QTH follows the answer; an answer that does not change leaves a
  // QTH typed since, and the prefix look-up searches what the QTH now says.
  Form().LookUpsForCall("JA");
  EXPECT_EQ(Field("LogEdit8"), "Japan");
  Form().LogField("LogEdit8")->setText("Afghanistan");
  Form().LookUpsForCall("JA1");
  EXPECT_EQ(Field("LogEdit8"), "Afghanistan");
  EXPECT_EQ(Form().StatusText(5), "YA");

  // Unchecked, the DX window is not asked; the prefix and call-book hand-overs still run.
  autoDx->setChecked(false);
  Form().LookUpsForCall("GW4ABC");
  EXPECT_EQ(Form().StatusText(3), "Japan");
  EXPECT_EQ(Field("LogEdit8"), "Afghanistan");
  EXPECT_EQ(In<QLineEdit>(RAC, "Edit2")->text(), "GW4ABC");
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty()) << fakes.dialogs->Shown.join('\n').toStdString();
}

TEST_F(LookUpTest, ConfiguredDXLibraryAnswersInsteadOfTheCountryFile) {
#ifndef QM_STANDIN_DXCHECK
  GTEST_SKIP() << "the stand-in libraries are not built";
#else
  qputenv(kDXCheckLibraryVariable, QM_STANDIN_DXCHECK);
  StartAt("41.7", "-72.7");
  Find<QCheckBox>("CheckBox2")->setChecked(true);
  Form().LookUpsForCall("gw4abc");
  EXPECT_EQ(In<QLineEdit>(DXStuff, "Edit1")->text(), "GW4ABC");
  EXPECT_EQ(Form().StatusText(3), "Wales");
  EXPECT_EQ(Form().StatusText(5), "GW");
  Form().LookUpsForCall("JA1ABC");
  EXPECT_EQ(Form().StatusText(3), "[JA1ABC]");
  EXPECT_EQ(Form().StatusText(5), "");
  EXPECT_EQ(Form().StatusText(4), "");
#endif
}

TEST_F(LookUpTest, CountryWindowControlsAndTexts) {
  StartAt("41.7", "-72.7");
  EXPECT_EQ(CTConvert->windowTitle(), "CTConvert");
  EXPECT_TRUE(CTConvert->isHidden());
  EXPECT_EQ(In<QPushButton>(CTConvert, "Button4")->text(), "Convert CT");
  EXPECT_EQ(In<QPushButton>(CTConvert, "Button1")->text(), "callcalcgeodist");
  // One grid row per kept line; continuation lines with further prefixes never reach either.
  const QStringList memo = In<QPlainTextEdit>(CTConvert, "Memo1")->toPlainText().split('\n');
  EXPECT_GT(memo.size(), 300);
  EXPECT_EQ(In<QTableWidget>(CTConvert, "StringGrid1")->rowCount(), memo.size());
  EXPECT_EQ(In<QTableWidget>(CTConvert, "StringGrid1")->columnCount(), 8);
  EXPECT_TRUE(std::none_of(memo.begin(), memo.end(), [](const QString& l) { return l.startsWith("  "); }));
  EXPECT_EQ(Find<QListWidget>("ListBox2")->count(), 339);
  EXPECT_EQ(Find<QListWidget>("ListBox2")->item(0)->text(), "Afghanistan    YA");

  Form().LogField("Edit8")->setText("Japan");
  EXPECT_EQ(In<QLabel>(CTConvert, "Label6")->text(), "-9.0");  // UTC offset
  EXPECT_EQ(In<QLabel>(CTConvert, "Label7")->text(), "JA");
  EXPECT_TRUE(In<QLabel>(CTConvert, "Label2")->text().endsWith(" deg. from"));
  EXPECT_TRUE(In<QLabel>(CTConvert, "Label3")->text().endsWith(" km."));
  EXPECT_TRUE(In<QLabel>(CTConvert, "Label5")->text().endsWith(" miles"));
  EXPECT_EQ(In<QLineEdit>(CTConvert, "Edit33")->text(), "36.40");
  EXPECT_EQ(In<QLineEdit>(CTConvert, "Edit44")->text(), "138.38");  // the file's west-positive longitude, negated
  EXPECT_EQ(In<QLineEdit>(CTConvert, "Edit9")->text(), "EM13NA");   // the second position, 33.01 N 96.892 W
  EXPECT_EQ(In<QLineEdit>(CTConvert, "Edit10")->text(), "PM96EJ");
  EXPECT_EQ(Field("Edit9"), "JA");

  // Names match exactly, from three characters on; a miss clears the bearing it showed.
  for (const char* miss : {"japan", "Ja", ""}) {
    SCOPED_TRACE(miss);
    Form().LogField("Edit8")->setText("Japan");
    Form().LogField("Edit8")->setText(miss);
    EXPECT_EQ(In<QLabel>(CTConvert, "Label1")->text(), "");
    EXPECT_EQ(Form().StatusText(4), "");
    EXPECT_EQ(Field("Edit10"), "");
  }

  // A home position that is no number ends the look-up with the conversion error, and leaves no
  // earlier entity's prefix or zones in the fields a contact is logged with.
  Form().LogField("Edit8")->setText("Fiji");
  EXPECT_EQ(Field("Edit9"), "3D2");
  Form().Prefs()[plLatitude] = "41,7";
  Form().SetStatusText(4, "kept");
  Form().LogField("Edit8")->setText("Japan");
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Error: '41,7' is not a valid floating point value"});
  EXPECT_EQ(Form().StatusText(4), "kept");
  for (const char* field : {"Edit9", "Edit10", "Edit11"}) EXPECT_EQ(Field(field), "") << field;
}

TEST_F(LookUpTest, MissingCountryFileIsSaidAndNothingIsFound) {
  QFile::remove(Home() + "/cty.dat");
  Start();
  ASSERT_TRUE(Settle());
  const std::vector<std::string>& spoken = fakes.voice->Spoken();
  EXPECT_EQ(std::count(spoken.begin(), spoken.end(),
                       "The country file cty.dat could not be read; countries, zones and bearings are not shown. "),
            1);
  EXPECT_EQ(In<QTableWidget>(CTConvert, "StringGrid1")->rowCount(), 0);
  Find<QCheckBox>("CheckBox2")->setChecked(true);
  Form().LookUpsForCall("JA1ABC");
  EXPECT_EQ(Form().StatusText(3), "DX");  // no answer, so no hand-over: the design text stays
  Form().LogField("Edit8")->setText("Japan");
  EXPECT_EQ(Form().StatusText(4), "");
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
}

class CallBookTest : public LookUpTest {
 protected:
  void WriteRecord(const QString& call, const std::string& bytes) {
    std::ofstream(QDir(data_.path()).filePath(call + ".rec").toStdString(), std::ios::binary) << bytes;
  }
  QTemporaryDir data_;
};

TEST_F(CallBookTest, GetFindAndReadThroughTheStandInLibrary) {
#ifndef QM_STANDIN_CALLBOOK
  GTEST_SKIP() << "the stand-in libraries are not built";
#else
  qputenv(kCallBookLibraryVariable, QM_STANDIN_CALLBOOK);
  WriteFile("ConfigLog.cfg", "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\n0\r\nAUTODXNO\r\n\r\n7\r\nAUTOSPEECHYES\r\nF:/\r\nPOWER5\r\n");
  StartAt("41.7", "-72.7");
  WriteRecord("G3XYZ", std::string("\x01G3XYZ\x02J SMITH\x03x\x04x\x05" "AB12\x06" "LONDON\x07x\x08x\x09x\x0a"
                                   "0.0\x0b" "52.0\x0cx\x0dKENT\x0ex\x0fx\x10UK\x11ONE\x12"));
  EXPECT_TRUE(RAC->Available());
  EXPECT_EQ(In<QPushButton>(RAC, "BitBtn1")->text(), "&Get");
  EXPECT_EQ(In<QPushButton>(RAC, "Button2")->toolTip(), "Read the Callbook Info");
  EXPECT_TRUE(In<QPushButton>(RAC, "Button1")->isHidden());
  EXPECT_EQ(In<QLabel>(RAC, "Label11")->text(), "");  // "ZipCode" at design time, emptied
  // The drive follows the call-book drive of the preferences and of the Set page.
  EXPECT_EQ(In<QComboBox>(RAC, "ComboBox1")->currentText(), "F:/");
  Find<QComboBox>("DriveBox")->setEditText("/media/cdrom1/");
  EXPECT_EQ(In<QComboBox>(RAC, "ComboBox1")->currentText(), "/media/cdrom1/");
  EXPECT_EQ(In<QComboBox>(RAC, "ComboBox1")->itemText(0), "F:/");  // the Set page's items
  In<QComboBox>(RAC, "ComboBox1")->setEditText(data_.path());

  In<QLineEdit>(RAC, "Edit2")->setText("g3xyz");
  EXPECT_EQ(In<QLineEdit>(RAC, "Edit2")->text(), "G3XYZ");
  In<QPushButton>(RAC, "BitBtn1")->click();
  const QStringList shown = {In<QLabel>(RAC, "Label7")->text(),  In<QLabel>(RAC, "Label8")->text(),  In<QLabel>(RAC, "Label10")->text(), In<QLabel>(RAC, "Label11")->text(),
                             In<QLabel>(RAC, "Label12")->text(), In<QLabel>(RAC, "Label13")->text(), In<QLabel>(RAC, "Label14")->text(), In<QLabel>(RAC, "Label15")->text(),
                             In<QLabel>(RAC, "Label2")->text(),  In<QLabel>(RAC, "Label3")->text(),  In<QLabel>(RAC, "Label4")->text()};
  EXPECT_EQ(shown, (QStringList{"G3XYZ", "J SMITH", "LONDON", "AB12", "KENT County", "UKONE", "0.0 Lon.", "52.0 Lat.",
                                "OK", "Version : 412", "DatabaseFormat: ok."}));
  In<QPushButton>(RAC, "Button2")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(),
            (std::vector<std::string>{"Station  G3XYZ     is at   J SMITH  ", "LONDON."}));

  // A call not in the data: the library's code, and " Lon." / " Lat." with no numbers.
  In<QLineEdit>(RAC, "Edit2")->setText("K9ZZZ");
  In<QPushButton>(RAC, "BitBtn1")->click();
  EXPECT_EQ(In<QLabel>(RAC, "Label1")->text(), "ErrorCode: 5 Cannot load/find information. ");
  EXPECT_EQ(In<QLabel>(RAC, "Label14")->text(), " Lon.");
  EXPECT_EQ(In<QLabel>(RAC, "Label7")->text(), "");

  // A call longer than the library takes is refused before the call: heard, or shown.
  fakes.voice->Clear();
  In<QLineEdit>(RAC, "Edit2")->setText("VE3ABCD");
  In<QPushButton>(RAC, "BitBtn1")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"call sign too long for the call book. "});
  Form().Stop1Click();
  ASSERT_TRUE(Settle());
  fakes.voice->Clear();
  In<QPushButton>(RAC, "BitBtn1")->click();
  In<QPushButton>(RAC, "Button2")->click();  // read-out only while speech is on
  ASSERT_TRUE(Settle());
  EXPECT_EQ(fakes.dialogs->Shown, QStringList{"Message: Call sign too long for the call book: at most 6 characters."});
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{});

  // The main window's look-up: hidden "Find", then the bearing to the station into panel 4.
  Find<QAction>("RadioAmateurCallBook1")->trigger();
  Form().LogField("LogEdit3")->setText("G3XYZ");
  Find<QPushButton>("BitBtn6")->click();
  EXPECT_TRUE(RAC->isVisible());
  EXPECT_EQ(In<QLabel>(RAC, "Label14")->text(), "0.0");
  const auto [bearing, km] = BearingAndKm(Form().StatusText(4));
  EXPECT_NEAR(bearing, 51.59, 0.01);
  EXPECT_NEAR(km, 5422.55, 0.05);
  // No position found: the bearing cannot be given.
  Form().LogField("LogEdit3")->setText("K9ZZZ");
  Find<QPushButton>("BitBtn6")->click();
  EXPECT_EQ(Form().StatusText(4), "Cannot determine.");
  In<QPushButton>(RAC, "Button3")->click();
  EXPECT_FALSE(RAC->isVisible());
#endif
}

TEST_F(CallBookTest, ProgramStartsAndWorksWithNoOutsideLibrary) {
  StartAt("41.7", "-72.7");
  EXPECT_FALSE(RAC->Available());
  // The DX look-up answers from the country file.
  Find<QCheckBox>("CheckBox2")->setChecked(true);
  Form().LookUpsForCall("JA1ABC");
  EXPECT_EQ(Form().StatusText(3), "Japan");
  // The call book says so, in its status and aloud.
  In<QPushButton>(RAC, "BitBtn1")->click();
  ASSERT_TRUE(Settle());
  EXPECT_EQ(In<QLabel>(RAC, "Label1")->text(), "call book not available");
  EXPECT_EQ(fakes.voice->Spoken(), std::vector<std::string>{"call book not available. "});
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
}

}  // namespace
