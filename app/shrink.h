// The statements that shrink one database's log on the main connection, with the recovery model
// read first and put back as it was, the sequence stopped at the first statement the server
// refuses, and a connection lost on the way reopened to put the model back.
#pragma once

#include "runtime/value.h"

namespace tw {

struct App;

struct ShrinkOutcome {
  bool ok = true;
  Text failure;  // what follows " 清理失败：" in the State cell
};

// The single cleanup's sequence, with its pauses and progress steps. `logicalLogName` empty:
// the database name + "_log".
ShrinkOutcome ShrinkLog(App& app, const Text& database, const Text& logicalLogName);
// The batch cleanup's sequence: a fresh main connection first, then the statements with their
// pauses, without the progress bar.
ShrinkOutcome ReconnectAndShrinkLog(App& app, const Text& database, const Text& logicalLogName);

// The progress bar 进度条1: 0 resets it; n > 0 steps it n times with a 10 ms blocking sleep each
// and caps it at 100; 100 always ends full.
void AdvanceProgress(App& app, int steps);

}  // namespace tw
