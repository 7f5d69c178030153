// Benchmark of the database object against the bare driver doing the same ODBC calls, both on
// the simulator: connect/close cycles, and opening a 1000-row result and walking it. Prints the
// times and the object's cost as a ratio of the bare driver's. Run with scripts/bench-odbc.sh; not
// part of the test suite.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "app/database_unit.h"
#include "runtime/gbk.h"
#include "runtime/odbc/odbc_api.h"
#include "tests/odbc/odbc_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& fn, int times) {
  const auto start = Clock::now();
  for (int i = 0; i < times; ++i) fn();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::u16string W(const std::string& s) {
  return tw::GbkToUtf16(s);
}

// The bare driver: the calls the object makes for a login, without the file data source.
struct Bare {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;

  bool Connect(const std::string& cs) {
    SQLAllocEnv(&env);
    SQLAllocConnect(env, &dbc);
    SQLSetConnectOption(dbc, SQL_LOGIN_TIMEOUT, 15);
    std::u16string in = W(cs);
    SQLWCHAR out[512];
    SQLSMALLINT n = 0;
    return SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()),
                                           SQL_NTS, out, 512, &n, SQL_DRIVER_NOPROMPT));
  }
  void Close() {
    SQLDisconnect(dbc);
    SQLFreeConnect(dbc);
    SQLFreeEnv(env);
  }
  // A forward-only read-only result run as one batch, every field of every row read once.
  long Walk(const std::string& sql) {
    SQLHSTMT st;
    SQLAllocStmt(dbc, &st);
    SQLSetStmtOption(st, SQL_QUERY_TIMEOUT, 15);
    std::u16string text = W(sql);
    SQLExecDirectW(st, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS);
    long seen = 0;
    while (SQL_SUCCEEDED(SQLFetch(st)) && seen < 100000) {
      SQLWCHAR name[512];
      SQLLEN ind = 0;
      SQLGetData(st, 1, SQL_C_WCHAR, name, sizeof(name), &ind);
      SQLINTEGER v = 0;
      SQLGetData(st, 2, SQL_C_SLONG, &v, sizeof(v), &ind);
      ++seen;
    }
    SQLFreeStmt(st, SQL_DROP);
    return seen;
  }
};

std::string Fixture(int databases) {
  std::string json = R"({"logins": [{"name": "sa", "password": "Tidewell#1"}], "databases": [)";
  for (int i = 0; i < databases; ++i) {
    json += (i ? "," : "") + std::string(R"({"name": "db)") + std::to_string(10000 + i) + "\"}";
  }
  return json + "]}";
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 50;
  const int walks = argc > 2 ? std::atoi(argv[2]) : 5;
  tw::odbctest::SharedEnvironment();
  tw::test::SimulatorOptions options;
  options.fixtureJson = Fixture(996);  // with the four system databases: 1000 rows
  tw::test::SimulatorProcess sim(options);
  const std::string server = "127.0.0.1," + std::to_string(sim.port());
  const std::string cs =
      "DRIVER=SQL Server;SERVER=" + server + ";UID=sa;PWD=Tidewell#1;DATABASE=master;";
  const tw::Value login[] = {tw::Value::Str(server), tw::Value::Str("sa"),
                             tw::Value::Str("Tidewell#1"), tw::Value::Str("master")};

  tw::DatabaseUnit unit;
  const double objConnect = Seconds(
      [&] {
        if (!unit.ConnectSqlServer(login[0], login[1], login[2], login[3], {},
                                   tw::Value::Bool(true))) {
          std::fprintf(stderr, "connect failed\n");
          std::exit(1);
        }
        unit.CloseDatabase();
      },
      cycles);
  Bare bare;
  const double bareConnect = Seconds(
      [&] {
        if (!bare.Connect(cs)) {
          std::fprintf(stderr, "bare connect failed\n");
          std::exit(1);
        }
        bare.Close();
      },
      cycles);

  const std::string sql = "select name, database_id from sys.databases";
  unit.ConnectSqlServer(login[0], login[1], login[2], login[3], {}, tw::Value::Bool(true));
  long objRows = 0;
  const double objWalk = Seconds(
      [&] {
        const tw::Value h = tw::Value::Int(unit.OpenTable(tw::Value::Str(sql)));
        objRows = 0;
        while (unit.ReadCol(h, tw::Value::Int(2)) != tw::Value::Int(0)) {
          ++objRows;
          unit.MoveNext(h);
        }
        unit.CloseTable(h);
      },
      walks);
  bare.Connect(cs);
  long bareRows = 0;
  const double bareWalk = Seconds([&] { bareRows = bare.Walk(sql); }, walks);
  bare.Close();

  std::printf(
      "connect+close: object %.2f ms, bare driver %.2f ms per cycle, ratio %.2f (%d cycles)\n",
      1000 * objConnect / cycles, 1000 * bareConnect / cycles, objConnect / bareConnect, cycles);
  std::printf(
      "open+walk %ld rows: object %.1f ms, bare driver %.1f ms (%ld rows), ratio %.2f (%d runs)\n",
      objRows, 1000 * objWalk / walks, 1000 * bareWalk / walks, bareRows, objWalk / bareWalk,
      walks);
  return 0;
}
