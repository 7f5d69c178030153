// Local calendar time on POSIX systems.
#include "runtime/local_time.h"

namespace tw {

bool LocalCalendarTime(std::time_t t, std::tm& out) {
  return localtime_r(&t, &out) != nullptr;
}

}  // namespace tw
