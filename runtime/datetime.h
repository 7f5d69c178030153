// Date-times: the parts of a day count, the day count of a calendar date, and the local date
// and time now. None of them fails.
#pragma once

namespace tw {

// Date-times are OLE day counts: day 0 = 1899-12-30, the fraction the time of day.
inline constexpr double kMinDate = -657434.0;  // 100-01-01
inline constexpr double kMaxDate = 2958465.0;  // 9999-12-31
double ClampDate(double d);
int YearOf(double d);
int MonthOf(double d);
int DayOf(double d);
int WeekdayOf(double d);  // 1 = Sunday ... 7 = Saturday
int HourOf(double d);
int MinuteOf(double d);
int SecondOf(double d);
// Day count of a calendar date and time (no range check).
double MakeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// The local date and time in whole seconds, from the clock in use (runtime/clock.h).
double Now();

}  // namespace tw
