// The one clock that every reading of the local date and time goes through. The system's clock
// answers unless a host installs another one, such as the headless window layer's virtual local
// time, which moves with its virtual tick count.
#pragma once

namespace tw {

class LocalClock {
 public:
  virtual ~LocalClock() = default;
  // The local date and time as a day count, in whole seconds.
  virtual double Now() = 0;
};

// Makes `clock` the one Now() reads; null restores the system clock. Returns the clock that was
// in place before, so that a host can put it back.
LocalClock* SetLocalClock(LocalClock* clock);

}  // namespace tw
