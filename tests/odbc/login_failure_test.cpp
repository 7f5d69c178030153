// Logins that cannot succeed: a closed port, and a server that accepts the connection and never
// answers. They show the temporary file data source as the driver saw it and that failures
// leave nothing behind.
#include <gtest/gtest.h>

#include <chrono>

#include "app/database_unit.h"
#include "runtime/odbc/connection.h"
#include "runtime/odbc/database.h"
#include "runtime/odbc/odbc_platform.h"
#include "runtime/odbc/table.h"
#include "tests/odbc/odbc_test_support.h"

namespace tw {
namespace {

using odbctest::SharedEnvironment;

class LoginFailure : public ::testing::Test {
 protected:
  void SetUp() override { SharedEnvironment(); }
  void TearDown() override { odbc::SetTimeoutsForTesting(0, 0); }
};

TEST_F(LoginFailure, ClosedPortFailsQuietlyWithDiagnosticsAndCleansUp) {
  DatabaseUnit unit;
  const std::string server = "127.0.0.1," + std::to_string(odbctest::ClosedPort());
  EXPECT_FALSE(unit.ConnectSqlServer(Value::Str(server), Value::Str("sa"), Value::Str("pw"),
                                     Value::Str("master"), {}, Value::Bool(true)));
  EXPECT_FALSE(unit.connected());
  EXPECT_FALSE(odbctest::FileExists(SharedEnvironment().dsnPath()));
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 0);
  // A refused connection is a communication failure; message texts differ between drivers.
  EXPECT_FALSE(unit.lastFailure().sqlState.empty());
  EXPECT_FALSE(unit.lastFailure().message.empty());
  EXPECT_EQ(unit.Call(kDbLastSqlState, {}), Value::Str(unit.lastFailure().sqlState));
  EXPECT_EQ(unit.Call(kDbLastNativeError, {}), Value::Int(unit.lastFailure().nativeError));
  // Nothing works without a connection, and nothing fails loudly either.
  EXPECT_EQ(unit.Call(kDbOpenTable, {Value::Str("select 1")}), Value::Int(0));
  EXPECT_EQ(unit.Call(kDbExecuteSql, {Value::Str("select 1")}), Value::Bool(false));
  EXPECT_EQ(unit.Call(kDbReadCol, {Value::Int(1), Value::Int(1)}), Value::Str(""));
  EXPECT_EQ(unit.Call(kDbMoveNext, {Value::Int(1)}), Value());
  EXPECT_EQ(unit.Call(kDbCloseDatabase, {}), Value());
}

TEST_F(LoginFailure, SilentServerIsBoundedByTheLoginTimeoutAndSawTheFile) {
  odbc::SetTimeoutsForTesting(2, 0);
  odbctest::SilentServer server(SharedEnvironment().dsnPath());
  DatabaseUnit unit;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(unit.ConnectSqlServer(Value::Str("127.0.0.1," + std::to_string(server.port())),
                                     Value::Str("sa"), Value::Str("secret;pw"),
                                     Value::Str("master"), {}, Value::Bool(true)));
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_LT(seconds, 30);
  ASSERT_GE(server.accepted(), 1);
  const Text wsid = odbc::ComputerNameForDsn();
  EXPECT_EQ(server.fileSeen(), "[ODBC]\r\nDRIVER=SQL Server\r\nSERVER=127.0.0.1," +
                                   std::to_string(server.port()) + "\r\nUID=sa\r\nDATABASE=master" +
                                   (wsid.empty() ? "" : "\r\nWSID=" + wsid) + "\r\n");
  EXPECT_FALSE(odbctest::FileExists(SharedEnvironment().dsnPath()));
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 0);
}

TEST_F(LoginFailure, EmptyUserAndDatabaseLeaveTheirLinesOut) {
  odbc::SetTimeoutsForTesting(1, 0);
  odbctest::SilentServer server(SharedEnvironment().dsnPath());
  DatabaseUnit unit;
  EXPECT_FALSE(unit.ConnectSqlServer(Value::Str("127.0.0.1," + std::to_string(server.port())),
                                     Value::Str(""), Value::Str("pw"), Value(), {},
                                     Value::Bool(true)));
  ASSERT_GE(server.accepted(), 1);
  const std::string seen = server.fileSeen();
  EXPECT_EQ(seen.find("UID="), std::string::npos);
  EXPECT_EQ(seen.find("DATABASE="), std::string::npos);
  EXPECT_EQ(seen.find("pw"), std::string::npos);
  EXPECT_EQ(seen.rfind("[ODBC]\r\nDRIVER=SQL Server\r\nSERVER=127.0.0.1,", 0), 0u);
}

TEST_F(LoginFailure, ConnectionLayerRefusesAnEmptyOrUnknownDriver) {
  odbc::Diagnostic diag;
  odbc::DatabasePtr db =
      odbc::NewOpenDatabase("ODBC;DRIVER=No Such Driver;SERVER=x;", false, true, &diag);
  EXPECT_EQ(db, nullptr);
  EXPECT_FALSE(diag.sqlState.empty());
  EXPECT_EQ(odbc::ConnectionHandlesAlive(), 0);
  // Missing database: every entry point answers with its failure value.
  odbc::FieldValue f;
  EXPECT_EQ(odbc::OpenTable(nullptr, "select 1"), 0);
  EXPECT_FALSE(odbc::ExecuteSql(nullptr, "select 1", nullptr, 0));
  EXPECT_FALSE(odbc::ReadColByIndex(nullptr, 1, 0, &f));
  EXPECT_FALSE(odbc::ReadColByName(nullptr, 1, "x", &f));
  EXPECT_EQ(f.kind, odbc::FieldKind::None);
  EXPECT_FALSE(odbc::CloseTable(nullptr, 1));
  odbc::MoveNext(nullptr, 1);
}

}  // namespace
}  // namespace tw
