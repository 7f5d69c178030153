// The schedule's choice of the second to fire at a tick, with tick times given: late ticks,
// clocks set back and forward, and each scheduled second started once.
#include <gtest/gtest.h>

#include "app/schedule.h"

namespace tw {
namespace {

constexpr std::int64_t kDue = 1000;  // the one scheduled second of these cases

std::optional<std::int64_t> Due(std::optional<std::int64_t> previous, std::int64_t now,
                                std::optional<std::int64_t> fired = {}) {
  return DueSecond(previous, now, fired, [](std::int64_t t) { return t == kDue; });
}

TEST(ScheduleTick, FiresTheScheduledSecondOnceWhateverTheTicks) {
  // Ticks a second apart: exactly at the second, as without any catch-up.
  EXPECT_EQ(Due(998, 999), std::nullopt);
  EXPECT_EQ(Due(999, 1000), kDue);
  EXPECT_EQ(Due(1000, 1001), std::nullopt);
  // A tick several seconds late (the thread was busy) still fires the second it passed over.
  EXPECT_EQ(Due(997, 1004), kDue);
  EXPECT_EQ(Due(940, 1000), kDue);  // 60 s back is the limit
  // A second that already started a cleanup never fires again.
  EXPECT_EQ(Due(999, 1000, kDue), std::nullopt);
  EXPECT_EQ(Due(997, 1004, kDue), std::nullopt);
  // The clock set back across the second: only the tick's own second counts, and it fired.
  EXPECT_EQ(Due(1005, 1000, kDue), std::nullopt);
  EXPECT_EQ(Due(1005, 1000), kDue);
  // A jump forward of more than 60 s fires nothing for the seconds it skipped.
  EXPECT_EQ(Due(900, 1001), std::nullopt);
  EXPECT_EQ(Due(939, 1001), std::nullopt);
  // The first tick after the timer starts looks at its own second only.
  EXPECT_EQ(Due(std::nullopt, 1001), std::nullopt);
  EXPECT_EQ(Due(std::nullopt, 1000), kDue);
}

}  // namespace
}  // namespace tw
