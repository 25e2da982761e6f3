#ifndef TLY_SUPPORT_DATE_TIME_H_
#define TLY_SUPPORT_DATE_TIME_H_

#include <cstdint>
#include <string>

namespace tly {

// A date-time is the number of days since 30 December 1899 (day 0) as a
// 64-bit float; the time of day is the fraction. The date part of a value is
// the value truncated toward zero. -1 stands for "no date".
using TDateTime = double;

inline constexpr TDateTime kNoDate = -1.0;
inline constexpr double kMillisecondsPerDay = 86400000.0;

struct CivilDate {
  int Year = 0;
  int Month = 0;
  int Day = 0;
};

struct TimeOfDay {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

// True when year (1..9999), month and day form a date of the Gregorian calendar.
bool IsValidDate(int year, int month, int day);

// The day number of a valid date. Throws std::invalid_argument otherwise.
TDateTime EncodeDate(int year, int month, int day);

// Like EncodeDate, but returns false (and leaves `out` alone) for an invalid date.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);

// The calendar date of the date part of `value`.
CivilDate DecodeDate(TDateTime value);

// The fraction of a day for a time of day; throws std::invalid_argument when a
// field is out of range.
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);

// The time of day of `value`, to the millisecond. The fraction is rounded to
// the nearest millisecond but never past 23:59:59.999, so no value gives hour 24.
TimeOfDay DecodeTime(TDateTime value);

// The date part: `value` truncated toward zero.
TDateTime DatePart(TDateTime value);

// The quarter-hour slot (0..95) of the time of day of `value`.
int QuarterHourSlot(TDateTime value);

// The current local date-time from the system clock (millisecond resolution).
TDateTime SystemNow();

// "yymmdd" of the date part of `value`, e.g. "261207" for 7 December 2026.
std::string FormatYyMmDd(TDateTime value);

}  // namespace tly

#endif  // TLY_SUPPORT_DATE_TIME_H_
