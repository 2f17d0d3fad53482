// Band limits: the check against a table, the warning on every check outside, a table that cannot
// be loaded, and the delivered band-limits files (against the licence rules) and sound.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <tuple>
#include <utility>

#include "band_limits.h"
#include "core_test_util.h"

namespace {

using namespace quillmere;
using V = BandVerdict;

class BandLimitsTest : public core_test::TempDirTest {
 protected:
  // A .bdl file whose band `band` (1..13) has the given limits and every other band "0".
  std::string LimitsFile(int band, const std::vector<std::string>& limits, int columns = 5) {
    GridCells cells(static_cast<size_t>(columns), std::vector<std::string>(14, "0"));
    cells[0][0] = "Band";
    for (int c = 1; c <= 4; ++c) cells[static_cast<size_t>(c)][static_cast<size_t>(band)] = limits[static_cast<size_t>(c - 1)];
    const std::string path = PathOf("limits.bdl");
    core_test::WriteFile(path, FormatColumnGridFile(cells));
    return path;
  }
};

TEST_F(BandLimitsTest, PhoneAndCwSegmentsDecideRedOrNormalAndOtherModesChangeNothing) {
  BandLimits limits;
  limits.FormCreate(LimitsFile(5, {"1415", "1435", "1400", "1414"}));
  ASSERT_TRUE(limits.Enabled());
  EXPECT_EQ(limits.TakeNotice(), std::nullopt);
  const std::vector<std::tuple<std::string, std::string, V>> cases = {
      {"14.150", "USB", V::Inside},   {"14.3509", "USB", V::Inside},  // 1435.09 truncates to 1435
      {"14.36", "USB", V::Outside},   {"14.36", "AM", V::Unchanged},   {"1.9", "FM", V::Unchanged},
      {"14.1499", "LSB", V::Outside}, {"14.05", "USB", V::Outside},    {"14.05", "CW", V::Inside},
      {"14.15", "CW", V::Outside},    {"14.2", "RTTY", V::Unchanged},  {"14.2", "usb", V::Unchanged},
      {"abc", "USB", V::Unchanged},   {"", "CW", V::Unchanged},        {"14.20000", "USB", V::Inside},
  };
  for (const auto& [frequency, mode, verdict] : cases)
    EXPECT_EQ(limits.Check(frequency, mode).verdict, verdict) << frequency << " " << mode;

  // The sound on every check without a hit, also while the display stays red (an operator who
  // cannot see the label hears each report outside); the flag follows every verdict.
  BandLimits fresh;
  fresh.FormCreate(LimitsFile(5, {"1415", "1435", "1400", "1414"}));
  const std::vector<std::tuple<std::string, std::string, V, bool, int>> reports = {
      {"14.20", "USB", V::Inside, false, 0},   {"14.40", "USB", V::Outside, true, 1},
      {"14.41", "USB", V::Outside, true, 1},   {"14.42", "AM", V::Unchanged, false, 1},
      {"14.43", "USB", V::Outside, true, 1},   {"14.05", "LSB", V::Outside, true, 1},
      {"14.05", "CW", V::Inside, false, 0},    {"14.05", "USB", V::Outside, true, 1},
      {"14.44", "CW", V::Outside, true, 1},
  };
  for (const auto& [frequency, mode, verdict, sound, flag] : reports) {
    const BandCheck check = fresh.Check(frequency, mode);
    EXPECT_EQ(check.verdict, verdict) << frequency << " " << mode;
    EXPECT_EQ(check.playSound, sound) << frequency << " " << mode;
    EXPECT_EQ(fresh.OutOfBand(), flag) << frequency << " " << mode;
    EXPECT_EQ(check.notice, std::nullopt);
  }
}

TEST_F(BandLimitsTest, ATableThatCannotBeLoadedSwitchesTheCheckOffAndSaysSoOnce) {
  struct Case {
    std::string name, bytes, reason;
  };
  const std::string good = core_test::ReadFile(LimitsFile(5, {"1415", "1435", "1400", "1414"}));
  std::string badCell = good;
  badCell.replace(badCell.find("1400"), 4, "14OO");
  std::string pointCell = good;
  pointCell.replace(pointCell.find("1435"), 4, "14.3");
  const std::vector<Case> cases = {
      {"missing", "", "was not found"},
      {"bad cell", badCell, "line 50 (band 5, column 3) holds '14OO'"},
      {"point", pointCell, "'14.3'"},
      {"four columns", "4\r\n14\r\n", "has 4 columns where at least 5"},
      {"truncated", good.substr(0, good.size() - 10), "ends at line"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = PathOf(c.name + ".bdl");
    if (!c.bytes.empty()) core_test::WriteFile(path, c.bytes);
    BandLimits limits;
    limits.FormCreate(path);
    EXPECT_FALSE(limits.Enabled());
    EXPECT_TRUE(limits.Grid().empty());  // nothing half read
    int notices = 0;
    for (const char* frequency : {"14.2", "99.9", "14.05", "0.5"}) {
      const BandCheck check = limits.Check(frequency, "USB");
      EXPECT_EQ(check.verdict, V::Unchanged);
      EXPECT_FALSE(check.playSound);
      if (check.notice) {
        ++notices;
        EXPECT_NE(check.notice->find(path), std::string::npos) << *check.notice;
        EXPECT_NE(check.notice->find(c.reason), std::string::npos) << *check.notice;
      }
    }
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(limits.TakeNotice(), std::nullopt);
  }
  // A notice taken at start-up is not given again by the checks.
  BandLimits limits;
  limits.FormCreate("");
  EXPECT_NE(limits.TakeNotice(), std::nullopt);
  EXPECT_EQ(limits.Check("14.2", "USB").notice, std::nullopt);
}

TEST(DeliveredBandLimits, EveryLicenceClassLoadsItsOwnFileWithItsPrivileges) {
  const char* source = std::getenv("QM_TEST_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  setenv("QUILLMERE_HOME", (std::string(source) + "/data").c_str(), 1);
  EXPECT_EQ(BandLimitClassCaptions().size(), 8u);
  EXPECT_EQ(BandLimitFileName(0), "Extra Class.bdl");
  EXPECT_EQ(BandLimitFileName(7), "Extra Class.bdl");
  EXPECT_EQ(BandLimitFileName(2), "GENERAL Class.bdl");
  EXPECT_EQ(BandLimitFileName(8), "");

  // class, frequency, mode, verdict: edges and the segments where the classes differ.
  const std::vector<std::tuple<int, std::string, std::string, V>> cases = {
      {0, "14.160", "USB", V::Inside},   {0, "14.100", "USB", V::Outside}, {0, "14.000", "CW", V::Inside},
      {0, "3.650", "LSB", V::Inside},    {0, "10.120", "USB", V::Outside}, {0, "10.120", "CW", V::Inside},
      {0, "7.2999", "LSB", V::Inside},   {0, "7.300", "LSB", V::Outside},  {0, "50.05", "USB", V::Outside},
      {0, "50.05", "CW", V::Inside},     {0, "1296.1", "USB", V::Inside},  {0, "5.3305", "USB", V::Outside},
      {1, "7.150", "LSB", V::Inside},    {1, "3.650", "LSB", V::Outside},  {1, "14.200", "USB", V::Inside},
      {1, "14.010", "CW", V::Outside},   {2, "7.150", "LSB", V::Outside},  {2, "14.200", "USB", V::Outside},
      {2, "14.250", "USB", V::Inside},   {2, "14.050", "CW", V::Inside},   {2, "21.300", "USB", V::Inside},
      {2, "14.250", "CW", V::Inside},    {1, "14.200", "CW", V::Inside},   {1, "7.200", "CW", V::Inside},
      {0, "0.000000", "USB", V::Outside}, {4, "0.005", "CW", V::Outside},  {5, "0", "USB", V::Outside},
      {2, "1.830", "CW", V::Inside},     {3, "28.400", "USB", V::Inside},  {3, "28.200", "USB", V::Outside},
      {4, "28.200", "CW", V::Inside},    {4, "14.250", "USB", V::Outside}, {4, "146.52", "USB", V::Inside},
      {4, "7.030", "CW", V::Inside},     {4, "1.830", "CW", V::Outside},   {5, "146.52", "USB", V::Outside},
      {5, "1280.0", "USB", V::Inside},   {5, "21.100", "CW", V::Inside},   {7, "14.160", "USB", V::Inside},
  };
  for (const auto& [licenceClass, frequency, mode, verdict] : cases) {
    SCOPED_TRACE(BandLimitFileName(licenceClass) + " " + frequency + " " + mode);
    BandLimits limits;
    limits.FormCreate(BandLimitFilePath(licenceClass));
    ASSERT_TRUE(limits.Enabled()) << *limits.TakeNotice();
    EXPECT_EQ(limits.Grid().size(), 5u);
    EXPECT_EQ(limits.Check(frequency, mode).verdict, verdict);
  }
  // No limits are delivered for "CUSTOM": the operator writes that file.
  BandLimits custom;
  custom.FormCreate(BandLimitFilePath(6));
  EXPECT_FALSE(custom.Enabled());
  EXPECT_NE(custom.TakeNotice()->find("CUSTOM.bdl\" was not found"), std::string::npos);
  unsetenv("QUILLMERE_HOME");

  // The warning sound: a short PCM WAVE file.
  const std::string wav = core_test::ReadFile(std::string(source) + "/data/ding.wav");
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_LT(wav.size(), 100000u);
}

// The US rules the delivered files model, written here on their own: each class's privileges
// per band (47 CFR 97.301) and its phone segment (97.305), in kHz. CW may be sent anywhere within
// the privileges (97.305(a)).
struct Piece {
  int low, high;  // kHz
};
struct BandRule {
  std::vector<Piece> privileges;
  std::optional<Piece> phone;
};
using ClassRules = std::vector<BandRule>;  // the 13 bands in the files' row order

ClassRules ExtraRules() {
  return {
      {{{1800, 2000}}, Piece{1800, 2000}},           // 160 m
      {{{3500, 4000}}, Piece{3600, 4000}},           // 80 m
      {{{7000, 7300}}, Piece{7125, 7300}},           // 40 m
      {{{10100, 10150}}, std::nullopt},              // 30 m: no phone
      {{{14000, 14350}}, Piece{14150, 14350}},       // 20 m
      {{{18068, 18168}}, Piece{18110, 18168}},       // 17 m
      {{{21000, 21450}}, Piece{21200, 21450}},       // 15 m
      {{{24890, 24990}}, Piece{24930, 24990}},       // 12 m
      {{{28000, 29700}}, Piece{28300, 29700}},       // 10 m
      {{{50000, 54000}}, Piece{50100, 54000}},       // 6 m
      {{{144000, 148000}}, Piece{144100, 148000}},   // 2 m
      {{{420000, 450000}}, Piece{420000, 450000}},   // 70 cm
      {{{1240000, 1300000}}, Piece{1240000, 1300000}},  // 23 cm
  };
}

ClassRules AdvancedRules() {
  ClassRules rules = ExtraRules();
  rules[1] = {{{3525, 3600}, {3700, 4000}}, Piece{3700, 4000}};
  rules[2] = {{{7025, 7300}}, Piece{7125, 7300}};
  rules[4] = {{{14025, 14150}, {14175, 14350}}, Piece{14175, 14350}};
  rules[6] = {{{21025, 21200}, {21225, 21450}}, Piece{21225, 21450}};
  return rules;
}

ClassRules GeneralRules() {
  ClassRules rules = ExtraRules();
  rules[1] = {{{3525, 3600}, {3800, 4000}}, Piece{3800, 4000}};
  rules[2] = {{{7025, 7125}, {7175, 7300}}, Piece{7175, 7300}};
  rules[4] = {{{14025, 14150}, {14225, 14350}}, Piece{14225, 14350}};
  rules[6] = {{{21025, 21200}, {21275, 21450}}, Piece{21275, 21450}};
  return rules;
}

// Technician, and Technician Plus (whose privileges are now the Technician's).
ClassRules TechRules() {
  const ClassRules extra = ExtraRules();
  ClassRules rules(13);
  rules[1] = {{{3525, 3600}}, std::nullopt};
  rules[2] = {{{7025, 7125}}, std::nullopt};
  rules[6] = {{{21025, 21200}}, std::nullopt};
  rules[8] = {{{28000, 28500}}, Piece{28300, 28500}};
  for (size_t band = 9; band < 13; ++band) rules[band] = extra[band];
  return rules;
}

ClassRules NoviceRules() {
  ClassRules rules = TechRules();
  for (size_t band = 9; band < 12; ++band) rules[band] = {};
  rules[12] = {{{1270000, 1295000}}, Piece{1270000, 1295000}};
  return rules;
}

// A segment in the files' 10 kHz units: the units wholly inside it; "1" "0" (no unit) for none.
std::pair<std::string, std::string> Units(std::optional<Piece> piece) {
  if (!piece) return {"1", "0"};
  return {std::to_string((piece->low + 9) / 10), std::to_string(piece->high / 10 - 1)};
}

// The first and the last kHz of the 10 kHz units wholly inside a segment.
int FirstWholeUnit(const Piece& p) { return (p.low + 9) / 10 * 10; }
int LastInWholeUnit(const Piece& p) { return p.high / 10 * 10 - 1; }

std::string MHz(int kHz) {
  std::string fraction = std::to_string(kHz % 1000);
  return std::to_string(kHz / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}

TEST(DeliveredBandLimits, EveryClassFollowsThePrivilegesAndPhoneSegmentsOfTheRules) {
  const char* source = std::getenv("QM_TEST_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  setenv("QUILLMERE_HOME", (std::string(source) + "/data").c_str(), 1);
  const std::vector<std::pair<int, ClassRules>> classes = {
      {0, ExtraRules()}, {1, AdvancedRules()}, {2, GeneralRules()},
      {3, TechRules()},  {4, TechRules()},     {5, NoviceRules()},
  };
  for (const auto& [licenceClass, rules] : classes) {
    SCOPED_TRACE(BandLimitFileName(licenceClass));
    BandLimits limits;
    limits.FormCreate(BandLimitFilePath(licenceClass));
    ASSERT_TRUE(limits.Enabled());
    const GridCells& grid = limits.Grid();
    for (size_t band = 0; band < rules.size(); ++band) {
      const BandRule& rule = rules[band];
      SCOPED_TRACE("band row " + std::to_string(band + 1) + " (" + grid[0][band + 1] + ")");
      // One CW segment per band: from the lowest to the highest frequency the class may use.
      std::optional<Piece> cw;
      for (const Piece& p : rule.privileges)
        cw = cw ? Piece{std::min(cw->low, p.low), std::max(cw->high, p.high)} : p;
      const auto phone = Units(rule.phone), cwUnits = Units(cw);
      EXPECT_EQ(grid[1][band + 1], phone.first);
      EXPECT_EQ(grid[2][band + 1], phone.second);
      EXPECT_EQ(grid[3][band + 1], cwUnits.first);
      EXPECT_EQ(grid[4][band + 1], cwUnits.second);

      // What the operator sees: CW inside anywhere in the privileges, phone only in its segment.
      for (const Piece& p : rule.privileges) {
        const std::string middle = MHz((p.low + p.high) / 2);
        EXPECT_EQ(limits.Check(middle, "CW").verdict, V::Inside) << middle;
        EXPECT_EQ(limits.Check(MHz(FirstWholeUnit(p)), "CW").verdict, V::Inside) << p.low;
        EXPECT_EQ(limits.Check(MHz(LastInWholeUnit(p)), "CW").verdict, V::Inside) << p.high;
        // A CW sub-band below the phone segment, or a band without phone: outside in phone.
        if (!rule.phone || p.high <= rule.phone->low) {
          EXPECT_EQ(limits.Check(middle, "USB").verdict, V::Outside) << middle;
        }
      }
      if (rule.phone) {
        for (const char* mode : {"USB", "LSB"}) {
          EXPECT_EQ(limits.Check(MHz(FirstWholeUnit(*rule.phone)), mode).verdict, V::Inside) << mode;
          EXPECT_EQ(limits.Check(MHz(LastInWholeUnit(*rule.phone)), mode).verdict, V::Inside) << mode;
        }
        // Just below the phone segment is outside in phone (a lower CW piece, or no privilege).
        EXPECT_EQ(limits.Check(MHz(rule.phone->low - 1), "USB").verdict, V::Outside);
      }
      if (cw) {
        EXPECT_EQ(limits.Check(MHz(cw->low - 1), "CW").verdict, V::Outside);
        EXPECT_EQ(limits.Check(MHz(cw->high), "CW").verdict, V::Outside);
      }
    }
    // A radio reporting 0 Hz, or anything below 10 kHz, is outside for every class.
    for (const char* frequency : {"0", "0.000000", "0.009"}) {
      for (const char* mode : {"USB", "CW"}) {
        EXPECT_EQ(limits.Check(frequency, mode).verdict, V::Outside) << frequency << " " << mode;
      }
    }
  }
  unsetenv("QUILLMERE_HOME");
}

}  // namespace
