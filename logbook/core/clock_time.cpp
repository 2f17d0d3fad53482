#include "clock_time.h"

#include <sys/time.h>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace quillmere {

namespace {

// Days from 1 January 1970 of a civil date (proleptic Gregorian), and back.
long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = unsigned((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + (long long)doe - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y = int((long long)yoe + era * 400 + (m <= 2));
}

const long long kEpochOffset = DaysFromCivil(1899, 12, 30);  // day 0 of TDateTime
constexpr long long kMsPerDay = 86400000;

}  // namespace

TDateTime EncodeDateTime(const TDateTimeParts& p) {
  const long long days = DaysFromCivil(p.Year, p.Month, p.Day) - kEpochOffset;
  const long long ms = ((p.Hour * 60LL + p.Minute) * 60 + p.Second) * 1000 + p.Millisecond;
  return double(days) + double(ms) / double(kMsPerDay);
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  const long long total = std::llround(value * double(kMsPerDay));
  long long days = total / kMsPerDay;
  long long ms = total % kMsPerDay;
  if (ms < 0) {
    ms += kMsPerDay;
    --days;
  }
  TDateTimeParts p;
  CivilFromDays(days + kEpochOffset, p.Year, p.Month, p.Day);
  p.Millisecond = int(ms % 1000);
  p.Second = int(ms / 1000 % 60);
  p.Minute = int(ms / 60000 % 60);
  p.Hour = int(ms / 3600000);
  return p;
}

std::string StatusClockText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", p.Day, p.Month, ((p.Year % 100) + 100) % 100,
                p.Hour, p.Minute, p.Second);
  return text;
}

std::string ClockLabelText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", p.Hour, p.Minute);
  return text;
}

TDateTime SystemClock::Now() const {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  const time_t seconds = tv.tv_sec;
  tm local{};
  ::localtime_r(&seconds, &local);
  TDateTimeParts p;
  p.Year = local.tm_year + 1900;
  p.Month = local.tm_mon + 1;
  p.Day = local.tm_mday;
  p.Hour = local.tm_hour;
  p.Minute = local.tm_min;
  p.Second = local.tm_sec;
  p.Millisecond = int(tv.tv_usec / 1000);
  return EncodeDateTime(p);
}

}  // namespace quillmere
