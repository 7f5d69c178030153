// One run of the real program, in a forked process of its own: the headless window layer, the
// frame and the application, on a virtual clock, driven by the script's steps from a given one
// on. It reports to the runner through a file of JSON lines written as things happen, so that
// nothing is lost however the process ends:
//   {"event": EVENT}                      a trace event
//   {"snapshot": NAME, "value": SNAPSHOT}
//   {"progress": {"next": STEP, "clock": SECONDS, "answers": [BUTTON...], "menus": [STEP...]}}
//   {"script_error": MESSAGE}             a step that cannot run now (exit 2)
//   {"finished": true}                    the script's last step has run
//   {"runner_error": MESSAGE}             this process failed itself (exit 1)
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tests/scenario/scenario.h"

namespace tw::scenario {

struct ProgramStart {
  const Script* script = nullptr;
  std::size_t firstStep = 0;  // the step after `start`
  std::int64_t clockSeconds = 0;
  std::deque<int> answers;            // message-box answers still queued
  std::deque<std::size_t> menuSteps;  // `menu` steps whose choice is still queued
  std::string programDir;             // as the operating system names it
  World world;
  std::vector<std::string> controlPaths;  // per server
  int reportFd = -1;
};

// Never returns: the process ends with the program (through _exit, so that nothing of the
// runner's, such as its simulators, is torn down from here).
[[noreturn]] void RunProgram(const ProgramStart& start);

}  // namespace tw::scenario
