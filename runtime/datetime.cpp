// Date-times as OLE day counts: the parts of a date-time, the day count of a calendar date and
// the current local time. The calendar is the Gregorian one for every year, as the day count
// itself is; the integer part counts days (toward zero) and the absolute value of the fraction
// is the time of day, so -1.25 is 1899-12-29 06:00.
#include <cmath>
#include <cstdint>
#include <ctime>

#include "runtime/clock.h"
#include "runtime/datetime.h"
#include "runtime/local_time.h"
#include "runtime/text.h"

namespace tw {
namespace {

LocalClock* g_clock = nullptr;

// Day 0 of the day count, 1899-12-30, counted from 1970-01-01.
constexpr std::int64_t kDayZeroFrom1970 = -25569;

struct Civil {
  std::int64_t year;
  int month;
  int day;
};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

std::int64_t FloorMod(std::int64_t a, std::int64_t b) {
  return a - FloorDiv(a, b) * b;
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1-12), by 400-year eras.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = FloorDiv(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (m + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Civil CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = FloorDiv(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// A date-time split into its day and its second of the day, rounded to the nearest second.
struct Split {
  std::int64_t day;  // day count, truncated toward zero
  int second;        // 0 .. 86399
};

Split SplitDate(double d) {
  d = ClampDate(d);
  // Half a second away from zero, so that truncation below rounds to the nearest second.
  d += (d < 0 ? -1.0 : 1.0) / 172800.0;
  const double whole = std::trunc(d);
  const double fraction = std::fabs(d - whole);
  int second = static_cast<int>(fraction * 86400.0);
  if (second > 86399) second = 86399;
  return {static_cast<std::int64_t>(whole), second};
}

Civil DateOf(double d) {
  return CivilFromDays(SplitDate(d).day + kDayZeroFrom1970);
}

}  // namespace

double ClampDate(double d) {
  // NaN is no date at all; it reads as day 0 rather than poisoning every part.
  if (std::isnan(d)) return 0.0;
  if (d > kMaxDate) return kMaxDate;
  if (d < kMinDate) return kMinDate;
  return d;
}

int YearOf(double d) {
  return static_cast<int>(DateOf(d).year);
}
int MonthOf(double d) {
  return DateOf(d).month;
}
int DayOf(double d) {
  return DateOf(d).day;
}

int WeekdayOf(double d) {
  return static_cast<int>(FloorMod(SplitDate(d).day + 693958, 7)) + 1;
}

int HourOf(double d) {
  return SplitDate(d).second / 3600;
}
int MinuteOf(double d) {
  return SplitDate(d).second / 60 % 60;
}
int SecondOf(double d) {
  return SplitDate(d).second % 60;
}

double MakeDate(int year, int month, int day, int hour, int minute, int second) {
  // Months, hours, minutes and seconds out of their ranges carry into the next larger part,
  // as days beyond a month's end carry into the next month.
  const std::int64_t monthIndex = std::int64_t{month} - 1;
  const std::int64_t y = year + FloorDiv(monthIndex, 12);
  const int m = static_cast<int>(FloorMod(monthIndex, 12)) + 1;
  const std::int64_t seconds =
      std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + std::int64_t{second};
  const std::int64_t days = DaysFromCivil(y, m, 1) + (std::int64_t{day} - 1) - kDayZeroFrom1970 +
                            FloorDiv(seconds, 86400);
  const double timeOfDay = static_cast<double>(FloorMod(seconds, 86400)) / 86400.0;
  const auto whole = static_cast<double>(days);
  return days < 0 ? whole - timeOfDay : whole + timeOfDay;
}

LocalClock* SetLocalClock(LocalClock* clock) {
  LocalClock* before = g_clock;
  g_clock = clock;
  return before;
}

double Now() {
  if (g_clock != nullptr) return g_clock->Now();
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  if (!LocalCalendarTime(t, local)) {
    // Without a time zone the clock is still right in UTC, which beats no date at all.
    return static_cast<double>(t) / 86400.0 - static_cast<double>(kDayZeroFrom1970);
  }
  return MakeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
}

}  // namespace tw
