#include "support/date_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace tly {
namespace {

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar
// (H. Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CivilDate CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp + (mp < 10 ? 3 : -9);
  return CivilDate{static_cast<int>(yoe + era * 400 + (m <= 2)), static_cast<int>(m),
                   static_cast<int>(d)};
}

// 30 December 1899 counted from 1 January 1970.
const int64_t kDay0FromUnixEpoch = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  int last = kDaysInMonth[month - 1];
  if (month == 2 && IsLeapYear(year)) last = 29;
  return day <= last;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (!IsValidDate(year, month, day)) return false;
  out = static_cast<TDateTime>(DaysFromCivil(year, month, day) - kDay0FromUnixEpoch);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result = 0;
  if (!TryEncodeDate(year, month, day, result)) {
    throw std::invalid_argument("invalid date");
  }
  return result;
}

CivilDate DecodeDate(TDateTime value) {
  return CivilFromDays(static_cast<int64_t>(DatePart(value)) + kDay0FromUnixEpoch);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    throw std::invalid_argument("invalid time");
  }
  const int64_t ms =
      ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(ms) / kMillisecondsPerDay;
}

TimeOfDay DecodeTime(TDateTime value) {
  double fraction = std::fabs(value - DatePart(value));
  int64_t ms = std::llround(fraction * kMillisecondsPerDay);
  if (ms > 86399999) ms = 86399999;
  if (ms < 0) ms = 0;
  TimeOfDay t;
  t.Millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  t.Second = static_cast<int>(ms % 60);
  ms /= 60;
  t.Minute = static_cast<int>(ms % 60);
  t.Hour = static_cast<int>(ms / 60);
  return t;
}

TDateTime DatePart(TDateTime value) {
  return std::trunc(value);
}

int QuarterHourSlot(TDateTime value) {
  const TimeOfDay t = DecodeTime(value);
  return t.Hour * 4 + t.Minute / 15;
}

TDateTime SystemNow() {
  const auto now = std::chrono::system_clock::now();
  const auto since_epoch = now.time_since_epoch();
  const int64_t unix_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count();
  const std::time_t unix_s = static_cast<std::time_t>(unix_ms / 1000);
  std::tm local{};
  localtime_r(&unix_s, &local);
  TDateTime date = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  const int64_t ms_of_day = ((static_cast<int64_t>(local.tm_hour) * 60 + local.tm_min) * 60 +
                             std::min(local.tm_sec, 59)) *
                                1000 +
                            unix_ms % 1000;
  return date + static_cast<double>(ms_of_day) / kMillisecondsPerDay;
}

std::string FormatYyMmDd(TDateTime value) {
  const CivilDate d = DecodeDate(value);
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", d.Year % 100, d.Month, d.Day);
  return text;
}

}  // namespace tly
