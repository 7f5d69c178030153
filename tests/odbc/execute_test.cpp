// Statements through ExecuteSql against the simulator: a USE that lasts for the session, the
// cleanup's four statements with the DBCC result drained, failures with their diagnostics,
// parameters, the query timeout, and a connection dropped in the middle.
#include <gtest/gtest.h>

#include <chrono>

#include "app/database_unit.h"
#include "runtime/gbk.h"
#include "runtime/odbc/database.h"
#include "tests/odbc/odbc_test_support.h"

namespace tw {
namespace {

using odbctest::Sim;

constexpr const char* kCurrentDb = "select name from sys.databases where database_id = db_id()";

class Statements : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Login()); }
  void TearDown() override { odbc::SetTimeoutsForTesting(0, 0); }
  bool Login() {
    return unit.ConnectSqlServer(Value::Str(sim.server()), Value::Str("sa"),
                                 Value::Str(odbctest::kSaPassword), Value::Str("master"), {},
                                 Value::Bool(true));
  }
  bool Exec(const Text& sql, std::vector<Value> params = {}) {
    params.insert(params.begin(), Value::Str(sql));
    return unit.Call(kDbExecuteSql, params).AsBool();
  }
  Value CurrentDb() {
    const Value h = unit.Call(kDbOpenTable, {Value::Str(kCurrentDb)});
    return unit.Call(kDbReadCol, {h, Value::Int(1)});
  }
  Value Scalar(const Text& sql) {
    const Value h = unit.Call(kDbOpenTable, {Value::Str(sql)});
    return unit.Call(kDbReadCol, {h, Value::Int(1)});
  }

  Sim sim;
  DatabaseUnit unit;
};

TEST_F(Statements, UseLastsForTheSessionSoTheShrinkFindsItsFile) {
  ASSERT_TRUE(Exec("USE sales"));
  const auto batches = sim.LogOf("batch");
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].text, "USE sales");
  EXPECT_EQ(CurrentDb(), Value::Str("sales"));
  EXPECT_TRUE(Exec("DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)"))
      << unit.lastFailure().message;
  EXPECT_EQ(sim.LogOf("batch").back().database, "sales");
}

TEST_F(Statements, CleanupOfOneDatabaseRunsAllFourStatements) {
  const Value before = Scalar("select size from sys.master_files where name = 'sales_log'");
  ASSERT_EQ(before, Value::Int(12800));
  EXPECT_TRUE(Exec("ALTER DATABASE sales SET RECOVERY SIMPLE "));
  EXPECT_TRUE(Exec("USE sales"));
  EXPECT_TRUE(Exec("DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)"));
  EXPECT_TRUE(Exec("ALTER DATABASE sales SET RECOVERY FULL"));
  EXPECT_EQ(Scalar("select recovery_model_desc from sys.databases where name = 'sales'"),
            Value::Str("FULL"));
  const Value after = Scalar("select size from sys.master_files where name = 'sales_log'");
  EXPECT_LT(after.Integer(), before.Integer());
  // The three queries and the four statements, each one plain batch.
  EXPECT_TRUE(sim.LogOf("rpc").empty());
  EXPECT_EQ(sim.LogOf("batch").size(), 7u);
}

TEST_F(Statements, BatchesWithRowsAreDrainedAndTheConnectionStaysFree) {
  EXPECT_TRUE(Exec("select name from sys.databases; select name, size from sys.master_files"));
  EXPECT_TRUE(Exec("USE archive"));
  EXPECT_TRUE(Exec("DBCC SHRINKFILE (N'archive_log' , 0, TRUNCATEONLY)"));
  EXPECT_EQ(CurrentDb(), Value::Str("archive"));
}

TEST_F(Statements, ServerErrorsFailWithTheirDiagnostics) {
  EXPECT_FALSE(Exec("ALTER DATABASE tempdb SET RECOVERY SIMPLE "));
  const int tempdb = unit.lastFailure().nativeError;
  EXPECT_TRUE(tempdb == 5058 || tempdb == 5069) << tempdb;
  EXPECT_FALSE(Exec("USE nowhere"));
  EXPECT_EQ(unit.lastFailure().nativeError, 911);
  EXPECT_EQ(unit.Call(kDbLastNativeError, {}), Value::Int(911));
  EXPECT_FALSE(unit.Call(kDbLastErrorMessage, {}).AsText().empty());
  EXPECT_FALSE(Exec("USE sales; DBCC SHRINKFILE (N'nothere_log' , 0, TRUNCATEONLY)"));
  EXPECT_FALSE(Exec("selec 1"));
  EXPECT_EQ(unit.lastFailure().nativeError, 2812);  // taken as a procedure call
  EXPECT_FALSE(Exec("select name fro sys.databases"));
  EXPECT_EQ(unit.lastFailure().nativeError, 102);
  // Failed statements were freed: many more still leave the connection usable.
  for (int i = 0; i < 50; ++i) EXPECT_FALSE(Exec("USE nowhere"));
  EXPECT_TRUE(Exec("USE sales"));
  EXPECT_EQ(CurrentDb(), Value::Str("sales"));
}

// The statements that carried parameters to the server.
std::vector<odbctest::LogEntry> Executions(const Sim& sim) {
  std::vector<odbctest::LogEntry> out;
  for (const auto& e : sim.LogOf("rpc")) {
    if (e.rpc == "sp_prepexec" || e.rpc == "sp_execute" || e.rpc == "sp_executesql")
      out.push_back(e);
  }
  return out;
}

TEST_F(Statements, ParametersAreBoundInOrderAndOtherKindsSkipped) {
  EXPECT_TRUE(Exec("select name from sys.databases where name = ?", {Value::Str(Gbk("销售库"))}));
  auto rpcs = Executions(sim);
  ASSERT_FALSE(rpcs.empty());
  EXPECT_NE(rpcs.back().params.find("销售库"), std::string::npos) << rpcs.back().raw;
  EXPECT_TRUE(Exec("select name from sys.databases where name = ? or name = ?",
                   {Value::Int(7), Value::Str("sales"), Value::Bool(true), Value::Str("a[b")}));
  rpcs = Executions(sim);
  EXPECT_NE(rpcs.back().params.find("\"sales\""), std::string::npos) << rpcs.back().raw;
  EXPECT_NE(rpcs.back().params.find("\"a[b\""), std::string::npos) << rpcs.back().raw;
  EXPECT_EQ(rpcs.back().params.find('7'), std::string::npos) << rpcs.back().raw;
  EXPECT_TRUE(
      Exec("select name from sys.databases where ? is not null", {Value::Blob({0x01, 0x02, 0xFF})}))
      << unit.lastFailure().message;
  EXPECT_NE(Executions(sim).back().params.find("0102ff"), std::string::npos)
      << Executions(sim).back().raw;
  // A missing parameter is a failure of the statement.
  EXPECT_FALSE(
      Exec("select name from sys.databases where name = ? or name = ?", {Value::Str("sales")}));
}

TEST_F(Statements, ParameterisedUseRunsInsideAServerCallAndIsUndone) {
  // Only statements without parameters go as plain batches; with parameters the statement
  // runs in a server-side call whose database change ends with it.
  EXPECT_TRUE(
      Exec("USE archive; select name from sys.databases where name = ?", {Value::Str("x")}));
  EXPECT_EQ(CurrentDb(), Value::Str("master"));
}

TEST_F(Statements, QueryTimeoutCancelsAndTheConnectionGoesOn) {
  odbc::SetTimeoutsForTesting(0, 1);
  ASSERT_TRUE(Login());  // the shorter timeout applies to the new connection's statements
  sim.Control(R"({"delay_seconds": 8, "delay_matching": "archive"})");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Exec("ALTER DATABASE archive SET RECOVERY FULL"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(7));
  EXPECT_EQ(unit.lastFailure().sqlState, "S1T00");
  EXPECT_TRUE(sim.Log().back().cancelled);
  EXPECT_EQ(unit.Call(kDbOpenTable,
                      {Value::Str("select name from sys.databases where name = 'archive'")}),
            Value::Int(0));
  sim.Control("{}");
  EXPECT_TRUE(Exec("USE sales"));
  EXPECT_EQ(CurrentDb(), Value::Str("sales"));
}

TEST_F(Statements, DroppedConnectionFailsQuietlyUntilReopened) {
  const Value names = unit.Call(kDbOpenTable, {Value::Str("select name from sys.databases")});
  ASSERT_NE(names, Value::Int(0));
  sim.Control(R"({"drop_matching": "shrinkfile"})");
  EXPECT_FALSE(Exec("DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)"));
  EXPECT_FALSE(unit.lastFailure().sqlState.empty());
  EXPECT_TRUE(sim.Log().back().dropped);
  // Everything after the drop fails without hanging or crashing.
  EXPECT_FALSE(Exec("USE sales"));
  EXPECT_EQ(unit.Call(kDbOpenTable, {Value::Str(kCurrentDb)}), Value::Int(0));
  unit.Call(kDbMoveNext, {names});
  unit.Call(kDbReadCol, {names, Value::Int(1)});
  unit.Call(kDbCloseDatabase, {});
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 0);
  sim.Control("{}");
  ASSERT_TRUE(Login());
  EXPECT_EQ(CurrentDb(), Value::Str("master"));
}

TEST_F(Statements, TablesReadBeforeADropStillWalkTheirRows) {
  const Value names = unit.Call(kDbOpenTable, {Value::Str("select name from sys.databases")});
  ASSERT_NE(names, Value::Int(0));
  sim.Control(R"({"drop_after_requests": 0})");
  EXPECT_FALSE(Exec("USE sales"));
  // The table was read whole on opening: it needs the connection no more.
  EXPECT_EQ(unit.Call(kDbReadCol, {names, Value::Int(1)}), Value::Str("master"));
  unit.Call(kDbMoveNext, {names});
  EXPECT_EQ(unit.Call(kDbReadCol, {names, Value::Int(1)}), Value::Str("tempdb"));
}

}  // namespace
}  // namespace tw
