#include <gtest/gtest.h>

#include <cstdio>

#include "base/hx6_date.h"

namespace {

// Restores the process-wide date settings after each test.
class DateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    format_ = ShortDateFormat();
    separator_ = DateSeparator();
    SetShortDateFormat("MM/dd/yy");
    SetDateSeparator('/');
  }
  void TearDown() override {
    SetShortDateFormat(format_);
    SetDateSeparator(separator_);
    DBFDate().SetCentury(true);
  }
  ThxDBFDate& date_ = DBFDate();
  std::string format_;
  char separator_ = '/';
};

constexpr int32_t kJan1st1980 = 2444240;

}  // namespace

TEST_F(DateTest, OffsetAndStoredForm) {
  EXPECT_EQ(date_.JulianOffset(), 2415019);
  EXPECT_EQ(date_.DTOS(kJan1st1980), "19800101");
  EXPECT_EQ(date_.DTOS(2451545), "20000101");
  EXPECT_EQ(date_.DTOS(0), "        ");
  EXPECT_EQ(date_.DTOS(-5), "        ");
  EXPECT_EQ(date_.DTOS(2415019), "18991230");
  EXPECT_EQ(date_.CTOD("19800101"), kJan1st1980);
  EXPECT_EQ(date_.CTOD("19800101  "), kJan1st1980);
  EXPECT_EQ(date_.CTOD("        "), 0);
  EXPECT_EQ(date_.CTOD(""), 0);
  EXPECT_EQ(date_.CTOD("00000000"), 0);
}

TEST_F(DateTest, StoredFormRoundTripsAcrossLeapYearsAndCenturies) {
  const int32_t from = date_.EncodeDate(1896, 1, 1);
  const int32_t to = date_.EncodeDate(2104, 12, 31);
  int32_t expectedNext = from;
  for (int32_t d = from; d <= to; ++d) {
    ASSERT_EQ(d, expectedNext);
    const std::string s = date_.DTOS(d);
    ASSERT_EQ(date_.CTOD(s), d) << s;
    expectedNext = d + 1;
  }
  EXPECT_EQ(date_.DTOS(date_.EncodeDate(2000, 2, 29)), "20000229");
  EXPECT_EQ(date_.EncodeDate(1900, 2, 29), 0);
  EXPECT_EQ(date_.DTOS(date_.EncodeDate(1900, 3, 1) - 1), "19000228");
}

TEST_F(DateTest, ImpossibleEightDigitDatesReadAsEmpty) {
  EXPECT_EQ(date_.CTOD("19801301"), 0);
  EXPECT_EQ(date_.CTOD("19800132"), 0);
  EXPECT_EQ(date_.CTOD("20230229"), 0);
  EXPECT_EQ(date_.CTOD("00000101"), 0);
  EXPECT_NE(date_.CTOD("20240229"), 0);
}

TEST_F(DateTest, DayOfWeek) {
  EXPECT_EQ(date_.DayOfWeek(0), 0);
  EXPECT_EQ(date_.DayOfWeek(kJan1st1980), 3);      // Tuesday
  EXPECT_EQ(date_.DayOfWeek(kJan1st1980 + 5), 1);  // Sunday
  EXPECT_EQ(date_.DayOfWeek(kJan1st1980 + 4), 7);  // Saturday
}

TEST_F(DateTest, ShortDateFormWithCentury) {
  EXPECT_EQ(date_.DTOC(kJan1st1980), "01/01/1980");
  EXPECT_EQ(date_.DTOC(0), "          ");
  date_.SetCentury(false);
  EXPECT_EQ(date_.DTOC(kJan1st1980), "01/01/80");
  EXPECT_EQ(date_.DTOC(0), "        ");
  date_.SetCentury(true);
  SetShortDateFormat("d/M/yyyy");
  SetDateSeparator('.');
  EXPECT_EQ(date_.DTOC(date_.EncodeDate(2023, 12, 5)), "5.12.2023");
  EXPECT_EQ(date_.DTOC(0), "        ");
}

TEST_F(DateTest, ParsesTheShortDateFormat) {
  EXPECT_EQ(date_.CTOD("01/01/1980"), kJan1st1980);
  EXPECT_EQ(date_.CTOD(" 1/1/1980 "), kJan1st1980);
  EXPECT_EQ(date_.CTOD("12/31/1999"), date_.EncodeDate(1999, 12, 31));

  SetShortDateFormat("dd/MM/yyyy");
  SetDateSeparator('.');
  EXPECT_EQ(date_.CTOD("31.12.1999"), date_.EncodeDate(1999, 12, 31));
  EXPECT_THROW(date_.CTOD("12/31/1999"), EConvertError);

  SetShortDateFormat("yyyy/MM/dd");
  SetDateSeparator('-');
  EXPECT_EQ(date_.CTOD("1999-12-31"), date_.EncodeDate(1999, 12, 31));
}

TEST_F(DateTest, TwoDigitYearsAndMissingYear) {
  int year, month, day;
  ASSERT_TRUE(date_.DecodeDate(date_.Today(), year, month, day));
  const std::string soon = "3/4/" + std::to_string((year + 10) % 100);
  EXPECT_EQ(date_.CTOD(soon), date_.EncodeDate(year + 10, 3, 4));
  const std::string past = "3/4/" + std::to_string((year - 49) % 100);
  EXPECT_EQ(date_.CTOD(past), date_.EncodeDate(year - 49, 3, 4));
  EXPECT_EQ(date_.CTOD("3/4"), date_.EncodeDate(year, 3, 4));
}

TEST_F(DateTest, UnreadableTextsRaiseConversionErrors) {
  EXPECT_THROW(date_.CTOD("1980010"), EConvertError);  // seven digits: not year-month-day
  EXPECT_THROW(date_.CTOD("13/01/1980"), EConvertError);
  EXPECT_THROW(date_.CTOD("02/30/1980"), EConvertError);
  EXPECT_THROW(date_.CTOD("01/01/1980x"), EConvertError);
  EXPECT_THROW(date_.CTOD("01//1980"), EConvertError);
  EXPECT_THROW(date_.CTOD("1/2/3/4"), EConvertError);
  EXPECT_THROW(date_.CTOD("hello"), EConvertError);
}

TEST_F(DateTest, FormatJulianLetters) {
  EXPECT_EQ(date_.FormatJulian(kJan1st1980, "dddd, mmmm d, yyyy"), "Tuesday, January 1, 1980");
  EXPECT_EQ(date_.FormatJulian(kJan1st1980, "ddd dd-MMM-yy"), "Tue 01-Jan-80");
  EXPECT_EQ(date_.FormatJulian(kJan1st1980, "yyyymmdd"), "19800101");
  EXPECT_EQ(date_.FormatJulian(kJan1st1980, "'day' d/m"), "day 1/1");
  EXPECT_EQ(date_.FormatJulian(kJan1st1980, "hh:nn"), "00:00");
  EXPECT_EQ(date_.FormatJulian(0, "yyyy"), "");
}

TEST_F(DateTest, TodayIsRecent) {
  EXPECT_GT(date_.Today(), date_.EncodeDate(2020, 1, 1));
  EXPECT_LT(date_.Today(), date_.EncodeDate(2200, 1, 1));
}

namespace {

// The Julian day number of a proleptic Gregorian date, by the Fliegel and Van Flandern formula
// (integer division truncating), kept apart from the converter's own arithmetic.
int64_t ReferenceJulianDay(int64_t y, int64_t m, int64_t d) {
  return (1461 * (y + 4800 + (m - 14) / 12)) / 4 + (367 * (m - 2 - 12 * ((m - 14) / 12))) / 12 -
         (3 * ((y + 4900 + (m - 14) / 12) / 100)) / 4 + d - 32075;
}

int ReferenceDaysInMonth(int y, int m) {
  if (m == 2) return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0 ? 29 : 28;
  return m == 4 || m == 6 || m == 9 || m == 11 ? 30 : 31;
}

}  // namespace

TEST_F(DateTest, EveryDayOfTheYears1To9999AgainstAnIndependentFormula) {
  int64_t previous = 0;
  char text[16];
  for (int y = 1; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= ReferenceDaysInMonth(y, m); ++d) {
        const int64_t expected = ReferenceJulianDay(y, m, d);
        if (previous != 0) {
          ASSERT_EQ(expected, previous + 1);
        }
        previous = expected;
        const int32_t day = date_.EncodeDate(y, m, d);
        ASSERT_EQ(day, expected) << y << "-" << m << "-" << d;
        // The stored form and back, for the first days of each month and every day of some years.
        if (d <= 2 || d >= 28 || y % 97 == 0 || (y >= 1896 && y <= 2104)) {
          std::snprintf(text, sizeof text, "%04d%02d%02d", y, m, d);
          ASSERT_EQ(date_.DTOS(day), text);
          ASSERT_EQ(date_.CTOD(text), day) << text;
          ASSERT_EQ(date_.DayOfWeek(day), static_cast<int>((expected + 1) % 7) + 1);
        }
      }
    }
  }
  EXPECT_EQ(ReferenceJulianDay(1980, 1, 1), kJan1st1980);
  // Outside the years 1-9999 there is no stored form.
  EXPECT_EQ(date_.DTOS(static_cast<int32_t>(ReferenceJulianDay(1, 1, 1)) - 1), "        ");
  EXPECT_EQ(date_.DTOS(static_cast<int32_t>(previous) + 1), "        ");
  EXPECT_EQ(date_.CTOD("00001231"), 0);
}
