// The process-wide ODBC environment with its reference count, diagnostics, wide-text helpers,
// and the timeouts and the result memory bound of the connection layer.
#include <algorithm>
#include <atomic>
#include <mutex>

#include "runtime/gbk.h"
#include "runtime/odbc/database.h"

namespace tw::odbc {
namespace {

std::mutex g_envLock;
SQLHENV g_env = SQL_NULL_HENV;
int g_envUsers = 0;

std::atomic<int> g_loginOverride{0};
std::atomic<int> g_queryOverride{0};
std::atomic<std::size_t> g_resultLimitOverride{0};

bool IsInfoState(const Text& state) {
  return state.size() >= 2 && state[0] == '0' && state[1] == '1';
}

struct Record {
  Text state;
  SQLINTEGER native = 0;
  Text message;
};

// Reading diagnostics judges its own answers: SQL_NO_DATA ends the records, and a failure of
// the reading has no diagnostics of its own to record.
bool ReadRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT number, Record* out) {
  SQLWCHAR state[6] = {};
  SQLINTEGER native = 0;
  std::vector<SQLWCHAR> text(1024);
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLGetDiagRecW(type, handle, number, state, &native, text.data(),
                                static_cast<SQLSMALLINT>(text.size()), &length);
  if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
    text.resize(static_cast<std::size_t>(length) + 1);
    rc = SQLGetDiagRecW(type, handle, number, state, &native, text.data(),
                        static_cast<SQLSMALLINT>(text.size()), &length);
  }
  if (!Returned(rc)) return false;
  out->state = FromWide(state, 5);
  out->native = native;
  const std::size_t units = length < 0 ? 0 : std::min<std::size_t>(length, text.size() - 1);
  out->message = FromWide(text.data(), units);
  return true;
}

}  // namespace

std::u16string Wide(std::string_view gbk) {
  return GbkToUtf16(gbk);
}

Text FromWide(const SQLWCHAR* text, std::size_t units, bool* lossy) {
  std::size_t n = 0;
  while (n < units && text[n] != 0) ++n;
  const std::u16string_view wide(reinterpret_cast<const char16_t*>(text), n);
  Text out = Utf16ToGbk(wide);
  if (lossy != nullptr) {
    // The converter writes '?' for what GBK cannot hold: more of them than were sent means
    // characters were lost.
    *lossy = std::count(out.begin(), out.end(), '?') > std::count(wide.begin(), wide.end(), u'?');
  }
  return out;
}

Diagnostic ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  Diagnostic d;
  if (handle == nullptr) return d;
  std::vector<Record> records;
  Record r;
  // A driver keeps a handful of records per call; the bound guards against one that never ends.
  for (SQLSMALLINT i = 1; i <= 64 && ReadRecord(handleType, handle, i, &r); ++i) {
    records.push_back(r);
  }
  const Record* principal = nullptr;
  for (const Record& rec : records) {
    if (!IsInfoState(rec.state) && rec.native != 0) {
      principal = &rec;
      break;
    }
  }
  for (const Record& rec : records) {
    if (principal == nullptr && !IsInfoState(rec.state)) principal = &rec;
  }
  if (principal == nullptr && !records.empty()) principal = &records.front();
  if (principal != nullptr) {
    d.sqlState = principal->state;
    d.nativeError = principal->native;
    d.principalMessage = principal->message;
    // SQL Server follows the message that says why with a notice that the whole statement
    // failed (5069 for ALTER DATABASE, 3013 for BACKUP), and the driver may list that notice
    // first: the text that tells the reason is the other error's.
    if (principal->native == 5069 || principal->native == 3013) {
      for (const Record& rec : records) {
        if (&rec != principal && !IsInfoState(rec.state) && rec.native != 0) {
          d.principalMessage = rec.message;
          break;
        }
      }
    }
  }
  for (const Record& rec : records) {
    if (!d.message.empty()) d.message += "\n";
    d.message += rec.message;
    d.natives.push_back(rec.native);
  }
  return d;
}

bool HasState(SQLSMALLINT handleType, SQLHANDLE handle, const char* state) {
  Record r;
  for (SQLSMALLINT i = 1; i <= 64 && ReadRecord(handleType, handle, i, &r); ++i) {
    if (r.state == state) return true;
  }
  return false;
}

SQLHDBC AcquireConnectionHandle(Diagnostic* failure) {
  std::lock_guard<std::mutex> lock(g_envLock);
  // Both allocations are judged on the environment handle as it is after the call: a failed
  // SQLAllocEnv may still have made one, with diagnostics on it.
  CheckedCalls env(SQL_HANDLE_ENV, g_env, failure);
  bool created = false;
  if (g_env == SQL_NULL_HENV) {
    if (!env.Run([] { return SQLAllocEnv(&g_env); })) {
      // Unchecked: the half-made environment is dropped either way; its failure is recorded.
      if (g_env != SQL_NULL_HENV) (void)SQLFreeEnv(g_env);
      g_env = SQL_NULL_HENV;
      if (failure != nullptr && failure->message.empty()) failure->message = "no ODBC environment";
      return SQL_NULL_HDBC;
    }
    created = true;
  }
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!env.Run([&] { return SQLAllocConnect(g_env, &dbc); })) {
    if (created) {
      // Unchecked: the environment was made for this connection only and nothing else uses it.
      (void)SQLFreeEnv(g_env);
      g_env = SQL_NULL_HENV;
    }
    return SQL_NULL_HDBC;
  }
  ++g_envUsers;
  return dbc;
}

void ReleaseConnectionHandle(SQLHDBC dbc) {
  if (dbc == SQL_NULL_HDBC) return;
  std::lock_guard<std::mutex> lock(g_envLock);
  // Unchecked, both: a handle given back is forgotten, whether or not the driver manager agrees.
  (void)SQLFreeConnect(dbc);
  if (--g_envUsers == 0) {
    (void)SQLFreeEnv(g_env);
    g_env = SQL_NULL_HENV;
  }
}

int ConnectionHandlesAlive() {
  std::lock_guard<std::mutex> lock(g_envLock);
  return g_envUsers;
}

int LoginTimeoutSeconds() {
  const int v = g_loginOverride.load();
  return v > 0 ? v : kLoginTimeoutSeconds;
}

int QueryTimeoutSeconds() {
  const int v = g_queryOverride.load();
  return v > 0 ? v : kQueryTimeoutSeconds;
}

void SetTimeoutsForTesting(int loginSeconds, int querySeconds) {
  g_loginOverride = loginSeconds;
  g_queryOverride = querySeconds;
}

std::size_t ResultLimitBytes() {
  const std::size_t v = g_resultLimitOverride.load();
  return v > 0 ? v : kMaxResultBytes;
}

void SetResultLimitForTesting(std::size_t bytes) {
  g_resultLimitOverride = bytes;
}

}  // namespace tw::odbc
