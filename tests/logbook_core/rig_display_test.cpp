// What the logbook shows and says for the radio's state and the clock: band tables, mode texts
// and mode words, the frequency texts, and the UTC clock across midnight.
#include <gtest/gtest.h>

#include "band_tables.h"
#include "clock_time.h"
#include "frequency_text.h"
#include "phrases.h"
#include "tarvane_enums.h"

using namespace quillmere;

namespace {

// "-" stands for "left as it was".
std::string Shown(const std::optional<std::string>& text) { return text.value_or("-"); }

}  // namespace

TEST(BandTables, StartUpAndParameterChangeTablesDifferInThreeRows) {
  struct Case {
    double mhz;
    const char* atStart;  // "-": band unchanged
    const char* onChange;
  } cases[] = {
      {1.8, "160", "160"},     {2.999, "160", "160"}, {3.5, "80", "80"},     {5.3, "-", "-"},
      {7.074, "40", "40"},     {10.1, "30", "30"},    {14.0, "20", "20"},    {15.9, "20", "20"},
      {18.1, "17", "17"},      {21.2, "15", "15"},    {24.9, "12", "12"},    {28.0, "10", "10"},
      {30.99, "10", "10"},     {31.0, "-", "-"}, {50.125, "6", "6"}, {52.99, "6", "6"},
      {53.0, "-", "6"},    {54.9, "-", "6"},  {55.0, "-", "-"}, {60.0, "-", "-"},
      {144.2, "2", "2"},       {148.99, "2", "2"},    {220.0, "-", "-"}, {432.1, "70", "70"},
      {440.9, "70", "70"},     {1240.0, "-", "23"}, {1296.1, "23", "23"}, {1299.0, "-", "23"},
      {1301.0, "-", "-"}, {0.5, "-", "-"}, {-14.0, "-", "-"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Shown(BandAtStart(c.mhz)), c.atStart) << c.mhz;
    EXPECT_EQ(Shown(BandOnChange(c.mhz)), c.onChange) << c.mhz;
  }
}

TEST(BandTables, ModeTextsOfTheRigModes) {
  using namespace tarvane;
  const std::pair<int32_t, const char*> cases[] = {
      {PM_CW_U, "CW"},       {PM_CW_L, "CW"},   {PM_SSB_U, "USB"}, {PM_SSB_L, "LSB"},   {PM_DIG_U, "RTTY-R"},
      {PM_DIG_L, "RTTY"},    {PM_AM, "AM"},     {PM_FM, "FM"},     {PM_UNKNOWN, "-"}, {PM_FREQ, "-"},
      {PM_SSB_U | PM_FM, "-"}, {0, "-"},
  };
  for (const auto& [mode, text] : cases) EXPECT_EQ(Shown(RigModeText(mode)), text) << mode;
}

TEST(Phrases, ModeWordsAndSpelling) {
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"USB", false, "Upper Side Band"}, {"LSB", false, "Lower Side Band"}, {"CW", false, "C.W."},
      {"RTTY", false, "R.T.T.Y."},       {"FM", false, "F.M."},             {"AM", false, "A.M."},
      {"PSK", false, "PSK"},             {"PSK", true, "P.S.K."},           {"RTTY-R", false, "RTTY-R"},
      {"usb", false, "usb"},             {"", false, ""},                   {"Other", true, "Other"},
  };
  for (const auto& [mode, manual, word] : cases) EXPECT_EQ(ModeWord(mode, manual), word) << mode;
  EXPECT_EQ(SpelledPhrase("FN31"), "<SPELL> FN31 </SPELL>");
}

TEST(FrequencyText, FixedAndGeneralForms) {
  const std::pair<double, const char*> fixed[] = {
      {14.074, "14.07400"},   {7.0, "7.00000"},        {144.2, "144.20000"}, {1296.1, "1296.10000"},
      {0.1357, "0.13570"},    {3.5732149, "3.57321"},  {50.125, "50.12500"}, {14.0740049, "14.07400"},
  };
  for (const auto& [value, text] : fixed) EXPECT_EQ(FormatFixed(value, 7, 5), text) << value;
  EXPECT_EQ(FormatGeneral(MHzFromHz(14074000)), "14.074");
  EXPECT_EQ(FormatGeneral(MHzFromHz(7000000)), "7");
  EXPECT_EQ(FormatGeneral(MHzFromHz(1296100000)), "1296.1");
  EXPECT_EQ(FormatFixed(MHzFromHz(21200000), 7, 5), "21.20000");
}

TEST(ClockTime, EncodingRoundTripsAndTheEpoch) {
  EXPECT_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_EQ(EncodeDateTime({2000, 1, 1, 0, 0, 0, 0}), 36526.0);
  const TDateTimeParts parts[] = {{2024, 2, 29, 23, 59, 59, 999}, {1999, 12, 31, 12, 0, 0, 0}, {2100, 3, 1, 0, 0, 1, 5}};
  for (const TDateTimeParts& p : parts) EXPECT_EQ(DecodeDateTime(EncodeDateTime(p)), p);
  // A value a hair below midnight rounds to the next day, as the clock shows it.
  EXPECT_EQ(DecodeDateTime(EncodeDateTime({2024, 12, 31, 0, 0, 0, 0}) - 1e-10), (TDateTimeParts{2024, 12, 31}));
}

TEST(ClockTime, UtcClockTextsAcrossMidnightAndYearEnd) {
  struct Case {
    TDateTimeParts local;
    int hours;
    const char* status;
    const char* label;
  } cases[] = {
      {{2024, 6, 1, 21, 30, 0}, 5, "02/06/24 02:30:00", "02:30"},
      {{2024, 6, 1, 1, 15, 42}, -5, "31/05/24 20:15:42", "20:15"},
      {{2024, 12, 31, 23, 0, 0}, 1, "01/01/25 00:00:00", "00:00"},
      {{2025, 1, 1, 0, 30, 0}, -1, "31/12/24 23:30:00", "23:30"},
      {{2024, 2, 28, 22, 0, 0}, 3, "29/02/24 01:00:00", "01:00"},
      {{2024, 3, 10, 8, 5, 9}, 0, "10/03/24 08:05:09", "08:05"},
  };
  for (const Case& c : cases) {
    const TDateTime utc = UtcFromLocal(EncodeDateTime(c.local), c.hours / 24.0);
    EXPECT_EQ(StatusClockText(utc), c.status) << c.status;
    EXPECT_EQ(ClockLabelText(utc), c.label) << c.status;
  }
}
