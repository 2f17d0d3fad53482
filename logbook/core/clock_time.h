// clock_time: the logbook's clock arithmetic. Times are TDateTime values as the logbook's
// design counts them: days since 30 December 1899 as a double, the fraction being the time of
// day. The UTC offset (whole hours of the preferences / 24) is added to the local time wherever
// UTC is shown or logged, so a date can move forwards or backwards across midnight.
//
// Clock is the seam through which the logbook reads the local time; SystemClock reads the
// machine's clock, tests hand in a clock of their own. Everything else is pure and thread-safe.
#pragma once

#include <string>

namespace quillmere {

using TDateTime = double;

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  bool operator==(const TDateTimeParts&) const = default;
};

TDateTime EncodeDateTime(const TDateTimeParts& parts);
// Rounded to the nearest millisecond, so 23:59:59.9996 is the next day's 00:00:00.000.
TDateTimeParts DecodeDateTime(TDateTime value);

// The local time plus the offset in days.
inline TDateTime UtcFromLocal(TDateTime local, double offsetDays) { return local + offsetDays; }

// "dd/mm/yy hh:nn:ss", the status bar's clock.
std::string StatusClockText(TDateTime value);
// "hh:nn", the clock label beside "UTC".
std::string ClockLabelText(TDateTime value);

class Clock {
 public:
  virtual ~Clock() = default;
  // The local date and time.
  virtual TDateTime Now() const = 0;
};

class SystemClock : public Clock {
 public:
  TDateTime Now() const override;
};

}  // namespace quillmere
