// The benchmarks' bare driver and small helpers (see bench_support.h).
#include "tests/bench/bench_support.h"

#include <algorithm>
#include <chrono>

#include "runtime/gbk.h"

namespace tw::bench {

double NowMs() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string Fixture(int databases) {
  std::string dbs;
  for (int i = 0; i < databases; ++i)
    dbs += (i ? "," : "") + ("{\"name\":\"db" + std::to_string(i) + "\"}");
  return "{\"logins\":[{\"name\":\"sa\",\"password\":\"Tidewell#1\"}],\"databases\":[" + dbs + "]}";
}

std::string FilesQuery(const std::string& name) {
  return "select database_id,name,physical_name AS CurrentLocation,state_desc,size from "
         "sys.master_files where database_id=db_id(N'" +
         name + "');";
}

BareDriver::BareDriver(std::string connection) : connection_(std::move(connection)) {
  (void)SQLAllocEnv(&env_);
}

BareDriver::~BareDriver() {
  Close();
  (void)SQLFreeEnv(env_);
}

bool BareDriver::Connect() {
  Close();
  if (!SQL_SUCCEEDED(SQLAllocConnect(env_, &dbc_))) return false;
  std::u16string in = GbkToUtf16(connection_);
  const SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()),
                                         SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    (void)SQLFreeConnect(dbc_);
    dbc_ = SQL_NULL_HDBC;
    return false;
  }
  return true;
}

void BareDriver::Close() {
  if (dbc_ == SQL_NULL_HDBC) return;
  (void)SQLDisconnect(dbc_);
  (void)SQLFreeConnect(dbc_);
  dbc_ = SQL_NULL_HDBC;
}

std::vector<std::string> BareDriver::Column1(const std::string& sql) {
  std::vector<std::string> out;
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocStmt(dbc_, &st))) return out;
  std::u16string text = GbkToUtf16(sql);
  if (SQL_SUCCEEDED(SQLExecDirectW(st, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS))) {
    SQLWCHAR buf[300];
    SQLLEN len = 0;
    while (SQL_SUCCEEDED(SQLFetch(st))) {
      if (!SQL_SUCCEEDED(SQLGetData(st, 1, SQL_C_WCHAR, buf, sizeof buf, &len))) len = 0;
      const std::size_t units = len > 0 ? std::min<std::size_t>(len / 2, 299) : 0;
      out.push_back(Utf16ToGbk(std::u16string_view(reinterpret_cast<char16_t*>(buf), units)));
    }
  }
  (void)SQLFreeStmt(st, SQL_DROP);
  return out;
}

bool BareDriver::Run(const std::string& sql) {
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocStmt(dbc_, &st))) return false;
  std::u16string text = GbkToUtf16(sql);
  const SQLRETURN rc = SQLExecDirectW(st, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS);
  const bool ok = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
  if (ok) {
    do {
      SQLSMALLINT columns = 0;
      if (SQL_SUCCEEDED(SQLNumResultCols(st, &columns)) && columns > 0) {
        while (SQL_SUCCEEDED(SQLFetch(st))) {
        }
      }
    } while (SQL_SUCCEEDED(SQLMoreResults(st)));
  }
  (void)SQLFreeStmt(st, SQL_DROP);
  return ok;
}

double BareListing(BareDriver& bare, int* rows) {
  const double start = NowMs();
  bare.Connect();
  bare.Column1("SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES");
  int files = 0;
  for (const std::string& name : bare.Column1("SELECT NAME FROM MASTER.DBO.SYSDATABASES")) {
    bare.Column1(FilesQuery(name));
    ++files;
  }
  bare.Column1("SELECT count(name) FROM master.dbo.sysdatabases");
  bare.Column1("SELECT Name FROM Master..SysDatabases");
  const double ms = NowMs() - start;
  bare.Close();
  if (rows != nullptr) *rows = files;
  return ms;
}

}  // namespace tw::bench
