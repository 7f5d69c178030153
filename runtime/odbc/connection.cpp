// Connecting, closing and executing statements: the connection half of the connection layer.
#include <algorithm>

#include "runtime/odbc/database.h"
#include "runtime/odbc/odbc_platform.h"
#include "runtime/odbc/sql_text.h"

namespace tw::odbc {
namespace {

constexpr SQLSMALLINT kCompletedChars = 512;

// Reads a text item of SQLGetInfo; "" when the driver does not answer it.
Text InfoText(SQLHDBC dbc, SQLUSMALLINT item) {
  SQLWCHAR buf[64] = {};
  SQLSMALLINT bytes = 0;
  if (!Returned(SQLGetInfoW(dbc, item, buf, sizeof(buf) - sizeof(SQLWCHAR), &bytes))) return {};
  return FromWide(buf, std::min<std::size_t>(bytes < 0 ? 0 : bytes / 2, 63));
}

bool InfoShort(SQLHDBC dbc, SQLUSMALLINT item, SQLSMALLINT* value) {
  return Returned(SQLGetInfoW(dbc, item, value, sizeof(*value), nullptr));
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
  SQLUINTEGER scroll = 0;
  if (Returned(SQLGetInfoW(db.dbc, SQL_SCROLL_OPTIONS, &scroll, sizeof(scroll), nullptr))) {
    db.staticCursors = (scroll & SQL_SO_STATIC) != 0;
  }
}

// Reads every row of every result so that the connection is free for the next statement.
// Reads every result to its end, noting the messages that arrive with the later ones.
void DrainResults(SQLHSTMT stmt, std::vector<std::int32_t>& messages) {
  for (;;) {
    SQLSMALLINT columns = 0;
    if (Returned(SQLNumResultCols(stmt, &columns)) && columns > 0) {
      while (Returned(Repeat([&] { return SQLFetch(stmt); }))) {
      }
    }
    const SQLRETURN rc = Repeat([&] { return SQLMoreResults(stmt); });
    if (rc == SQL_SUCCESS_WITH_INFO || rc == SQL_ERROR) {
      const Diagnostic d = ReadDiagnostics(SQL_HANDLE_STMT, stmt);
      messages.insert(messages.end(), d.natives.begin(), d.natives.end());
    }
    if (!Returned(rc)) return;
  }
}

}  // namespace

void DatabaseDeleter::operator()(Database* db) const {
  delete db;
}

Database::~Database() {
  for (auto& slot : slots) slot.reset();
  if (connected) SQLDisconnect(dbc);
  ReleaseConnectionHandle(dbc);
}

Table::~Table() {
  if (stmt != SQL_NULL_HSTMT) SQLFreeStmt(stmt, SQL_DROP);
}

Table* Database::Find(TableHandle handle) {
  if (handle == 0) return nullptr;
  for (auto& slot : slots) {
    if (slot && slot->handle == handle) return slot.get();
  }
  return nullptr;
}

void Database::Fail(SQLSMALLINT handleType, SQLHANDLE handle) {
  lastFailure = ReadDiagnostics(handleType, handle);
}

void Database::Fail(const char* what) {
  lastFailure = Diagnostic{{}, 0, what, what, {}};
}

void Database::OutOfMemory() noexcept {
  // The message is short enough to need no allocation; should one fail, the record stays empty.
  lastFailure = Diagnostic{};
  try {
    lastFailure.message = kOutOfMemoryMessage;
  } catch (...) {
  }
}

void Database::ApplyQueryTimeout(SQLHSTMT stmt) {
  if (!setQueryTimeout) return;
  const SQLRETURN rc =
      SQLSetStmtOption(stmt, SQL_QUERY_TIMEOUT, static_cast<SQLULEN>(queryTimeout));
  if (!Succeeded(rc)) setQueryTimeout = false;
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

  SQLSetConnectOption(db->dbc, SQL_LOGIN_TIMEOUT, static_cast<SQLULEN>(LoginTimeoutSeconds()));
  if (readOnly) {
    SQLSetConnectOption(db->dbc, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY);
    db->updatable = false;
  }

  const std::string_view plain = DriverConnectionString(connection);
  std::u16string in = Wide(plain);
  SQLWCHAR out[kCompletedChars] = {};
  SQLSMALLINT outChars = 0;
  const SQLUSMALLINT completion = noPrompt        ? SQL_DRIVER_NOPROMPT
                                  : plain.empty() ? SQL_DRIVER_PROMPT
                                                  : SQL_DRIVER_COMPLETE;
  const SQLRETURN rc = Repeat([&] {
    return SQLDriverConnectW(db->dbc, static_cast<SQLHWND>(DriverDialogOwner()), WideArg(in),
                             SQL_NTS, out, kCompletedChars, &outChars, completion);
  });
  if (!Returned(rc)) {
    // SQL_NO_DATA means the operator cancelled a driver dialog: no connection either.
    diag = ReadDiagnostics(SQL_HANDLE_DBC, db->dbc);
    if (diag.message.empty())
      diag.message = rc == SQL_NO_DATA ? "connection cancelled" : "connection failed";
    return {};
  }
  db->connected = true;
  // A completed string longer than the buffer comes back cut, without a terminator.
  const std::size_t units =
      std::clamp<std::size_t>(outChars < 0 ? 0 : outChars, 0, kCompletedChars - 1);
  db->connection = "ODBC;" + FromWide(out, units);

  if (!Conforms(db->dbc)) {
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
  if (!Returned(SQLAllocStmt(db->dbc, &stmt))) {
    db->Fail(SQL_HANDLE_DBC, db->dbc);
    return false;
  }
  db->ApplyQueryTimeout(stmt);
  auto fail = [&] {
    db->Fail(SQL_HANDLE_STMT, stmt);
    db->lastStatementMessages = db->lastFailure.natives;
    SQLCancel(stmt);
    SQLFreeStmt(stmt, SQL_DROP);
    return false;
  };

  SQLRETURN rc;
  std::vector<std::u16string> texts;
  std::vector<SQLLEN> indicators;
  if (params == nullptr || count <= 0) {
    // Run as a plain batch: a USE or SET then lasts for the session, where a prepared
    // statement would run inside a server-side call that undoes it on return.
    rc = Repeat([&] { return SQLExecDirectW(stmt, WideArg(sqlText), SQL_NTS); });
    if (!Succeeded(rc)) return fail();
    if (rc == SQL_SUCCESS_WITH_INFO) {
      db->lastStatementMessages = ReadDiagnostics(SQL_HANDLE_STMT, stmt).natives;
    }
  } else {
    if (!Succeeded(Repeat([&] { return SQLPrepareW(stmt, WideArg(sqlText), SQL_NTS); })))
      return fail();
    texts.reserve(static_cast<std::size_t>(count));
    indicators.reserve(static_cast<std::size_t>(count));
    static const unsigned char kNoBytes = 0;
    for (int i = 0; i < count; ++i) {
      const SqlParam& p = params[i];
      const auto number = static_cast<SQLUSMALLINT>(i + 1);
      if (p.length < 0) {
        texts.push_back(Wide(p.data != nullptr ? static_cast<const char*>(p.data) : ""));
        std::u16string& w = texts.back();
        indicators.push_back(SQL_NTS);
        const SQLULEN units = std::max<SQLULEN>(w.size(), 1);
        SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WLONGVARCHAR, units, 0,
                         WideArg(w), static_cast<SQLLEN>((w.size() + 1) * sizeof(SQLWCHAR)),
                         &indicators.back());
      } else {
        indicators.push_back(static_cast<SQLLEN>(p.length));
        void* data = const_cast<void*>(p.data != nullptr && p.length > 0 ? p.data : &kNoBytes);
        SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                         std::max<SQLULEN>(static_cast<SQLULEN>(p.length), 1), 0, data,
                         static_cast<SQLLEN>(p.length), &indicators.back());
      }
    }
    rc = Repeat([&] { return SQLExecute(stmt); });
    if (!Succeeded(rc)) return fail();
  }
  DrainResults(stmt, db->lastStatementMessages);
  SQLFreeStmt(stmt, SQL_DROP);
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
