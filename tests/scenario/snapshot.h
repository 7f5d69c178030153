// Snapshots: what the user would see of the program (windows, units, the list, the tray icon)
// and the state of the world around it (settings file, autostart value, servers).
#pragma once

#include "tests/scenario/scenario.h"

namespace tw {
class Frame;
}

namespace tw::scenario {

// The running program's snapshot.
Json ProgramSnapshot(Frame& frame, HeadlessBackend& backend, const World& world);
// The snapshot when no program runs: no windows, no units, an empty list, no tray icon.
Json IdleSnapshot(const World& world);

}  // namespace tw::scenario
