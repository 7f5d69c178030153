// The schedule: the three mode boxes with their fields, saving the schedule, the choice of the
// cleanup it runs, unattended mode, and the one-second tick that starts the cleanup at the saved
// second.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace tw {

class Frame;
struct App;

void BindSchedule(Frame& frame, App& app);

// The scheduled second due at a tick, if any. Seconds count from day 0 of the local clock. The
// tick looks at the seconds after the previous tick's and up to its own, so a second that no
// tick saw because the thread was busy still fires; a gap of more than 60 s (a clock set
// forward) or a clock set back looks at the tick's own second only. A second that already
// started a cleanup never fires again.
std::optional<std::int64_t> DueSecond(std::optional<std::int64_t> previousTick,
                                      std::int64_t thisTick, std::optional<std::int64_t> lastFired,
                                      const std::function<bool(std::int64_t)>& matches);

}  // namespace tw
