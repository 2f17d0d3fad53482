#include "base/hx6_date.h"

#include <ctime>
#include <mutex>

namespace {

constexpr int32_t kJulian1980 = 2444240;  // day number of 1 January 1980

// Date-time value (days since 30 December 1899) of a proleptic Gregorian date; the date must be
// valid. Civil-from-days arithmetic after H. Hinnant's public-domain algorithms.
int64_t DateTimeValue(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;  // days since 1970-01-01, moved to 1899-12-30
}

void CivilDate(int64_t dateTime, int& y, int& m, int& d) {
  const int64_t z = dateTime - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidDate(int y, int m, int d) {
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

constexpr const char* kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};
constexpr const char* kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonths[12] = {"January", "February", "March",     "April",
                                         "May",     "June",     "July",      "August",
                                         "September", "October", "November", "December"};

std::mutex gSettingsMutex;
std::string gShortDateFormat = "MM/dd/yy";
char gDateSeparator = '/';

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }

std::string Padded(int value, int width) {
  std::string s = std::to_string(value);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

struct CalendarDay {
  int year, month, day, weekday;  // weekday 0 = Sunday
};

void AppendFormatted(std::string& out, std::string_view format, const CalendarDay& cd,
                     char separator, int depth) {
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c == '"' || c == '\'') {
      const size_t end = format.find(c, i + 1);
      const size_t stop = end == std::string_view::npos ? format.size() : end;
      out.append(format.substr(i + 1, stop - i - 1));
      i = stop == format.size() ? stop : stop + 1;
      continue;
    }
    const char u = Upper(c);
    size_t run = 1;
    while (i + run < format.size() && Upper(format[i + run]) == u) ++run;
    switch (u) {
      case 'D':
        if (run == 1) out += std::to_string(cd.day);
        else if (run == 2) out += Padded(cd.day, 2);
        else if (run == 3) out += kShortDays[cd.weekday];
        else if (run == 4) out += kLongDays[cd.weekday];
        else if (depth == 0) {
          // ddddd: the short date format; dddddd: the long one.
          const std::string inner = run == 5 ? ShortDateFormat() : "dddd, mmmm d, yyyy";
          AppendFormatted(out, inner, cd, separator, depth + 1);
        }
        break;
      case 'M':
        if (run == 1) out += std::to_string(cd.month);
        else if (run == 2) out += Padded(cd.month, 2);
        else if (run == 3) out += kShortMonths[cd.month - 1];
        else out += kLongMonths[cd.month - 1];
        break;
      case 'Y':
        out += run <= 2 ? Padded(cd.year % 100, 2) : Padded(cd.year, 4);
        break;
      case 'H':
      case 'N':
      case 'S':
        out += run == 1 ? "0" : "00";
        break;
      case 'Z':
        out += run == 1 ? "0" : "000";
        break;
      case 'C':
        if (depth == 0) AppendFormatted(out, ShortDateFormat(), cd, separator, depth + 1);
        break;
      case '/':
        out.append(run, separator);
        break;
      default:
        out.append(format.substr(i, run));
        break;
    }
    i += run;
  }
}

// Reads the three (or two) numbers of a date in the short date format. Blanks may surround the
// numbers and separators; nothing else may follow.
bool ScanShortDate(std::string_view text, char separator, int (&numbers)[3], int (&digits)[3],
                   int& count) {
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && text[i] == ' ') ++i;
  };
  count = 0;
  while (true) {
    skipBlanks();
    int value = 0;
    int n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (n >= 4) return false;
      value = value * 10 + (text[i] - '0');
      ++n;
      ++i;
    }
    if (n == 0) return false;
    numbers[count] = value;
    digits[count] = n;
    ++count;
    skipBlanks();
    if (i == text.size()) break;
    if (count == 3 || text[i] != separator) return false;
    ++i;
  }
  return count >= 2;
}

}  // namespace

std::string ShortDateFormat() {
  std::lock_guard<std::mutex> lock(gSettingsMutex);
  return gShortDateFormat;
}

void SetShortDateFormat(std::string format) {
  std::lock_guard<std::mutex> lock(gSettingsMutex);
  gShortDateFormat = std::move(format);
}

char DateSeparator() {
  std::lock_guard<std::mutex> lock(gSettingsMutex);
  return gDateSeparator;
}

void SetDateSeparator(char separator) {
  std::lock_guard<std::mutex> lock(gSettingsMutex);
  gDateSeparator = separator;
}

ThxDBFDate::ThxDBFDate()
    : julianOffset_(kJulian1980 - static_cast<int32_t>(DateTimeValue(1980, 1, 1))),
      century_(true) {}

int32_t ThxDBFDate::EncodeDate(int year, int month, int day) const {
  if (!ValidDate(year, month, day)) return 0;
  return static_cast<int32_t>(DateTimeValue(year, month, day) + julianOffset_);
}

bool ThxDBFDate::DecodeDate(int32_t dayNumber, int& year, int& month, int& day) const {
  const int64_t dateTime = static_cast<int64_t>(dayNumber) - julianOffset_;
  if (dateTime < DateTimeValue(1, 1, 1) || dateTime > DateTimeValue(9999, 12, 31)) return false;
  CivilDate(dateTime, year, month, day);
  return true;
}

std::string ThxDBFDate::FormatJulian(int32_t day, std::string_view format) const {
  CalendarDay cd{};
  if (!DecodeDate(day, cd.year, cd.month, cd.day)) return std::string();
  cd.weekday = DayOfWeek(day) - 1;
  std::string out;
  AppendFormatted(out, format, cd, DateSeparator(), 0);
  return out;
}

int32_t ThxDBFDate::Today() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

int ThxDBFDate::DayOfWeek(int32_t day) const {
  if (day < 1) return 0;
  // Day number 0 of the Julian scale fell on a Monday.
  return static_cast<int>((static_cast<int64_t>(day) + 1) % 7) + 1;
}

std::string ThxDBFDate::DTOS(int32_t day) const {
  int y, m, d;
  if (day < 1 || !DecodeDate(day, y, m, d)) return std::string(8, ' ');
  return Padded(y, 4) + Padded(m, 2) + Padded(d, 2);
}

std::string ThxDBFDate::DTOC(int32_t day) const {
  std::string format = ShortDateFormat();
  for (char& c : format) c = Upper(c);
  if (century_) {
    const size_t first = format.find('Y');
    if (first != std::string::npos)
      while (format.find("YYYY") == std::string::npos) format.insert(first, 1, 'Y');
  }
  if (day < 1) return std::string(format.size(), ' ');
  return FormatJulian(day, format);
}

int32_t ThxDBFDate::CTOD(std::string_view text) const {
  std::string_view trimmed = text;
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
  if (trimmed.empty() || text == "00000000") return 0;

  bool allDigits = trimmed.size() == 8;
  for (char c : trimmed)
    if (c < '0' || c > '9') allDigits = false;
  if (allDigits) {
    auto number = [&](size_t at, size_t n) {
      int v = 0;
      for (size_t i = at; i < at + n; ++i) v = v * 10 + (trimmed[i] - '0');
      return v;
    };
    // A stored date that is no calendar date (month 13, day 32) reads as the empty date rather
    // than as an invented one.
    return EncodeDate(number(0, 4), number(4, 2), number(6, 2));
  }

  int numbers[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int count = 0;
  std::string notADate = "'";
  notADate.append(text).append("' is not a valid date");
  if (!ScanShortDate(trimmed, DateSeparator(), numbers, digits, count))
    throw EConvertError(notADate);

  // The order of day, month and year follows the first of those letters in the format.
  char order = 'M';
  for (char c : ShortDateFormat()) {
    const char u = Upper(c);
    if (u == 'D' || u == 'M' || u == 'Y') {
      order = u;
      break;
    }
  }
  int y, m, d, yearDigits;
  int currentYear, cm, cd;
  DecodeDate(Today(), currentYear, cm, cd);
  if (count == 2) {
    y = currentYear;
    yearDigits = 4;
    if (order == 'D') {
      d = numbers[0];
      m = numbers[1];
    } else {
      m = numbers[0];
      d = numbers[1];
    }
  } else if (order == 'Y') {
    y = numbers[0], yearDigits = digits[0], m = numbers[1], d = numbers[2];
  } else if (order == 'D') {
    d = numbers[0], m = numbers[1], y = numbers[2], yearDigits = digits[2];
  } else {
    m = numbers[0], d = numbers[1], y = numbers[2], yearDigits = digits[2];
  }
  if (yearDigits <= 2) {
    // Two-digit years fall in the hundred years from 50 years before the current year.
    const int pivot = currentYear - 50;
    y += pivot / 100 * 100;
    if (y < pivot) y += 100;
  }
  const int32_t result = EncodeDate(y, m, d);
  if (result == 0) throw EConvertError(notADate);
  return result;
}

ThxDBFDate& DBFDate() {
  static ThxDBFDate instance;
  return instance;
}
