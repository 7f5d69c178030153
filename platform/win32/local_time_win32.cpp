// Local calendar time on Windows.
#include "runtime/local_time.h"

namespace tw {

bool LocalCalendarTime(std::time_t t, std::tm& out) {
  return localtime_s(&out, &t) == 0;
}

}  // namespace tw
