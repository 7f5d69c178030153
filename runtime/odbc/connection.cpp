// Connecting, closing and executing statements: the connection half of the connection layer.
#include <algorithm>

#include "runtime/odbc/database.h"
#include "runtime/odbc/odbc_platform.h"
#include "runtime/odbc/sql_text.h"

namespace tw::odbc {
namespace {

constexpr SQLSMALLINT kCompletedChars = 512;

// Information items are asked without a failure record: an item the driver does not answer
// keeps its default, and a connection that stands has not failed.

// Reads a text item of SQLGetInfo; "" when the driver does not answer it.
Text InfoText(SQLHDBC dbc, SQLUSMALLINT item) {
  SQLWCHAR buf[64] = {};
  SQLSMALLINT bytes = 0;
  CheckedCalls info(SQL_HANDLE_DBC, dbc);
  if (!info.Run(
          [&] { return SQLGetInfoW(dbc, item, buf, sizeof(buf) - sizeof(SQLWCHAR), &bytes); })) {
    return {};
  }
  return FromWide(buf, std::min<std::size_t>(bytes < 0 ? 0 : bytes / 2, 63));
}

bool InfoValue(SQLHDBC dbc, SQLUSMALLINT item, void* value, SQLSMALLINT size) {
  CheckedCalls info(SQL_HANDLE_DBC, dbc);
  return info.Run([&] { return SQLGetInfoW(dbc, item, value, size, nullptr); });
}

bool InfoShort(SQLHDBC dbc, SQLUSMALLINT item, SQLSMALLINT* value) {
  return InfoValue(dbc, item, value, sizeof(*value));
}

// The driver must offer level-1 API and minimum SQL grammar conformance.
bool Conforms(SQLHDBC dbc) {
  SQLSMALLINT api = 0;
  SQLSMALLINT grammar = 0;
  return InfoShort(dbc, SQL_ODBC_API_CONFORMANCE, &api) && api >= SQL_OAC_LEVEL1 &&
         InfoShort(dbc, SQL_ODBC_SQL_CONFORMANCE, &grammar) && grammar >= SQL_OSC_MINIMUM;
}

void ReadProperties(Database& db) {
  if (InfoText(db.dbc, SQL_DATA_SOURCE_READ_ONLY) == "Y") db.updatable = false;
  const Text quote = InfoText(db.dbc, SQL_IDENTIFIER_QUOTE_CHAR);
  db.quote = (quote.size() == 1) ? quote[0] : ' ';
}

// Reads every row of every result so that the connection is free for the next statement,
// noting the messages that arrive with the later results. The statement has run by then: a
// failure on the way only ends the draining and is no failure of the statement.
void DrainResults(SQLHSTMT stmt, std::vector<std::int32_t>& messages) {
  CheckedCalls drain(SQL_HANDLE_STMT, stmt);
  for (;;) {
    SQLSMALLINT columns = 0;
    if (drain.Run([&] { return SQLNumResultCols(stmt, &columns); }) && columns > 0) {
      while (drain.Run([&] { return SQLFetch(stmt); })) {
      }
    }
    const bool more = drain.Run([&] { return SQLMoreResults(stmt); });
    if (drain.rc() == SQL_SUCCESS_WITH_INFO || drain.rc() == SQL_ERROR) {
      const Diagnostic d = ReadDiagnostics(SQL_HANDLE_STMT, stmt);
      messages.insert(messages.end(), d.natives.begin(), d.natives.end());
    }
    if (!more) return;
  }
}

}  // namespace

void DatabaseDeleter::operator()(Database* db) const {
  delete db;
}

Database::~Database() {
  for (auto& slot : slots) slot.reset();
  // Unchecked: the connection is going away, so a failure has no one left to be reported to.
  if (connected) (void)SQLDisconnect(dbc);
  ReleaseConnectionHandle(dbc);
}

Table* Database::Find(TableHandle handle) {
  if (handle == 0) return nullptr;
  for (auto& slot : slots) {
    if (slot && slot->handle == handle) return slot.get();
  }
  return nullptr;
}

Diagnostic OwnFailure(const char* why) {
  return Diagnostic{{}, 0, why, why, {}};
}

void RecordOutOfMemory(Diagnostic& failure) noexcept {
  failure = Diagnostic{};
  try {
    failure.message = kOutOfMemoryMessage;
  } catch (...) {
  }
}

void Database::Fail(const char* what) {
  lastFailure = OwnFailure(what);
}

void Database::ApplyQueryTimeout(SQLHSTMT stmt) {
  if (!setQueryTimeout) return;
  // No failure record: a driver that refuses the option runs its statements without a timeout.
  CheckedCalls option(SQL_HANDLE_STMT, stmt);
  if (!option.Run(
          [&] {
            return SQLSetStmtOption(stmt, SQL_QUERY_TIMEOUT, static_cast<SQLULEN>(queryTimeout));
          },
          Expect::Done)) {
    setQueryTimeout = false;
  }
}

DatabasePtr NewOpenDatabase(std::string_view connection, bool readOnly, bool noPrompt,
                            Diagnostic* failure) {
  Diagnostic local;
  Diagnostic& diag = failure != nullptr ? *failure : local;
  diag = Diagnostic{};
  DatabasePtr db(new Database);
  db->queryTimeout = QueryTimeoutSeconds();
  db->dbc = AcquireConnectionHandle(&diag);
  if (db->dbc == SQL_NULL_HDBC) return {};

  // Unchecked: a driver without a login timeout still connects, on its own timeout.
  (void)SQLSetConnectOption(db->dbc, SQL_LOGIN_TIMEOUT,
                            static_cast<SQLULEN>(LoginTimeoutSeconds()));
  if (readOnly) {
    // Unchecked: the object keeps the connection read-only itself, whatever the driver says.
    (void)SQLSetConnectOption(db->dbc, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY);
    db->updatable = false;
  }

  const std::string_view plain = DriverConnectionString(connection);
  std::u16string in = Wide(plain);
  SQLWCHAR out[kCompletedChars] = {};
  SQLSMALLINT outChars = 0;
  const SQLUSMALLINT completion = noPrompt        ? SQL_DRIVER_NOPROMPT
                                  : plain.empty() ? SQL_DRIVER_PROMPT
                                                  : SQL_DRIVER_COMPLETE;
  // The login's failure goes to the caller: a connection that never stood has no record.
  CheckedCalls login(SQL_HANDLE_DBC, db->dbc, &diag);
  if (!login.Run([&] {
        return SQLDriverConnectW(db->dbc, static_cast<SQLHWND>(DriverDialogOwner()), WideArg(in),
                                 SQL_NTS, out, kCompletedChars, &outChars, completion);
      })) {
    // SQL_NO_DATA means the operator cancelled a driver dialog: no connection either.
    if (diag.message.empty())
      diag.message = login.rc() == SQL_NO_DATA ? "connection cancelled" : "connection failed";
    return {};
  }
  db->connected = true;
  // A completed string longer than the buffer comes back cut, without a terminator.
  const std::size_t units =
      std::clamp<std::size_t>(outChars < 0 ? 0 : outChars, 0, kCompletedChars - 1);
  db->connection = "ODBC;" + FromWide(out, units);

  if (!Conforms(db->dbc)) {
    // What the last information call left on the handle, whether it failed or answered too low.
    diag = ReadDiagnostics(SQL_HANDLE_DBC, db->dbc);
    diag.message = "the driver lacks level 1 ODBC conformance";
    return {};
  }
  ReadProperties(*db);
  return db;
}

void CloseDatabase(DatabasePtr& db) {
  db.reset();
}

bool ExecuteSql(Database* db, std::string_view sql, const SqlParam* params, int count) {
  if (db == nullptr) return false;
  std::u16string sqlText = Wide(TranslateBrackets(sql, db->quote));
  db->lastStatementMessages.clear();
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!db->OnConnection().Run([&] { return SQLAllocStmt(db->dbc, &stmt); })) return false;
  db->ApplyQueryTimeout(stmt);
  CheckedCalls calls = db->OnStatement(stmt);
  // Runs after the failure was recorded.
  auto fail = [&] {
    db->lastStatementMessages = db->lastFailure.natives;
    // Unchecked: cancelling only frees the connection for the next statement.
    (void)SQLCancel(stmt);
    // Unchecked: a statement that cannot be freed cannot be freed again either.
    (void)SQLFreeStmt(stmt, SQL_DROP);
    return false;
  };

  std::vector<std::u16string> texts;
  std::vector<SQLLEN> indicators;
  texts.reserve(static_cast<std::size_t>(std::max(count, 0)));
  indicators.reserve(static_cast<std::size_t>(std::max(count, 0)));
  static const unsigned char kNoBytes = 0;
  // Binding is unchecked: a parameter that did not bind fails the execution (07002), whose
  // diagnostics are then the ones recorded.
  for (int i = 0; params != nullptr && i < count; ++i) {
    const SqlParam& p = params[i];
    const auto number = static_cast<SQLUSMALLINT>(i + 1);
    if (p.length < 0) {
      texts.push_back(Wide(p.data != nullptr ? static_cast<const char*>(p.data) : ""));
      std::u16string& w = texts.back();
      indicators.push_back(SQL_NTS);
      const SQLULEN units = std::max<SQLULEN>(w.size(), 1);
      (void)SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WLONGVARCHAR, units, 0,
                             WideArg(w), static_cast<SQLLEN>((w.size() + 1) * sizeof(SQLWCHAR)),
                             &indicators.back());
    } else {
      indicators.push_back(static_cast<SQLLEN>(p.length));
      void* data = const_cast<void*>(p.data != nullptr && p.length > 0 ? p.data : &kNoBytes);
      (void)SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                             std::max<SQLULEN>(static_cast<SQLULEN>(p.length), 1), 0, data,
                             static_cast<SQLLEN>(p.length), &indicators.back());
    }
  }
  // Executed directly, in one request: without parameters as a plain batch, so that a USE or
  // SET lasts for the session; with them the driver sends a server-side call (sp_executesql),
  // whose database change ends with it.
  if (!calls.Run([&] { return SQLExecDirectW(stmt, WideArg(sqlText), SQL_NTS); }, Expect::Done)) {
    return fail();
  }
  if (calls.rc() == SQL_SUCCESS_WITH_INFO) {
    db->lastStatementMessages = ReadDiagnostics(SQL_HANDLE_STMT, stmt).natives;
  }
  DrainResults(stmt, db->lastStatementMessages);
  // Unchecked: the statement has run; one that cannot be freed cannot be freed again either.
  (void)SQLFreeStmt(stmt, SQL_DROP);
  return true;
}

const Text& StoredConnectionString(const Database* db) {
  static const Text kNone;
  return db != nullptr ? db->connection : kNone;
}

bool IsUpdatable(const Database* db) {
  return db != nullptr && db->updatable;
}

char IdentifierQuote(const Database* db) {
  return db != nullptr ? db->quote : ' ';
}

const std::vector<std::int32_t>& LastStatementMessages(const Database* db) {
  static const std::vector<std::int32_t> kNone;
  return db != nullptr ? db->lastStatementMessages : kNone;
}

const Diagnostic& LastFailure(const Database* db) {
  static const Diagnostic kNone;
  return db != nullptr ? db->lastFailure : kNone;
}

}  // namespace tw::odbc
