// Local calendar time on Windows.
#include "platform/local_time.h"

namespace tw {

bool LocalCalendarTime(std::time_t t, std::tm& out) {
  return localtime_s(&out, &t) == 0;
}

}  // namespace tw
