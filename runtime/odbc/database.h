// Inside of the connection layer: the connection and result-table records, the judgement of
// ODBC return codes and the helpers around the wide entry points. Only runtime/odbc/ uses it.
#pragma once

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/odbc/connection.h"
#include "runtime/odbc/odbc_api.h"

namespace tw::odbc {

// SQL_SUCCESS, SQL_SUCCESS_WITH_INFO and SQL_NO_DATA are successes; everything else fails.
inline bool Succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA;
}
inline bool Returned(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// Repeats a call at once for as long as the driver answers that it is still executing.
template <typename Fn>
SQLRETURN Repeat(Fn&& fn) {
  SQLRETURN rc;
  do {
    rc = fn();
  } while (rc == SQL_STILL_EXECUTING);
  return rc;
}

// GBK to NUL-terminated UTF-16 for the wide calls, and back.
std::u16string Wide(std::string_view gbk);
inline SQLWCHAR* WideArg(std::u16string& w) {
  return reinterpret_cast<SQLWCHAR*>(w.data());
}
// `lossy`, when given, tells whether a character GBK cannot hold became '?'.
Text FromWide(const SQLWCHAR* text, std::size_t units, bool* lossy = nullptr);

// Every diagnostic record of a handle. The principal record (its state and native error) is
// the first error that carries a native error number, else the first error, else the first.
Diagnostic ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);
// True when one of the handle's diagnostic records has this SQLSTATE.
bool HasState(SQLSMALLINT handleType, SQLHANDLE handle, const char* state);

// The process-wide environment: a connection handle is taken from it and given back under
// one lock, and the environment lives exactly as long as some connection handle does.
SQLHDBC AcquireConnectionHandle(Diagnostic* failure);
void ReleaseConnectionHandle(SQLHDBC dbc);
// Number of connection handles alive (for tests of the environment's lifetime).
int ConnectionHandlesAlive();

// A value read on in pieces keeps at most this many bytes (of UTF-16 for a text); the rest of
// a longer value is left unread.
inline constexpr std::size_t kMaxLongValueBytes = std::size_t{64} << 20;

// One SQLGetData of the column being read, its C type already chosen: the buffer, its size in
// bytes and the indicator the driver fills.
using GetDataCall = std::function<SQLRETURN(SQLPOINTER buffer, SQLLEN bytes, SQLLEN* indicator)>;

// Byte data of a column: `whole` reads on until the value is complete, else one piece of `size`
// bytes is taken. False when the first call gives no value (NULL, empty or an error).
bool ReadBytesInPieces(const GetDataCall& get, bool whole, std::size_t size, Bytes* out);
// Wide text of a column in pieces of `units` UTF-16 units (terminator included), the same way.
bool ReadWideInPieces(const GetDataCall& get, bool whole, std::size_t units, std::u16string* out);

// Number of UTF-16 units a wide read delivered into a buffer of `units` (terminator included).
inline std::size_t UnitsDelivered(SQLLEN indicator, std::size_t units) {
  if (indicator == SQL_NO_TOTAL || indicator < 0) return units - 1;
  return std::min<std::size_t>(static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR), units - 1);
}

int LoginTimeoutSeconds();
int QueryTimeoutSeconds();

struct Column {
  Text name;
  SQLSMALLINT sqlType = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
  SQLSMALLINT nullable = 0;
  std::int64_t displayWidth = 0;
  int copy = -1;  // index into Table::copies, -1 when the column has no text copy
};

// A column bound as wide text so that every fetch refreshes it.
struct TextCopy {
  static constexpr std::size_t kUnits = kTextCopyBytes;  // enough for 511 GBK bytes
  std::array<SQLWCHAR, kUnits> buffer{};
  SQLLEN indicator = SQL_NULL_DATA;
};

struct Table {
  TableHandle handle = 0;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  std::vector<Column> columns;
  std::vector<std::unique_ptr<TextCopy>> copies;
  long row = 0;
  long rowCount = 0;
  bool atBeginning = true;
  bool atEnd = true;

  Table() = default;
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  ~Table();
};

struct Database {
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  Text connection;  // "ODBC;" + the completed connection string
  bool updatable = true;
  char quote = ' ';
  bool staticCursors = false;
  bool setQueryTimeout = true;  // cleared once the driver refuses the option
  int queryTimeout = kQueryTimeoutSeconds;
  std::array<std::unique_ptr<Table>, kTableSlots> slots;
  Diagnostic lastFailure;
  std::vector<std::int32_t> lastStatementMessages;

  Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  Table* Find(TableHandle handle);
  void Fail(SQLSMALLINT handleType, SQLHANDLE handle);
  void Fail(const char* what);
  // Records that a value did not fit in memory; never throws.
  void OutOfMemory() noexcept;
  // Sets the query timeout on a new statement, unless the driver once refused it.
  void ApplyQueryTimeout(SQLHSTMT stmt);
};

}  // namespace tw::odbc
