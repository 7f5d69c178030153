// The two cleanups: the single cleanup of the database chosen in 组合框_库名 and the batch
// cleanup of every ticked row, each measuring the log before and after and writing the new size
// and the freed amount into the database's rows.
#pragma once

#include "runtime/value.h"

namespace tw {

class Frame;
struct App;

void BindCleanup(Frame& frame, App& app);

// Who started a cleanup: the operator's click, or the schedule, which has nobody to ask and
// shows the failures on the tray icon instead.
enum class Start { ByHand, BySchedule };

// The click handlers, also run by the schedule. Neither starts while a cleanup runs.
void CleanChosenDatabase(App& app, Start start);
void CleanTickedDatabases(App& app, Start start);

// The local date and time as "2020-10-8 9:5:3": no leading zeros.
Text CleanupTimestamp();

}  // namespace tw
