// The band-limits window over the main window's frequency and mode labels: a ".bdl" file of the
// licence class read at start-up, phone and CW segments deciding red or normal, AM and FM leaving
// the label alone, the warning sound on every check outside, "OFF" keeping the rig reports from
// checking, and a missing file switching the check off with one message.
#include <QGroupBox>
#include <QLabel>
#include <QTableWidget>

#include "licenseA.h"
#include "radio_group.h"
#include "window_fixture.h"

using namespace quillmere_test;

namespace {

std::string Preferences(int licenceClass, bool speech) {
  return "W1AW\r\nFN31\r\n41.7\r\n-72.7\r\n0\r\nAUTODXNO\r\n\r\n" + std::to_string(licenceClass) + "\r\n" +
         (speech ? "AUTOSPEECHYES" : "AUTOSPEECHNO") + "\r\nD:/\r\nPOWER100\r\n";
}

// Thirteen bands; band 5 has phone 14.150-14.35 and CW 14.000-14.150, band 4 CW only.
std::string LimitsFile() {
  const int phoneLow[13] = {180, 360, 713, 0, 1415, 1811, 2120, 2493, 2830, 5010, 14410, 42000, 124000};
  const int phoneHigh[13] = {199, 399, 729, 0, 1435, 1815, 2144, 2498, 2969, 5399, 14799, 44999, 129999};
  const int cwLow[13] = {180, 350, 700, 1010, 1400, 1806, 2100, 2489, 2800, 5000, 14400, 42000, 124000};
  const int cwHigh[13] = {199, 399, 729, 1015, 1415, 1816, 2145, 2499, 2969, 5399, 14799, 44999, 129999};
  std::string text = "5\r\n14\r\nBand\r\n";
  for (int band = 1; band <= 13; ++band) text += "B" + std::to_string(band) + "\r\n";
  for (const int* column : {phoneLow, phoneHigh, cwLow, cwHigh}) {
    text += "Limit\r\n";
    for (int band = 0; band < 13; ++band) text += std::to_string(column[band]) + "\r\n";
  }
  return text;
}

}  // namespace

class BandLimitsWindowTest : public TWindowTest {
 protected:
  void StartWith(int licenceClass, bool speech, bool withFile = true) {
    WriteFile("ConfigLog.cfg", Preferences(licenceClass, speech));
    if (withFile) {
      WriteFile("Extra Class.bdl", LimitsFile());
    } else {
      QFile::remove(Home() + "/Extra Class.bdl");
    }
    Start();
    ASSERT_TRUE(Settle());
  }
  enum Colour { Normal, Red, Unset };
  Colour LabelColour() {
    auto* label = Find<QLabel>("Label4");
    if (!label->autoFillBackground()) return Unset;
    const QColor c = label->palette().color(QPalette::Window);
    if (c == QColor(Qt::red)) return Red;
    return c == label->palette().color(QPalette::ToolTipBase) ? Normal : Unset;
  }
  void Check(const char* frequency, const char* mode, bool fromRigReport = false) {
    Find<QLabel>("Label4")->setText(frequency);
    Find<QLabel>("Label5")->setText(mode);
    if (fromRigReport) {
      Form().CheckBandLimits();
    } else {
      Find<QPushButton>("Button22")->click();
    }
    ASSERT_TRUE(Settle());
  }
};

TEST_F(BandLimitsWindowTest, SegmentsOfTheModeDecideAndTheSoundPlaysOnEveryCheckOutside) {
  StartWith(0, true);
  EXPECT_EQ(Constants->findChild<QTableWidget*>("StringGrid1")->item(5, 1)->text(), "1415");
  struct Case {
    const char *frequency, *mode;
    Colour colour;
    size_t sounds;  // played so far
  };
  const Case cases[] = {
      {"14.150", "USB", Normal, 0},   // the lower bound is inside
      {"14.3509", "USB", Normal, 0},  // 1435: the upper bound is inside
      {"14.36", "USB", Red, 1},
      {"14.37", "LSB", Red, 2},       // still outside: the operator hears it again
      {"14.36", "AM", Red, 2},        // AM and FM leave the label as it is, silently
      {"14.20", "FM", Red, 2},
      {"14.20", "LSB", Normal, 2},
      {"14.025", "USB", Red, 3},      // a CW frequency is outside in phone ...
      {"14.025", "CW", Normal, 3},    // ... and inside in CW
      {"10.120", "CW", Normal, 3},    // a band with CW segments only
      {"10.120", "USB", Red, 4},
      {"fourteen", "USB", Red, 4},    // no number: nothing changes
      {"10.1100", "CW", Normal, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.frequency) + " " + c.mode);
    Check(c.frequency, c.mode);
    EXPECT_EQ(LabelColour(), c.colour);
    EXPECT_EQ(fakes.sound->Played.size(), c.sounds);
  }
  ASSERT_FALSE(fakes.sound->Played.empty());
  EXPECT_EQ(fakes.sound->Played.front(), (Home() + "/ding.wav").toStdString());
  EXPECT_TRUE(fakes.dialogs->Shown.isEmpty());
}

TEST_F(BandLimitsWindowTest, ClassOffKeepsTheRigReportsFromChecking) {
  StartWith(7, true);
  Check("14.36", "USB", true);
  EXPECT_EQ(LabelColour(), Unset);
  EXPECT_TRUE(fakes.sound->Played.empty());
  // The file was loaded all the same: the hidden button checks.
  Check("14.36", "USB");
  EXPECT_EQ(LabelColour(), Red);
  // Another class chosen later lets the reports check, with the limits loaded at start-up.
  SetRadioGroupIndex(Find<QGroupBox>("RadioGroup2"), 2);
  Check("14.20", "USB", true);
  EXPECT_EQ(LabelColour(), Normal);
}

TEST_F(BandLimitsWindowTest, MissingFileSwitchesTheCheckOffWithOneMessage) {
  StartWith(0, false, false);
  for (const char* frequency : {"14.36", "3.5", "14.20"}) {
    Check(frequency, "USB", true);
    Check(frequency, "CW");
  }
  EXPECT_EQ(LabelColour(), Unset);
  EXPECT_TRUE(fakes.sound->Played.empty());
  ASSERT_EQ(fakes.dialogs->Shown.size(), 1) << fakes.dialogs->Shown.join("|").toStdString();
  EXPECT_EQ(fakes.dialogs->Shown[0],
            "Message: Band limits are not checked: \"" + Home() + "/Extra Class.bdl\" was not found.");
}
