// ADIF export: the band and mode names other programs accept, the exact bytes of an exported
// file, and the file left alone when an export fails.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "adif_export.h"
#include "band_tables.h"
#include "contact_entry.h"
#include "core_test_util.h"
#include "side_window_texts.h"
#include "tarvane_enums.h"

namespace {

using namespace quillmere;
using core_test::Contact;

TEST(AdifBand, RuleTable) {
  struct Case {
    const char* freq;
    const char* band;
    const char* expected;
  };
  const Case cases[] = {
      {"14.070", "20", "20M"},    {"14.000", "20", "20M"},  // a bound belongs to no band
      {"14.35", "99", ""},        {"432.100", "70", "70CM"}, {"1296.0", "23", "23CM"},
      {"1.85", "", "160M"},       {"3.6", "", "80M"},        {"7.0001", "", "40M"},
      {"10.12", "", "30M"},       {"10.15", "30", "30M"},    {"18.1", "", "17M"},
      {"21.2", "", "15M"},        {"24.9", "", "12M"},       {"28.5", "", "10M"},
      {"52", "", "6M"},           {"146.52", "", "2M"},      {" 14.2 ", "", "20M"},
      {"99.9", "0", ""},          {"", "40", "40M"},         {"7,150", "40", "40M"},
      {"abc", "160", "160M"},     {"", "20M", "20M"},        {"", "70cm", "70CM"},
      {"", "", ""},               {"nan", "15", "15M"},      {"5.3", "60", "60M"},
      {"", "1.25", "1.25M"},      {"", "33", ""},            {"", "20.5", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AdifBandText(c.freq, c.band), c.expected) << "FREQ '" << c.freq << "' BAND '" << c.band << "'";

  // Every row of the logbook's band table, by its BAND number alone, is a band of the format.
  const std::set<std::string> adifBands = {"2190M", "630M", "560M", "160M", "80M", "60M", "40M", "30M", "20M",
                                           "17M", "15M", "12M", "10M", "8M", "6M", "5M", "4M", "2M", "1.25M",
                                           "70CM", "33CM", "23CM", "13CM", "9CM", "6CM", "3CM", "1.25CM"};
  const std::map<std::string, double> rows = {{"160", 1.9}, {"80", 3.7}, {"40", 7.1},   {"30", 10.12},
                                              {"20", 14.2}, {"17", 18.1}, {"15", 21.2}, {"12", 24.93},
                                              {"10", 28.5}, {"6", 50.1},  {"2", 144.2}, {"70", 432.1},
                                              {"23", 1296.1}};
  for (const auto& [number, mhz] : rows) {
    ASSERT_EQ(BandAtStart(mhz).value_or(""), number);  // the row is the logbook's own
    const std::string name = AdifBandText("", number);
    EXPECT_EQ(adifBands.count(name), 1u) << number << " gives " << name;
    EXPECT_EQ(AdifBandText(std::to_string(mhz), "0"), name) << "the frequency's band for " << number;
  }
}

TEST(AdifMode, EveryModeTheLogbookLogsIsAnAdifModeWithItsSubmode) {
  // The modes and submodes of the format that the logbook can come to write.
  const std::map<std::string, std::set<std::string>> adif = {
      {"CW", {"PCW"}}, {"SSB", {"USB", "LSB"}}, {"AM", {}}, {"FM", {}}, {"RTTY", {"ASCI"}},
      {"PSK", {"PSK31", "PSK63", "BPSK31", "QPSK31"}}, {"FT8", {}}, {"MFSK", {"FT4", "JS8"}}};
  // What the rig's modes show, the manual mode list (ModeCB), and SSB logged as PSK.
  std::set<std::string> logged = {"CW", "USB", "LSB", "FM", "AM", "PSK", "RTTY", "CW-R"};
  for (int32_t bit : {tarvane::PM_CW_U, tarvane::PM_CW_L, tarvane::PM_SSB_U, tarvane::PM_SSB_L, tarvane::PM_DIG_U,
                      tarvane::PM_DIG_L, tarvane::PM_AM, tarvane::PM_FM})
    logged.insert(RigModeText(bit).value());
  logged.insert(LoggedMode("USB", true));
  const std::map<std::string, std::pair<std::string, std::string>> expected = {
      {"CW", {"CW", ""}},   {"CW-R", {"CW", ""}},   {"USB", {"SSB", "USB"}}, {"LSB", {"SSB", "LSB"}},
      {"AM", {"AM", ""}},   {"FM", {"FM", ""}},     {"RTTY", {"RTTY", ""}},  {"RTTY-R", {"RTTY", ""}},
      {"PSK", {"PSK", ""}}};
  ASSERT_EQ(logged.size(), expected.size());
  for (const std::string& mode : logged) {
    SCOPED_TRACE(mode);
    const AdifMode written = AdifModeOf(mode);
    EXPECT_TRUE(written.known);
    EXPECT_EQ(std::make_pair(written.mode, written.submode), expected.at(mode));
    ASSERT_EQ(adif.count(written.mode), 1u);
    if (!written.submode.empty()) {
      EXPECT_EQ(adif.at(written.mode).count(written.submode), 1u);
    }
    // The import gives the logged mode back, but for the reversed shifts the format has no name for.
    const std::string back = LoggedModeOfAdif(written.mode, written.submode);
    EXPECT_EQ(back, mode == "CW-R" ? "CW" : mode == "RTTY-R" ? "RTTY" : mode);
  }
  // A mode of the format is written as such, whatever its case; anything else is written as
  // stored and is not known, nor is an empty mode.
  EXPECT_EQ(AdifModeOf(" ft8").mode, "FT8");
  EXPECT_TRUE(AdifModeOf("Olivia").known);
  for (const char* unknown : {"Other", "", "FT4", "SSTV2"}) {
    EXPECT_FALSE(AdifModeOf(unknown).known) << unknown;
    EXPECT_EQ(AdifModeOf(unknown).mode, unknown);
  }
  EXPECT_EQ(LoggedModeOfAdif("SSB", ""), "SSB");
  EXPECT_EQ(LoggedModeOfAdif("MFSK", "FT4"), "MFSK");
  EXPECT_EQ(LoggedModeOfAdif("ssb", "lsb"), "LSB");
}

class AdifExportTest : public core_test::TempDirTest {};

TEST_F(AdifExportTest, GoldenFile) {
  const std::string logbook = PathOf("fieldday2024.dbf");
  core_test::MakeLogbook(logbook, {
      {{"DATE", "20240315"}, {"TIME", "09:05"}, {"NUMBER", "1"}, {"STATION", "W1AW"},
       {"BAND", "20"}, {"QTH", "Newington"}, {"RST", "599"}, {"NRSENT", "59"}, {"NRRCVD", "57"},
       {"SPARE1", "Hiram"}, {"MODE", "CW"}, {"PREFIX", "W1"}, {"STATE", "CT"}, {"CQZONE", "5"},
       {"ITUZONE", "8"}, {"TENTEN", "12345"}, {"QSLS", "Y"}, {"QSLR", "N"}, {"CITY", "Hartford"},
       {"REMARK", "first <one>"}, {"FREQ", "14.070"}, {"COUNTY", "Hartford"},
       {"CONTEST", "ARRL-FD"}, {"OPERATR", "N0CALL"}, {"TXPWR", "100"}, {"GRIDSQR", "FN31pr"}},
      {{"DATE", "20240316"}, {"TIME", "10:00"}, {"NUMBER", "2"}, {"STATION", "DELETED"}},
      {{"TIME", ""}, {"NUMBER", "3"}, {"BAND", "70"}, {"QTH", "  Z\xFCrich  "},
       {"SPARE1", "O'Neil"}, {"FREQ", "432.100"}, {"MODE", "FM"}},
      {{"DATE", "19991231"}, {"TIME", "23:59"}, {"NUMBER", "4"}, {"STATION", "DL1ABC"},
       {"BAND", "40"}, {"MODE", "LSB"}, {"NRSENT", "5NN"}, {"NRRCVD", "599"}, {"CQZONE", "0"}},
      {{"DATE", "20240101"}, {"TIME", "00:00"}, {"NUMBER", "5"}, {"STATION", "K1X"},
       {"BAND", "0"}, {"FREQ", "99.9"}, {"TENTEN", "0"}},
  });
  {
    TSorrelDataSet table;
    table.SetTableName(logbook);
    table.Open();
    table.First();
    table.Next();
    table.Delete();
  }
  // An earlier export of the same name is replaced.
  core_test::WriteFile(PathOf("fieldday.adi"), "old export");
  int64_t lastDone = -1;
  const AdifExportResult result =
      ExportLogbookToAdif(logbook, false, [&](int64_t done, int64_t) { lastDone = done; });

  EXPECT_EQ(result.fileName, "fieldday.adi");
  EXPECT_EQ(result.path, PathOf("fieldday.adi"));
  EXPECT_TRUE(result.nameTruncated);
  EXPECT_EQ(result.records, 4);
  EXPECT_EQ(result.incomplete, 2);  // no date, time and call; no mode
  EXPECT_EQ(AdifIncompleteNote(result.incomplete),
            "2 records were written without a field other logging programs require (QSO_DATE, TIME_ON, CALL, "
            "MODE, and BAND or FREQ) or with a mode ADIF does not know; strict programs will refuse them.");
  EXPECT_EQ(AdifIncompleteNote(0), "");
  EXPECT_EQ(lastDone, 4);
  EXPECT_EQ(texts::AdifConverted("fieldday2024.dbf", result.fileName),
            "fieldday2024.dbf was converted to ADIF as fieldday.adi");
  // A blank or 0 TENTEN and a 0 zone are none.
  const std::string empties =
      "<STATE:0><PFX:0><CQZ:0><ITUZ:0><TEN_TEN:0><QSL_SENT:0><QSL_RCVD:0><COMMENT:0><CNTY:0>"
      "<CONTEST_ID:0><GRIDSQUARE:0><IOTA:0><TX_PWR:0><OPERATOR:0>";
  const std::string expected =
      "QMR Version 1.0\r\n"
      "Written by Quillmere, the speaking station logbook\r\n"
      "ADIF_VER:4>1.00\r\n"
      "<EOH>\r\n"
      "<STX:1>1<QSO_DATE:8>20240315<TIME_ON:4>0905<CALL:4>W1AW<RST_SENT:2>59<RST_RCVD:2>57"
      "<FREQ:6>14.070<MODE:2>CW<QTH:9>Newington<NAME:5>Hiram<BAND:3>20M<STATE:2>CT<PFX:2>W1"
      "<CQZ:1>5<ITUZ:1>8<TEN_TEN:5>12345<QSL_SENT:1>Y<QSL_RCVD:1>N<COMMENT:11>first <one>"
      "<CNTY:8>Hartford<CONTEST_ID:7>ARRL-FD<GRIDSQUARE:6>FN31pr<IOTA:0><TX_PWR:3>100"
      "<OPERATOR:6>N0CALL\r\n<EOR>\r\n"
      "<STX:1>3<TIME_ON:0><CALL:0><RST_SENT:0><RST_RCVD:0><FREQ:7>432.100<MODE:2>FM"
      "<QTH:7>Z\xC3\xBCrich<NAME:6>O'Neil<BAND:4>70CM" + empties + "\r\n<EOR>\r\n"
      "<STX:1>4<QSO_DATE:8>19991231<TIME_ON:4>2359<CALL:6>DL1ABC<RST_SENT:3>5NN<RST_RCVD:3>599"
      "<FREQ:0><MODE:3>SSB<SUBMODE:3>LSB<QTH:0><NAME:0><BAND:3>40M" + empties + "\r\n<EOR>\r\n"
      "<STX:1>5<QSO_DATE:8>20240101<TIME_ON:4>0000<CALL:3>K1X<RST_SENT:0><RST_RCVD:0>"
      "<FREQ:4>99.9<MODE:0><QTH:0><NAME:0><BAND:0>" + empties + "\r\n<EOR>\r\n";
  EXPECT_EQ(core_test::ReadFile(result.path), expected);
  EXPECT_EQ(AdifExportFileName("LOG1.DBF", true, nullptr), "LOG1.txt");
  bool cut = true;
  EXPECT_EQ(AdifExportFileName("abcdefgh.dbf", false, &cut), "abcdefgh.adi");
  EXPECT_FALSE(cut);
  EXPECT_EQ(AdifExportFileName("m\xC3\xBCnchen2024.dbf", false, &cut), "m\xC3\xBCnchen2.adi");
  EXPECT_TRUE(cut);
}

TEST_F(AdifExportTest, FailedExportLeavesNoFileBehind) {
  // Not a logbook: refused before anything is written.
  ASSERT_TRUE(CreateLogbookTable(PathOf("notes.dbf"), {"TITLE;C;20;0", "DATE;D;8;0"}, {}));
  core_test::WriteFile(PathOf("notes.adi"), "kept");
  EXPECT_THROW(ExportLogbookToAdif(PathOf("notes.dbf"), false), ELogbookRefused);
  EXPECT_EQ(core_test::ReadFile(PathOf("notes.adi")), "kept");

  // The final rename fails (a folder holds the name): the half-made file is gone.
  core_test::MakeLogbook(PathOf("log1.dbf"), {{{"STATION", "W1AW"}, {"NUMBER", "1"}}});
  std::filesystem::create_directory(PathOf("log1.adi"));
  const auto before = Entries();
  EXPECT_THROW(ExportLogbookToAdif(PathOf("log1.dbf"), false), std::runtime_error);
  EXPECT_EQ(Entries(), before);
}

}  // namespace
