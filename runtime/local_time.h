// Local calendar time of the system clock, the one piece of date handling that differs per
// platform (the thread-safe C library call has a different name and argument order on each).
#pragma once

#include <ctime>

namespace tw {

// `t` (seconds since 1970) in the local time zone; false when the C library cannot tell.
bool LocalCalendarTime(std::time_t t, std::tm& out);

}  // namespace tw
