// The application's state: the six globals and what each area keeps, owned by one object that
// every handler receives by reference.
#pragma once

#include "runtime/value.h"

namespace tw {

class Frame;

struct App {
  explicit App(Frame& f) : frame(f) {}

  Frame& frame;

  // The six globals: the stored login, the chosen database, the last log path and the last
  // connect outcome.
  Text serverAddress;
  Text loginName;
  Text loginPassword;
  Text chosenDatabase;
  Text logFilePath;
  Text connectOutcome;
};

}  // namespace tw
