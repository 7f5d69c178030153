// Date-time day counts: calendar parts over the whole valid range, limits, rounding to the
// nearest second, days before 1899-12-30 and the current time.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

#include "runtime/datetime.h"
#include "runtime/gbk.h"
#include "runtime/text.h"

namespace tw {
namespace {

struct Parts {
  int year, month, day, hour, minute, second;
  friend bool operator==(const Parts&, const Parts&) = default;
};

Parts PartsOf(double d) {
  return {YearOf(d), MonthOf(d), DayOf(d), HourOf(d), MinuteOf(d), SecondOf(d)};
}

TEST(DateTime, KnownDaysAndWeekdays) {
  // Day counts and ISO weekdays checked against an independent proleptic Gregorian calendar.
  EXPECT_EQ(MakeDate(100, 1, 1), kMinDate);
  EXPECT_EQ(MakeDate(9999, 12, 31), kMaxDate);
  EXPECT_EQ(MakeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(MakeDate(2020, 10, 8), 44112.0);
  EXPECT_EQ(MakeDate(1600, 2, 29), -109512.0);
  EXPECT_EQ(WeekdayOf(0), 7);
  EXPECT_EQ(WeekdayOf(MakeDate(2020, 10, 5)), 2);  // a Monday
  EXPECT_EQ(WeekdayOf(MakeDate(2020, 10, 4)), 1);  // a Sunday
  EXPECT_EQ(WeekdayOf(44112.99), 5);
  EXPECT_EQ(WeekdayOf(kMinDate), 6);
  EXPECT_EQ(WeekdayOf(kMaxDate), 6);
  EXPECT_EQ(WeekdayOf(-1.5), 6);
}

TEST(DateTime, WholeRangeRoundTrips) {
  int lastWeekday = 5;  // the day before 100-01-01, a Friday, was a Thursday
  for (double d = kMinDate; d <= kMaxDate; d += 1.0) {
    const Parts p = PartsOf(d);
    ASSERT_EQ(MakeDate(p.year, p.month, p.day), d) << d;
    const int weekday = WeekdayOf(d);
    ASSERT_EQ(weekday, lastWeekday % 7 + 1) << d;
    lastWeekday = weekday;
  }
}

TEST(DateTime, LeapYearsAreGregorian) {
  EXPECT_EQ(DayOf(MakeDate(100, 3, 1) - 1), 28);
  EXPECT_EQ(DayOf(MakeDate(1900, 3, 1) - 1), 28);
  EXPECT_EQ(DayOf(MakeDate(2000, 3, 1) - 1), 29);
  EXPECT_EQ(DayOf(MakeDate(400, 3, 1) - 1), 29);
}

TEST(DateTime, LimitsClamp) {
  const Parts first{100, 1, 1, 0, 0, 0};
  const Parts last{9999, 12, 31, 0, 0, 0};
  EXPECT_EQ(PartsOf(kMinDate - 0.75), first);
  EXPECT_EQ(PartsOf(-1e300), first);
  EXPECT_EQ(PartsOf(-std::numeric_limits<double>::infinity()), first);
  EXPECT_EQ(PartsOf(kMaxDate + 0.5), last);
  EXPECT_EQ(PartsOf(std::numeric_limits<double>::infinity()), last);
  EXPECT_EQ(PartsOf(std::nan("")), (Parts{1899, 12, 30, 0, 0, 0}));
  EXPECT_EQ(ClampDate(3e6), kMaxDate);
  EXPECT_EQ(ClampDate(12.5), 12.5);
  EXPECT_EQ(ToText(Value::DateTime(1e9)), Gbk("9999年12月31日"));
}

TEST(DateTime, TimeOfDayAndRounding) {
  EXPECT_EQ(PartsOf(MakeDate(2020, 10, 8, 13, 4, 5)), (Parts{2020, 10, 8, 13, 4, 5}));
  EXPECT_EQ(PartsOf(MakeDate(2020, 10, 8, 23, 59, 59) + 0.6 / 86400),
            (Parts{2020, 10, 9, 0, 0, 0}));
  EXPECT_EQ(PartsOf(MakeDate(2020, 10, 8, 23, 59, 59) + 0.4 / 86400),
            (Parts{2020, 10, 8, 23, 59, 59}));
  EXPECT_EQ(PartsOf(-0.0), (Parts{1899, 12, 30, 0, 0, 0}));
  // Before day 0 the integer part is the day and the fraction's absolute value the time.
  EXPECT_EQ(PartsOf(-1.25), (Parts{1899, 12, 29, 6, 0, 0}));
  EXPECT_EQ(PartsOf(-0.5), (Parts{1899, 12, 30, 12, 0, 0}));
  EXPECT_EQ(MakeDate(1899, 12, 29, 6), -1.25);
  EXPECT_EQ(PartsOf(MakeDate(1500, 6, 1, 7, 8, 9)), (Parts{1500, 6, 1, 7, 8, 9}));
}

TEST(DateTime, MakeDateCarriesOutOfRangeParts) {
  EXPECT_EQ(MakeDate(2020, 13, 1), MakeDate(2021, 1, 1));
  EXPECT_EQ(MakeDate(2020, 0, 1), MakeDate(2019, 12, 1));
  EXPECT_EQ(MakeDate(2020, 3, 0), MakeDate(2020, 2, 29));
  EXPECT_EQ(MakeDate(2020, 1, 1, 25), MakeDate(2020, 1, 2, 1));
  EXPECT_EQ(MakeDate(2020, 1, 1, 0, 0, -1), MakeDate(2019, 12, 31, 23, 59, 59));
}

TEST(DateTime, Text) {
  EXPECT_EQ(ToText(Value::DateTime(MakeDate(2020, 10, 8))), Gbk("2020年10月8日"));
  EXPECT_EQ(ToText(Value::DateTime(MakeDate(2020, 10, 8, 8))), Gbk("2020年10月8日8时"));
  EXPECT_EQ(ToText(Value::DateTime(MakeDate(2020, 10, 8, 8, 30))), Gbk("2020年10月8日8时30分"));
  EXPECT_EQ(ToText(Value::DateTime(MakeDate(2020, 10, 8, 8, 0, 5))), Gbk("2020年10月8日8时0分5秒"));
  EXPECT_EQ(ToText(Value::DateTime(MakeDate(2020, 10, 8, 0, 0, 5))), Gbk("2020年10月8日0时0分5秒"));
  EXPECT_EQ(ToText(Value::DateTime(kMinDate)), Gbk("100年1月1日"));
}

TEST(DateTime, NowIsTheLocalClockInWholeSeconds) {
  const std::time_t before = std::time(nullptr);
  const double now = Now();
  const std::time_t after = std::time(nullptr);
  const double seconds = std::fabs(now - std::trunc(now)) * 86400.0;
  EXPECT_NEAR(seconds, std::round(seconds), 1e-4);
  std::tm local{};
  ASSERT_NE(localtime_r(&before, &local), nullptr);
  const double expected = MakeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                   local.tm_hour, local.tm_min, local.tm_sec);
  EXPECT_GE(now, expected - 1e-9);
  EXPECT_LE(now, expected + static_cast<double>(after - before + 1) / 86400.0);
}

}  // namespace
}  // namespace tw
