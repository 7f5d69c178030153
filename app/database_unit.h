// The 外部数据库 unit: a non-visual unit of a window holding at most one connection to a SQL
// Server through the "SQL Server" ODBC driver. The application calls its methods through the
// frame with Values; the unit checks and converts them and calls the connection layer. It never
// shows a message: failures are results, and the last one's diagnostics can be read back.
#pragma once

#include <memory>
#include <new>
#include <vector>

#include "runtime/odbc/connection.h"
#include "runtime/odbc/table.h"
#include "ui/frame.h"

namespace tw {

// Method numbers of the unit, as passed to Frame::CallMethod.
enum DatabaseMethod : int {
  // server, user, password, database (texts), read-only (int, optional), no-prompt (bool,
  // optional) -> bool
  kDbConnectSqlServer = 0,
  kDbCloseDatabase = 1,     // -> nothing
  kDbOpenTable = 2,         // SQL text -> int table handle, 0 on failure
  kDbMoveNext = 3,          // table handle -> nothing
  kDbReadCol = 4,           // table handle, 1-based column number or column name -> value
  kDbExecuteSql = 5,        // SQL text, then parameters (texts or byte-sets) -> bool
  kDbCloseTable = 6,        // table handle -> bool
  kDbLastSqlState = 7,      // -> text, "" when the object itself refused the call
  kDbLastNativeError = 8,   // -> int
  kDbLastErrorMessage = 9,  // -> text, one line per diagnostic record
  // -> bool: the last ReadCol gave a text with characters GBK cannot hold (each as '?'), so it
  // cannot name what it was read from
  kDbLastReadLossy = 10,
  // -> text: the principal diagnostic's own text, without the others
  kDbLastErrorText = 11,
  // message number (int) -> bool: the last ExecuteSql received that server message
  kDbLastStatementHad = 12,
  // -> bool: a connection stands (it may still turn out lost at the next call)
  kDbConnected = 13,
};

class DatabaseUnit final : public UnitObject {
 public:
  DatabaseUnit() = default;
  ~DatabaseUnit() override;
  DatabaseUnit(const DatabaseUnit&) = delete;
  DatabaseUnit& operator=(const DatabaseUnit&) = delete;

  Value Call(int method, const std::vector<Value>& args) override;

  bool ConnectSqlServer(const Value& server, const Value& user, const Value& password,
                        const Value& database, const Value& readOnly = {},
                        const Value& noPrompt = {});
  void CloseDatabase();
  odbc::TableHandle OpenTable(const Value& sql);
  void MoveNext(const Value& table);
  Value ReadCol(const Value& table, const Value& field);
  bool ExecuteSql(const Value& sql, const std::vector<Value>& params = {});
  bool CloseTable(const Value& table);

  bool connected() const { return db_ != nullptr; }
  const odbc::Diagnostic& lastFailure() const { return lastFailure_; }

 private:
  void Refused(const char* why);
  void NoteFailure();
  Value Dispatch(int method, const std::vector<Value>& args);
  // Runs a method's body; when memory runs out inside it, records that and gives `failed`.
  template <typename R, typename Body>
  R Guarded(R failed, Body&& body) noexcept {
    try {
      return body();
    } catch (const std::bad_alloc&) {
      odbc::RecordOutOfMemory(lastFailure_);
      return failed;
    }
  }

  odbc::DatabasePtr db_;
  odbc::Diagnostic lastFailure_;
  bool lastReadLossy_ = false;
};

// Makes every 外部数据库 unit of a window built by this frame a DatabaseUnit.
void RegisterDatabaseUnit(Frame& frame);

}  // namespace tw
