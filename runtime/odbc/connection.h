// The connection layer of the database object: a small table of named entry points over the
// ODBC driver manager. A Database is one connection with up to 30 open result tables, each a
// copy of its result read whole on opening (their entry points are in runtime/odbc/table.h);
// every entry point takes it first and answers with its failure value when it is missing. Texts
// are GBK; the layer speaks UTF-16 to the driver so that the locale never changes them.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/value.h"

namespace tw::odbc {

using TableHandle = std::int32_t;  // 0 means no table

inline constexpr int kTableSlots = 30;
inline constexpr int kLoginTimeoutSeconds = 15;
inline constexpr int kQueryTimeoutSeconds = 15;
// Each text copy of a row keeps at most this many bytes, terminator included.
inline constexpr std::size_t kTextCopyBytes = 512;
// A result is read whole when its table is opened; one whose copy would take more memory than
// this fails to open. It holds a long value at its own bound of 64 MiB with room to spare.
inline constexpr std::size_t kMaxResultBytes = std::size_t{128} << 20;
inline constexpr const char* kResultTooLargeMessage = "the result is larger than a table may hold";
// The failure recorded when memory ran out inside a call; the call then gives its failure value.
inline constexpr const char* kOutOfMemoryMessage = "out of memory";

// One failure as the driver manager or the driver described it. The state is empty for a
// failure that the object found itself (no connection, no free slot, unknown table).
struct Diagnostic {
  Text sqlState;
  std::int32_t nativeError = 0;
  Text message;                       // every record's text, one per line
  Text principalMessage;              // the text that says why: the principal record's, or the
                                      // reason that a statement-failed notice follows
  std::vector<std::int32_t> natives;  // every record's native number, in order
};

// The record of a failure the object found itself: no state, and `why` as its text.
Diagnostic OwnFailure(const char* why);
// Makes `failure` the record of memory that ran out inside a call. It never throws: the message
// is short enough to need no allocation, and should one fail the record stays empty.
void RecordOutOfMemory(Diagnostic& failure) noexcept;

// A statement parameter: text (length -1, NUL-terminated GBK) or byte data with its length.
struct SqlParam {
  const void* data = nullptr;
  std::int64_t length = -1;
};

struct Database;  // runtime/odbc/database.h
struct DatabaseDeleter {
  void operator()(Database* db) const;
};
using DatabasePtr = std::unique_ptr<Database, DatabaseDeleter>;

// Connects with a stored connection string (its "ODBC;" prefix is optional). On failure no
// Database results and `failure`, when given, receives the driver's diagnostics.
DatabasePtr NewOpenDatabase(std::string_view connection, bool readOnly, bool noPrompt,
                            Diagnostic* failure = nullptr);
// Closes every table, disconnects and releases the connection; `db` is empty afterwards.
void CloseDatabase(DatabasePtr& db);
bool ExecuteSql(Database* db, std::string_view sql, const SqlParam* params, int count);

// What the connection keeps for its owner.
const Text& StoredConnectionString(const Database* db);
bool IsUpdatable(const Database* db);
char IdentifierQuote(const Database* db);
// The last failure of an entry point on this connection.
const Diagnostic& LastFailure(const Database* db);
// The native numbers of every message the last ExecuteSql received, informational ones (such
// as a severity-10 server message) included, whether it succeeded or not.
const std::vector<std::int32_t>& LastStatementMessages(const Database* db);

// Tests shorten the waits here; 0 restores the production values of 15 s.
void SetTimeoutsForTesting(int loginSeconds, int querySeconds);
// Tests lower the memory bound of a result here; 0 restores kMaxResultBytes.
void SetResultLimitForTesting(std::size_t bytes);

}  // namespace tw::odbc
