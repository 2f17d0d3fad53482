// Band limits: the check against a table, the warning once per turn to red, a table that cannot be
// loaded, and the delivered band-limits files and sound.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

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

  // The sound only on the check that turns the display red; the flag follows every verdict.
  BandLimits fresh;
  fresh.FormCreate(LimitsFile(5, {"1415", "1435", "1400", "1414"}));
  const std::vector<std::tuple<std::string, std::string, V, bool, int>> reports = {
      {"14.20", "USB", V::Inside, false, 0},   {"14.40", "USB", V::Outside, true, 1},
      {"14.41", "USB", V::Outside, false, 1},  {"14.42", "AM", V::Unchanged, false, 1},
      {"14.43", "USB", V::Outside, false, 1},  {"14.05", "LSB", V::Outside, false, 1},
      {"14.05", "CW", V::Inside, false, 0},    {"14.05", "USB", V::Outside, true, 1},
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

}  // namespace
