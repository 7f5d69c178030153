// The routines the connection, the catalogue and the cleanups share: the connect call with its
// fixed arguments, the two routines that start a connection over, the test whether the server
// is this machine, and the probes that measure one database's log.
#pragma once

#include <optional>

#include "runtime/value.h"

namespace tw {

struct App;
class DatabaseCalls;

// Logs `db` in with the stored login to "master"; true when connected.
bool ConnectWithStoredLogin(App& app, DatabaseCalls& db);
// Closes the connection, then logs in again with the stored login.
bool ReopenMainConnection(App& app);
bool ReopenSecondConnection(App& app);

// True when 编辑框_IP holds exactly this machine's first IPv4 address or its host name.
bool IsLocalServer(App& app);

// The log row of a database's files query (its second row), read and released.
struct LogFile {
  Text logicalName;             // the log's name in the database, for the shrink
  Text location;                // its path on the server's disk
  std::optional<double> pages;  // its size in 8-KB pages; nullopt when not numeric
};
// Runs the files query on `db` and reads its second row; nullopt when the query fails or has no
// second row. A connection found lost is reopened
// once (with `reopen`) and the query sent again. The table is released after reading, so no
// number of probes fills the connection's 30 open tables.
std::optional<LogFile> ReadLogFile(App& app, DatabaseCalls& db, bool (*reopen)(App&),
                                   const Text& database);

// One measurement of a database's log on the main connection.
struct LogMeasure {
  std::optional<float> size;  // kilobytes on this machine's disk, or the server's pages / 124
  Text logicalName;           // empty when the log row could not be read
};
// On this machine (`local`): the size of the file at the server's path, in kilobytes of 1024
// bytes, a file that is not there counting as 0; sets logFilePath. Otherwise the server's size
// column divided by 124.
LogMeasure MeasureLog(App& app, const Text& database, bool local);
inline std::optional<float> LocalLogSizeKB(App& app, const Text& database) {
  return MeasureLog(app, database, true).size;
}
inline std::optional<float> ServerLogSizeMB(App& app, const Text& database) {
  return MeasureLog(app, database, false).size;
}

}  // namespace tw
