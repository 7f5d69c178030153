// Logging in through the 外部数据库 unit against the simulator: what reaches the server, the
// password with connection-string characters, a failed reconnect keeping the old connection,
// the process-wide environment, and the unit reached through the frame.
#include <gtest/gtest.h>

#include "app/database_unit.h"
#include "platform/headless/headless.h"
#include "runtime/gbk.h"
#include "runtime/odbc/database.h"
#include "runtime/odbc/odbc_platform.h"
#include "tests/odbc/odbc_test_support.h"

namespace tw {
namespace {

using odbctest::Sim;

// The session's database; cursors need a FROM clause on the simulator.
constexpr const char* kCurrentDb = "select name from sys.databases where database_id = db_id()";

bool Connect(DatabaseUnit& unit, const Sim& sim, const Text& user, const Text& password,
             const Value& database = Value::Str("master")) {
  return unit.ConnectSqlServer(Value::Str(sim.server()), Value::Str(user), Value::Str(password),
                               database, {}, Value::Bool(true));
}

TEST(Connect, LogsInToMasterWithTheWorkstationAndLeavesNoFile) {
  Sim sim;
  DatabaseUnit unit;
  ASSERT_TRUE(Connect(unit, sim, "sa", odbctest::kSaPassword));
  EXPECT_TRUE(unit.connected());
  EXPECT_FALSE(odbctest::FileExists(odbctest::SharedEnvironment().dsnPath()));
  const auto logins = sim.LogOf("login");
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].login, "sa");
  EXPECT_EQ(logins[0].database, "master");
  EXPECT_EQ(logins[0].host, odbc::ComputerNameForDsn());
  // Nothing is sent after the login itself.
  EXPECT_EQ(sim.Log().size(), 1u);
}

TEST(Connect, WithoutNoPromptACompleteStringNeedsNoDialog) {
  Sim sim;
  DatabaseUnit unit;
  EXPECT_TRUE(unit.ConnectSqlServer(Value::Str(sim.server()), Value::Str("sa"),
                                    Value::Str(odbctest::kSaPassword), Value::Str("master")))
      << unit.lastFailure().message;
  // Read-only given as any non-zero number.
  EXPECT_TRUE(unit.ConnectSqlServer(Value::Str(sim.server()), Value::Str("sa"),
                                    Value::Str(odbctest::kSaPassword), Value::Str("master"),
                                    Value::Int(2), Value::Bool(false)));
}

TEST(Connect, StoresTheCompletedStringAndReadsTheConnectionsProperties) {
  Sim sim;
  odbc::Diagnostic diag;
  const std::string stored = "ODBC;DRIVER=SQL Server;SERVER=" + sim.server() +
                             ";UID=sa;PWD=" + odbctest::kSaPassword + ";DATABASE=master;";
  odbc::DatabasePtr db = odbc::NewOpenDatabase(stored, false, true, &diag);
  ASSERT_NE(db, nullptr) << diag.message;
  EXPECT_EQ(odbc::StoredConnectionString(db.get()).rfind("ODBC;", 0), 0u);
  EXPECT_NE(odbc::StoredConnectionString(db.get()).find("SERVER=" + sim.server()),
            std::string::npos);
  EXPECT_TRUE(odbc::IsUpdatable(db.get()));
  EXPECT_EQ(odbc::IdentifierQuote(db.get()), '"');
  odbc::DatabasePtr ro = odbc::NewOpenDatabase(stored, true, true, &diag);
  ASSERT_NE(ro, nullptr);
  EXPECT_FALSE(odbc::IsUpdatable(ro.get()));
  // The prefix is optional: a plain ODBC string connects too.
  odbc::DatabasePtr plain = odbc::NewOpenDatabase(stored.substr(5), false, true, &diag);
  EXPECT_NE(plain, nullptr);
}

TEST(Connect, PasswordWithSemicolonBraceAndBlanksArrivesWhole) {
  Sim sim;
  DatabaseUnit unit;
  ASSERT_TRUE(Connect(unit, sim, "odd", "pa;ss{x")) << unit.lastFailure().message;
  // Cut at ';' the password would be "pa" and a stray keyword would follow.
  DatabaseUnit cut;
  EXPECT_FALSE(Connect(cut, sim, "odd", "pa"));
  DatabaseUnit spaced;
  ASSERT_TRUE(Connect(spaced, sim, " spaced", " p;w ")) << spaced.lastFailure().message;
  EXPECT_EQ(sim.LogOf("login").back().login, " spaced");
}

TEST(Connect, ValueCannotInjectKeywords) {
  Sim sim;
  DatabaseUnit unit;
  // Unbraced, this password would end at ';' and name the login's application.
  EXPECT_FALSE(Connect(unit, sim, "sa", "x;APP=injected"));
  ASSERT_EQ(sim.LogOf("login").size(), 1u);
  EXPECT_NE(sim.LogOf("login")[0].app, "injected");
  // The same text unbraced does inject: the check above can tell.
  odbc::NewOpenDatabase("DRIVER=SQL Server;SERVER=" + sim.server() + ";UID=sa;PWD=x;APP=injected;",
                        false, true);
  ASSERT_EQ(sim.LogOf("login").size(), 2u);
  EXPECT_EQ(sim.LogOf("login")[1].app, "injected");
}

TEST(Connect, ChineseLoginNameAndPasswordReachTheServer) {
  Sim sim;
  DatabaseUnit unit;
  ASSERT_TRUE(Connect(unit, sim, Gbk("用户"), Gbk("密码1"))) << unit.lastFailure().message;
  EXPECT_EQ(sim.LogOf("login").back().login, "用户");
}

TEST(Connect, RefusedLoginReportsItsDiagnosticsAndKeepsTheOldConnection) {
  Sim sim;
  DatabaseUnit unit;
  ASSERT_TRUE(Connect(unit, sim, "sa", odbctest::kSaPassword));
  EXPECT_FALSE(Connect(unit, sim, "sa", "wrong"));
  EXPECT_EQ(unit.lastFailure().nativeError, 18456);
  EXPECT_FALSE(unit.lastFailure().sqlState.empty());
  EXPECT_EQ(unit.Call(kDbLastNativeError, {}), Value::Int(18456));
  // The earlier connection is still there and works.
  ASSERT_TRUE(unit.connected());
  const Value h = unit.Call(kDbOpenTable, {Value::Str(kCurrentDb)});
  ASSERT_NE(h, Value::Int(0));
  EXPECT_EQ(unit.Call(kDbReadCol, {h, Value::Int(1)}), Value::Str("master"));
  // An unknown database at login is refused as well.
  EXPECT_FALSE(Connect(unit, sim, "sa", odbctest::kSaPassword, Value::Str("nowhere")));
  EXPECT_TRUE(unit.connected());
}

TEST(Connect, SecondSuccessfulConnectReplacesTheFirst) {
  Sim sim;
  DatabaseUnit unit;
  ASSERT_TRUE(Connect(unit, sim, "sa", odbctest::kSaPassword));
  const odbc::TableHandle h = unit.OpenTable(Value::Str("select name from sys.databases"));
  ASSERT_NE(h, 0);
  ASSERT_TRUE(Connect(unit, sim, "sa", odbctest::kSaPassword, Value::Str("sales")));
  // Tables of the replaced connection are gone with it.
  EXPECT_EQ(unit.ReadCol(Value::Int(h), Value::Int(1)), Value::Str(""));
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 1);
}

TEST(Connect, EnvironmentLivesAsLongAsSomeConnection) {
  Sim sim;
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 0);
  {
    DatabaseUnit a;
    DatabaseUnit b;
    ASSERT_TRUE(Connect(a, sim, "sa", odbctest::kSaPassword));
    ASSERT_TRUE(Connect(b, sim, "sa", odbctest::kSaPassword));
    EXPECT_EQ(odbc::ConnectionHandlesAlive(), 2);
    a.CloseDatabase();
    EXPECT_EQ(odbc::ConnectionHandlesAlive(), 1);
    a.CloseDatabase();  // closing twice is harmless
    EXPECT_EQ(odbc::ConnectionHandlesAlive(), 1);
    // A fresh environment is made again after the last one went.
    b.CloseDatabase();
    EXPECT_EQ(odbc::ConnectionHandlesAlive(), 0);
    ASSERT_TRUE(Connect(a, sim, "sa", odbctest::kSaPassword));
    EXPECT_EQ(odbc::ConnectionHandlesAlive(), 1);
  }
  // Destroying a unit closes its connection.
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 0);
}

TEST(Connect, ServerThatNeverAnswersFailsWithinTheLoginTimeout) {
  Sim sim;
  sim.Control(R"({"hang": true})");
  odbc::SetTimeoutsForTesting(2, 0);
  DatabaseUnit unit;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Connect(unit, sim, "sa", odbctest::kSaPassword));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  odbc::SetTimeoutsForTesting(0, 0);
  EXPECT_FALSE(odbctest::FileExists(odbctest::SharedEnvironment().dsnPath()));
}

TEST(Connect, TwoUnitsOfTheMainWindowAreIndependentConnections) {
  Sim sim;
  HeadlessBackend backend;
  Frame frame(backend);
  RegisterDatabaseUnit(frame);
  ASSERT_TRUE(frame.LoadWindow(kMainWindow));
  const UnitRef main{kMainWindow, ids::外部数据库_主};
  const UnitRef second{kMainWindow, ids::外部数据库_辅};
  const std::vector<Value> login = {
      Value::Str(sim.server()), Value::Str("sa"), Value::Str(odbctest::kSaPassword),
      Value::Str("master"),     Value(),          Value::Bool(true)};
  EXPECT_EQ(frame.CallMethod(main, kDbConnectSqlServer, login), Value::Bool(true));
  EXPECT_EQ(frame.CallMethod(second, kDbConnectSqlServer, login), Value::Bool(true));
  EXPECT_EQ(frame.CallMethod(main, kDbExecuteSql, {Value::Str("USE sales")}), Value::Bool(true));
  const Value hm = frame.CallMethod(main, kDbOpenTable, {Value::Str(kCurrentDb)});
  const Value hs = frame.CallMethod(second, kDbOpenTable, {Value::Str(kCurrentDb)});
  EXPECT_EQ(frame.CallMethod(main, kDbReadCol, {hm, Value::Int(1)}), Value::Str("sales"));
  EXPECT_EQ(frame.CallMethod(second, kDbReadCol, {hs, Value::Int(1)}), Value::Str("master"));
  // A handle of one unit names nothing in the other.
  EXPECT_EQ(frame.CallMethod(second, kDbReadCol, {hm, Value::Int(1)}), Value::Str(""));
  frame.CallMethod(main, kDbCloseDatabase, {});
  EXPECT_EQ(frame.CallMethod(main, kDbOpenTable, {Value::Str("select name from sys.databases")}),
            Value::Int(0));
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 1);
  // Destroying the window closes the connections of its units.
  frame.DestroyWindow(kMainWindow, true);
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 0);
}

}  // namespace
}  // namespace tw
