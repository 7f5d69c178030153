// The database object built for Win32, checked under Wine against the simulator (Wine's odbc32
// -> unixODBC -> FreeTDS): login, the temporary file's removal, GBK text both ways, a USE that
// lasts, a failed reconnect, braced passwords, brackets and parameters.
// Usage: tw_winodbc.exe PORT   (the simulator runs tests/odbc/odbc_fixture.json)
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/database_unit.h"
#include "platform/win32/wide_text.h"
#include "runtime/gbk.h"
#include "runtime/odbc/database.h"
#include "runtime/odbc/odbc_platform.h"

namespace {

int g_checks = 0;
int g_failed = 0;

void Check(bool ok, const char* what) {
  ++g_checks;
  if (!ok) ++g_failed;
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
}

bool Exists(const tw::Text& gbkPath) {
  return GetFileAttributesW(tw::Wide(gbkPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int main(int argc, char** argv) {
  using tw::Value;
  if (argc < 2) {
    std::fprintf(stderr, "usage: tw_winodbc PORT\n");
    return 2;
  }
  const Value server = Value::Str(std::string("127.0.0.1,") + argv[1]);
  const Value yes = Value::Bool(true);
  tw::DatabaseUnit unit;
  const bool connected = unit.ConnectSqlServer(server, Value::Str("sa"), Value::Str("Tidewell#1"),
                                               Value::Str("master"), {}, yes);
  Check(connected, "login as sa to master");
  if (!connected) {
    std::printf("  %s %d %s\n", unit.lastFailure().sqlState.c_str(), unit.lastFailure().nativeError,
                tw::GbkToUtf8(unit.lastFailure().message).c_str());
    return 1;
  }
  Check(!Exists(tw::odbc::TempFolder() + "~sqlsrv.dsn"), "temporary file data source removed");

  const Value count = unit.ReadCol(
      Value::Int(unit.OpenTable(Value::Str("SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES"))),
      Value::Int(1));
  Check(count == Value::Int(10), "database count is an int");

  const Value names = Value::Int(unit.OpenTable(Value::Str("select name from sys.databases")));
  bool sawChinese = false;
  for (int i = 0; i < 20; ++i) {
    const tw::Text name = unit.ReadCol(names, Value::Str("name")).AsText();
    if (name.empty()) break;
    sawChinese = sawChinese || name == tw::Gbk("销售库");
    unit.MoveNext(names);
  }
  Check(sawChinese, "Chinese database name arrives as GBK");

  const Value probe = Value::Int(unit.OpenTable(Value::Str(
      tw::Gbk("select database_id,name,physical_name AS CurrentLocation,state_desc,size from "
              "sys.master_files where database_id=db_id(N'销售库');"))));
  unit.MoveNext(probe);
  Check(unit.ReadCol(probe, Value::Str("size")) == Value::Int(2048), "log size by name");
  Check(
      unit.ReadCol(probe, Value::Str("CurrentLocation")).AsText().find(tw::Gbk("销售库_log.ldf")) !=
          std::string::npos,
      "Chinese path read back as GBK");
  Check(unit.ReadCol(probe, Value::Str("Size")) == Value::Str(""), "names are case-sensitive");

  Check(unit.ExecuteSql(Value::Str("USE sales")), "USE sales");
  Check(unit.ExecuteSql(Value::Str("DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)")),
        "shrink finds the log file in the database that USE chose");
  const Value current = Value::Int(
      unit.OpenTable(Value::Str("select name from sys.databases where database_id = db_id()")));
  Check(unit.ReadCol(current, Value::Int(1)) == Value::Str("sales"), "USE lasts for the session");

  Check(!unit.ConnectSqlServer(server, Value::Str("sa"), Value::Str("wrong"), Value::Str("master"),
                               {}, yes),
        "wrong password refused");
  Check(unit.lastFailure().nativeError == 18456, "refusal carries native error 18456");
  Check(unit.OpenTable(Value::Str("select name from sys.databases")) != 0,
        "old connection still usable");

  tw::DatabaseUnit odd;
  Check(odd.ConnectSqlServer(server, Value::Str("odd"), Value::Str("pa;ss{x"), Value::Str("master"),
                             {}, yes),
        "password with ';' and '{' arrives whole");

  const Value bracketed = Value::Int(
      unit.OpenTable(Value::Str("select [name] from sys.databases where [name] = 'x]y'")));
  Check(unit.ReadCol(bracketed, Value::Int(1)) == Value::Str("x]y"), "brackets translated");
  Check(unit.ExecuteSql(Value::Str("select name from sys.databases where name = ?"),
                        {Value::Str(tw::Gbk("销售库"))}),
        "Chinese text parameter");

  unit.CloseDatabase();
  odd.CloseDatabase();
  Check(tw::odbc::ConnectionHandlesAlive() == 0, "environment released with the last connection");
  std::printf("winodbc: %d checks, %d failed\n", g_checks, g_failed);
  return g_failed == 0 ? 0 : 1;
}
