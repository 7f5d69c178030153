// Benchmark of the tool's listing (the connect click: login, the log list with one files query
// per database, the combo) against the bare driver fetching the same rows with the least round
// trips: one connection, each query once on a forward-only cursor. A third figure, the bare
// driver logging in again before every files query, is what a login per database would cost.
// Run by scripts/bench.sh; not part of the test suite.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/application.h"
#include "platform/headless/headless.h"
#include "runtime/gbk.h"
#include "runtime/odbc/odbc_api.h"
#include "runtime/services.h"
#include "tests/odbc/odbc_test_support.h"
#include "ui/frame.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(const std::function<void()>& fn) {
  const auto start = Clock::now();
  fn();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string Fixture(int n) {
  std::string dbs;
  for (int i = 0; i < n; ++i)
    dbs += (i ? "," : "") + ("{\"name\":\"db" + std::to_string(i) + "\"}");
  return "{\"logins\":[{\"name\":\"sa\",\"password\":\"Tidewell#1\"}],\"databases\":[" + dbs + "]}";
}

class Bare {
 public:
  explicit Bare(std::string cs) : cs_(std::move(cs)) { SQLAllocEnv(&env_); }
  ~Bare() {
    Close();
    SQLFreeEnv(env_);
  }
  void Connect() {
    Close();
    SQLAllocConnect(env_, &dbc_);
    std::u16string in = tw::GbkToUtf16(cs_);
    SQLDriverConnectW(dbc_, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()), SQL_NTS, nullptr, 0,
                      nullptr, SQL_DRIVER_NOPROMPT);
  }
  void Close() {
    if (dbc_ == SQL_NULL_HDBC) return;
    SQLDisconnect(dbc_);
    SQLFreeConnect(dbc_);
    dbc_ = SQL_NULL_HDBC;
  }
  // Runs the query and returns column 1 of every row as GBK text.
  std::vector<std::string> Rows(const std::string& sql) {
    std::vector<std::string> out;
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocStmt(dbc_, &st);
    std::u16string text = tw::GbkToUtf16(sql);
    if (SQL_SUCCEEDED(SQLExecDirectW(st, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS))) {
      SQLWCHAR buf[300];
      SQLLEN len = 0;
      while (SQL_SUCCEEDED(SQLFetch(st))) {
        SQLGetData(st, 1, SQL_C_WCHAR, buf, sizeof buf, &len);
        out.push_back(tw::Utf16ToGbk(
            std::u16string_view(reinterpret_cast<char16_t*>(buf), len > 0 ? len / 2 : 0)));
      }
    }
    SQLFreeStmt(st, SQL_DROP);
    return out;
  }

 private:
  std::string cs_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
};

std::string FilesQuery(const std::string& name) {
  return "select database_id,name,physical_name AS CurrentLocation,state_desc,size from "
         "sys.master_files where database_id=db_id(N'" +
         name + "');";
}

double BareListing(Bare& bare, bool loginPerDatabase) {
  return Millis([&] {
    bare.Connect();
    bare.Rows("SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES");
    for (const std::string& name : bare.Rows("SELECT NAME FROM MASTER.DBO.SYSDATABASES")) {
      if (loginPerDatabase) bare.Connect();
      bare.Rows(FilesQuery(name));
    }
    bare.Rows("SELECT count(name) FROM master.dbo.sysdatabases");
    bare.Rows("SELECT Name FROM Master..SysDatabases");
  });
}

double ToolListing(const std::string& server, const std::string& dir) {
  tw::HeadlessBackend backend;
  tw::Frame frame(backend);
  tw::Application app(frame);
  double ms = 0;
  backend.ScriptUser([&] {
    backend.Type({tw::kMainWindow, tw::ids::编辑框_IP}, server);
    backend.Type({tw::kMainWindow, tw::ids::编辑框_用户名}, "sa");
    backend.Type({tw::kMainWindow, tw::ids::编辑框_密码}, "Tidewell#1");
    // The pauses of the click run on the virtual clock: what is timed is the real work.
    ms = Millis([&] { backend.Click({tw::kMainWindow, tw::ids::按钮_连接}); });
    frame.DestroyWindow(tw::kMainWindow);
  });
  std::filesystem::remove(dir + "/" + tw::GbkToUtf8(tw::Gbk("配置文件.ini")));
  frame.Run();
  return ms;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {10, 100, 1000};
  tw::odbctest::SharedEnvironment();
  const std::string dir = tw::odbctest::SharedEnvironment().tempFolder() + "bench-program";
  std::filesystem::create_directories(dir);
  tw::SetProgramLocation(dir, "tidewell.exe");
  tw::SetMachineStandIn(tw::MachineStandIn{"WS01", "192.168.1.20", {"[System Process]"}});
  std::printf("%6s %12s %12s %7s %16s\n", "N", "tool ms", "bare ms", "ratio", "login/db ms");
  for (int n : sizes) {
    tw::test::SimulatorOptions options;
    options.fixtureJson = Fixture(n);
    tw::test::SimulatorProcess sim(options);
    const std::string server = "127.0.0.1," + std::to_string(sim.port());
    Bare bare(sim.connectionString("sa", "Tidewell#1"));
    std::vector<double> tool, plain, perLogin;
    for (int run = 0; run < 3; ++run) {
      tool.push_back(ToolListing(server, dir));
      plain.push_back(BareListing(bare, false));
      perLogin.push_back(BareListing(bare, true));
    }
    std::printf("%6d %12.1f %12.1f %6.2fx %16.1f\n", n + 4, Median(tool), Median(plain),
                Median(tool) / Median(plain), Median(perLogin));
  }
  return 0;
}
