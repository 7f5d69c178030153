// Inside of the connection layer: the connection and result-table records, the checked way of
// making ODBC calls and the helpers around the wide entry points. Only runtime/odbc/ uses it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
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

// What a call must answer to count as done.
enum class Expect : std::uint8_t {
  Answer,  // SQL_SUCCESS or SQL_SUCCESS_WITH_INFO: the call delivered what it was asked for
  Done,    // also SQL_NO_DATA: a statement that touched no rows has still run
  Row,     // a fetch: SQL_NO_DATA is the end, and a warning of an error in the row (01S01) fails
};

// The one way the object makes an ODBC call: on a handle of a type, with the record that a
// failure's diagnostics go to (none where a failure only means "no answer"). Each call is
// repeated while the driver answers that it is still executing, and its diagnostics are read
// from the handle at once, before a later call can clear them. The handle is looked at only
// when a failure is judged, so a call that makes the handle is checked on it as well.
class CheckedCalls {
 public:
  CheckedCalls(SQLSMALLINT handleType, const SQLHANDLE& handle, Diagnostic* failure = nullptr)
      : type_(handleType), handle_(handle), failure_(failure) {}
  // The handle is kept by reference: a temporary one would be gone when a failure is judged.
  CheckedCalls(SQLSMALLINT, SQLHANDLE&&, Diagnostic* = nullptr) = delete;

  template <typename Fn>
  bool Run(Fn&& call, Expect expect = Expect::Answer) {
    rc_ = Repeat(call);
    const bool ok = Judge(expect);
    if (!ok && failure_ != nullptr) *failure_ = ReadDiagnostics(type_, handle_);
    return ok;
  }
  // The return code of the last call.
  SQLRETURN rc() const { return rc_; }

 private:
  bool Judge(Expect expect) const {
    switch (expect) {
      case Expect::Answer:
        return Returned(rc_);
      case Expect::Done:
        return Succeeded(rc_);
      case Expect::Row:
        return Succeeded(rc_) &&
               !(rc_ == SQL_SUCCESS_WITH_INFO && HasState(type_, handle_, "01S01"));
    }
    return false;
  }

  SQLSMALLINT type_;
  const SQLHANDLE& handle_;
  Diagnostic* failure_;
  SQLRETURN rc_ = SQL_SUCCESS;
};

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

// Whether a read of a field gave a value: an answer that is neither NULL nor empty. Such reads
// record no failure; the caller falls back to the row's text copy when nothing came.
inline bool Taken(SQLRETURN rc, SQLLEN indicator) {
  return Returned(rc) && indicator != SQL_NULL_DATA && indicator != 0;
}

// Byte data of a column: `whole` reads on until the value is complete, else one piece of `size`
// bytes is taken. False when the first call gives no value (NULL, empty or an error).
// No value grows past `cap` bytes (at most kMaxLongValueBytes).
bool ReadBytesInPieces(const GetDataCall& get, bool whole, std::size_t size, Bytes* out,
                       std::size_t cap = kMaxLongValueBytes);
// Wide text of a column in pieces of `units` UTF-16 units (terminator included), the same way.
bool ReadWideInPieces(const GetDataCall& get, bool whole, std::size_t units, std::u16string* out,
                      std::size_t cap = kMaxLongValueBytes);

// Number of UTF-16 units a wide read delivered into a buffer of `units` (terminator included).
inline std::size_t UnitsDelivered(SQLLEN indicator, std::size_t units) {
  if (indicator == SQL_NO_TOTAL || indicator < 0) return units - 1;
  return std::min<std::size_t>(static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR), units - 1);
}

int LoginTimeoutSeconds();
int QueryTimeoutSeconds();
// The most memory the copy of one result may take (kMaxResultBytes unless a test lowered it).
std::size_t ResultLimitBytes();

// How a column's field is read from the driver, once per row, and made into a field value.
enum class Reading : std::uint8_t {
  None,  // neither a fetch type nor a text copy: the column reads as an empty text
  Bit,   // the fixed types, read as their C type
  Byte,
  Short,
  Int,
  Float,
  Double,
  DateTime,
  CopyText,  // the text copy: at most 511 GBK bytes of the value
  Text,      // character data wider than a copy: display width - 1 bytes, long text whole
  Bytes,     // byte data: a column of known size in one piece, long data whole
};

struct Column {
  Text name;
  SQLSMALLINT sqlType = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
  SQLSMALLINT nullable = 0;
  std::int64_t displayWidth = 0;
  Reading reading = Reading::None;
};

// One field of a row as the driver delivered it: nothing (NULL, empty or unreadable), an
// integer (the fixed integer types and bit), a real (float types and date-times as day counts),
// wide text or byte data. Texts stay UTF-16 until a read makes the GBK value, so that the cuts
// to the display width and to the copy's 511 bytes fall between characters as they always did.
using Cell = std::variant<std::monostate, std::int64_t, double, std::u16string, Bytes>;

// A result read whole when it was opened: its columns and every row's fields, row after row.
// The statement that produced it is gone by then, so the connection is free for the next one.
struct Table {
  TableHandle handle = 0;
  std::vector<Column> columns;
  std::vector<Cell> cells;  // rowCount * columns.size(), row by row
  long row = 0;             // the current row, from 1
  long rowCount = 0;
  bool atBeginning = true;
  bool atEnd = true;

  const Cell& At(long rowNumber, std::size_t column) const {
    return cells[static_cast<std::size_t>(rowNumber - 1) * columns.size() + column];
  }
};

// Describes the result of an executed statement into `t->columns`, with each column's reading.
bool DescribeResult(Database& db, SQLHSTMT stmt, Table* t);
// Reads every row of the described result into `t`, each field once, in column order. A fetch
// that fails after the first row ends the rows without failing.
enum class Filled : std::uint8_t { Whole, FirstFetchFailed, OverTheBound };
Filled ReadResult(Database& db, SQLHSTMT stmt, Table* t);

struct Database {
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  Text connection;  // "ODBC;" + the completed connection string
  bool updatable = true;
  char quote = ' ';
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
  // A failure the object found itself.
  void Fail(const char* what);
  // Calls on the connection handle and on one of its statements; a failure becomes the
  // connection's last failure.
  CheckedCalls OnConnection() { return {SQL_HANDLE_DBC, dbc, &lastFailure}; }
  CheckedCalls OnStatement(const SQLHSTMT& stmt) { return {SQL_HANDLE_STMT, stmt, &lastFailure}; }
  // Sets the query timeout on a new statement, unless the driver once refused it.
  void ApplyQueryTimeout(SQLHSTMT stmt);
};

}  // namespace tw::odbc
