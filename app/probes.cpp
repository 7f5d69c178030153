// The shared connect and reopen routines, the local-server test and the log-size probes.
#include "app/probes.h"

#include "app/app.h"
#include "app/sql_texts.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "ui/frame.h"

namespace tw {

bool ConnectWithStoredLogin(App& app, DatabaseCalls& db) {
  return db.Connect(app.serverAddress, app.loginName, app.loginPassword);
}

bool ReopenMainConnection(App& app) {
  app.mainDb.Close();
  return ConnectWithStoredLogin(app, app.mainDb);
}

bool ReopenSecondConnection(App& app) {
  app.secondDb.Close();
  return ConnectWithStoredLogin(app, app.secondDb);
}

bool IsLocalServer(App& app) {
  const Text address = app.EditText(ids::编辑框_IP);
  if (address == LocalIp()) return true;
  return address == HostName();
}

std::optional<LogFile> ReadLogFile(App& app, DatabaseCalls& db, bool (*reopen)(App&),
                                   const Text& database) {
  const Text query = sql::FilesQuery(database);
  int table = db.Open(query);
  if (table == 0 && db.LastFailureLostConnection() && reopen(app)) table = db.Open(query);
  if (table == 0) return std::nullopt;
  db.MoveNext(table);
  LogFile log;
  log.logicalName = db.Read(table, "name").AsText();
  log.location = db.Read(table, "CurrentLocation").AsText();
  const Value size = db.Read(table, "size");
  if (size.IsIntegral()) log.pages = static_cast<double>(size.Integer());
  if (size.IsNumeric() && !size.IsIntegral()) log.pages = size.Real();
  db.CloseTable(table);
  // A real file always has a logical name: none means there was no second row.
  if (log.logicalName.empty()) return std::nullopt;
  return log;
}

LogMeasure MeasureLog(App& app, const Text& database, bool local) {
  LogMeasure m;
  const auto log = ReadLogFile(app, app.mainDb, &ReopenMainConnection, database);
  if (!log) return m;
  m.logicalName = log->logicalName;
  if (local) {
    app.logFilePath = log->location;
    const std::int64_t bytes = FileSize(app.logFilePath);
    m.size = static_cast<float>(static_cast<double>(bytes < 0 ? 0 : bytes) / 1024.0);
  } else if (log->pages) {
    m.size = static_cast<float>(*log->pages / 124.0);
  }
  return m;
}

}  // namespace tw
