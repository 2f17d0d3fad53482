// hx6_date: the engine's date converter.
//
// Inside the engine a date is a 32-bit day number on the Julian day scale (1 January 1980 is
// 2444240), 0 meaning the empty date. Tables store dates as "yyyymmdd"; the user sees them in the
// short date format. ThxDBFDate turns day numbers into those texts and back; one process-wide
// instance (DBFDate()) serves all engine code.
//
// The short date format is a process-wide setting (SetShortDateFormat), "MM/dd/yy" by default,
// with "/" standing for the date separator (SetDateSeparator, "/" by default). Formatting and
// parsing use fixed English names and never the process locale. Format letters, case-insensitive:
//   d, dd        day without / with leading zero     ddd, dddd   short / long day name
//   m, mm        month without / with leading zero   mmm, mmmm   short / long month name
//   yy           two-digit year                      yyyy        four-digit year (y, yyy likewise)
//   h n s z      time parts (always zero for a date) /           the date separator
//   "..." '...'  literal text                        anything else is copied as it stands
//
// Thread-safety: the converter and the settings may be used from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

// A text that is not a number or a date. The engine's callers turn it into their own message
// ("Invalid date in field %s" and the like).
class EConvertError : public std::exception {
 public:
  explicit EConvertError(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

// The process-wide short date format and date separator used by DTOC and CTOD.
std::string ShortDateFormat();
void SetShortDateFormat(std::string format);
char DateSeparator();
void SetDateSeparator(char separator);

class ThxDBFDate {
 public:
  ThxDBFDate();

  // Day number minus this gives the date-time value (days since 30 December 1899).
  int32_t JulianOffset() const { return julianOffset_; }
  // With the century flag on, DTOC always shows four-digit years.
  bool Century() const { return century_; }
  void SetCentury(bool on) { century_ = on; }

  // The date formatted with `format` (letters as above); empty for a date outside the years
  // 1-9999.
  std::string FormatJulian(int32_t day, std::string_view format) const;
  // Today's local date as a day number.
  int32_t Today() const;
  // 1 = Sunday ... 7 = Saturday; 0 for a day number below 1.
  int DayOfWeek(int32_t day) const;
  // "yyyymmdd"; eight blanks for the empty date (and for a date outside the years 1-9999, which
  // has no eight-digit form).
  std::string DTOS(int32_t day) const;
  // The date in the short date format (four-digit year with the century flag on); blanks as long
  // as that format for the empty date.
  std::string DTOC(int32_t day) const;
  // A "yyyymmdd" text or a text in the short date format as a day number; 0 for blanks or
  // "00000000". An eight-digit text that is no calendar date gives the empty date 0. Any other
  // unreadable text raises EConvertError.
  int32_t CTOD(std::string_view text) const;

  // Day number of a calendar date, or 0 when it is not a date in the years 1-9999.
  int32_t EncodeDate(int year, int month, int day) const;
  // Calendar date of a day number; false when it lies outside the years 1-9999.
  bool DecodeDate(int32_t dayNumber, int& year, int& month, int& day) const;

 private:
  int32_t julianOffset_;
  std::atomic<bool> century_;
};

// The one converter of the process.
ThxDBFDate& DBFDate();
