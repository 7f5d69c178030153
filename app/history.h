// What the cleanups did, kept where an administrator can read it after the fact: the history
// file 清理记录.txt beside the program, one line per database cleaned and per scheduled run that
// could not start, and the balloon on the tray icon for a scheduled run that failed.
#pragma once

#include "runtime/value.h"

namespace tw {

struct App;

// One line of the history file.
struct HistoryEntry {
  Text stamp;              // as the State cell shows it
  bool scheduled = false;  // 定时, else 手动
  Text server;
  Text database;  // empty for a batch that could not start
  Text before;    // the size texts as the list shows them; empty for a run that could not start
  Text after;
  Text outcome;  // the State text without its time stamp
  bool failed = false;
};

namespace history {

// The program directory, then "/清理记录.txt"; the file before it is "/清理记录.1.txt".
Text Path();
Text PreviousPath();

// Appends the entry as one GBK line, tab-separated, CRLF-terminated, in one write that is
// flushed before this returns. A file that would pass 1 MiB with the line is renamed to the
// previous file first (replacing it). A history that cannot be written is given up silently:
// it never stops or changes a cleanup.
void Append(const HistoryEntry& entry);

}  // namespace history

// The failure of a scheduled run, shown on the tray icon (title "Tidewell", warning icon).
void NotifyFailure(App& app, const HistoryEntry& entry);
// A scheduled run that could not start (`outcome` says why): its history line, with no sizes,
// and its balloon.
void RecordRunNotStarted(App& app, const Text& stamp, const Text& database, const Text& outcome);

}  // namespace tw
