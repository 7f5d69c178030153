// Result tables through the 外部数据库 unit against the simulator: empty SQL, empty results,
// the 30 table slots, reading by number and by name, the catalogue's column types with NULLs,
// Chinese text both ways, bracket translation, one request per table read whole on opening,
// other statements while a table is open, and the memory bound of a result.
#include <gtest/gtest.h>

#include "app/database_unit.h"
#include "runtime/datetime.h"
#include "runtime/gbk.h"
#include "runtime/text.h"
#include "tests/odbc/odbc_test_support.h"

namespace tw {
namespace {

using odbctest::Sim;

constexpr const char* kNames = "select name from sys.databases";

class Tables : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(unit.ConnectSqlServer(Value::Str(sim.server()), Value::Str("sa"),
                                      Value::Str(odbctest::kSaPassword), Value::Str("master"), {},
                                      Value::Bool(true)));
  }
  Value Open(const Text& sql) { return unit.Call(kDbOpenTable, {Value::Str(sql)}); }
  Value Read(const Value& h, const Value& field) { return unit.Call(kDbReadCol, {h, field}); }
  void Next(const Value& h) { unit.Call(kDbMoveNext, {h}); }
  // The log probe of the sales database's files, as the tool sends it.
  static Text FilesOf(const Text& db) {
    return "select database_id,name,physical_name AS CurrentLocation,state_desc,size from "
           "sys.master_files where database_id=db_id(N'" +
           db + "');";
  }

  Sim sim;
  DatabaseUnit unit;
};

TEST_F(Tables, EmptySqlNeverReachesTheDriver) {
  const std::size_t before = sim.Log().size();
  EXPECT_EQ(Open(""), Value::Int(0));
  EXPECT_EQ(unit.Call(kDbExecuteSql, {Value::Str("")}), Value::Bool(false));
  EXPECT_EQ(unit.Call(kDbOpenTable, {}), Value::Int(0));
  EXPECT_EQ(unit.Call(kDbOpenTable, {Value::Int(5)}), Value::Int(0));
  EXPECT_EQ(sim.Log().size(), before);
}

TEST_F(Tables, QueryWithoutRowsGivesATableAtItsEnd) {
  const Value h = Open("select name, database_id from sys.databases where name = 'none'");
  ASSERT_NE(h, Value::Int(0));
  EXPECT_EQ(Read(h, Value::Int(1)), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Int(2)), Value::Int(0));
  const std::size_t before = sim.Log().size();
  Next(h);
  EXPECT_EQ(Read(h, Value::Str("name")), Value::Str(""));
  EXPECT_EQ(sim.Log().size(), before);  // moving at the end asks the server nothing
}

TEST_F(Tables, ThirtyTablesPerConnectionThenReopen) {
  std::vector<Value> handles;
  for (int i = 0; i < odbc::kTableSlots; ++i) {
    handles.push_back(Open(kNames));
    ASSERT_NE(handles.back(), Value::Int(0)) << i;
  }
  // Every handle is distinct and still reads its own first row.
  for (std::size_t i = 0; i < handles.size(); ++i) {
    for (std::size_t j = i + 1; j < handles.size(); ++j) EXPECT_NE(handles[i], handles[j]);
  }
  const std::size_t before = sim.Log().size();
  EXPECT_EQ(Open(kNames), Value::Int(0));
  EXPECT_EQ(sim.Log().size(), before);
  EXPECT_FALSE(unit.lastFailure().message.empty());
  // Releasing one table frees its slot, without a request; its handle then names nothing.
  EXPECT_EQ(unit.Call(kDbCloseTable, {handles[3]}), Value::Bool(true));
  EXPECT_EQ(sim.Log().size(), before);
  EXPECT_EQ(unit.Call(kDbCloseTable, {handles[3]}), Value::Bool(false));
  EXPECT_EQ(Read(handles[3], Value::Int(1)), Value::Str(""));
  const Value again = Open(kNames);
  ASSERT_NE(again, Value::Int(0));
  EXPECT_EQ(Read(again, Value::Int(1)), Value::Str("master"));
  EXPECT_EQ(Open(kNames), Value::Int(0));
  // A new connection on the unit starts with empty slots.
  unit.Call(kDbCloseDatabase, {});
  SetUp();
  for (int i = 0; i < odbc::kTableSlots; ++i) ASSERT_NE(Open(kNames), Value::Int(0)) << i;
}

TEST_F(Tables, CountQueryGivesAnInt) {
  const Value h = Open("SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES");
  ASSERT_NE(h, Value::Int(0));
  EXPECT_EQ(Read(h, Value::Int(1)), Value::Int(10));
  // Any numeric kind names the column.
  EXPECT_EQ(Read(h, Value::Double(1.9)), Value::Int(10));
  EXPECT_EQ(Read(h, Value::Int64(1)), Value::Int(10));
  EXPECT_EQ(Read(h, Value::Byte(1)), Value::Int(10));
}

TEST_F(Tables, ColumnNumbersOutsideTheResultAndOtherKindsReadNothing) {
  const Value h = Open(FilesOf("sales"));
  ASSERT_NE(h, Value::Int(0));
  EXPECT_EQ(Read(h, Value::Int(0)), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Int(-1)), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Int(INT32_MIN)), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Int(6)), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Int(INT32_MAX)), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Bool(true)), Value::Str(""));
  EXPECT_EQ(Read(h, Value()), Value::Str(""));
  EXPECT_EQ(Read(Value::Int(0), Value::Int(1)), Value::Str(""));
  EXPECT_EQ(Read(Value::Str("1"), Value::Int(1)), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Int(5)), Value::Int(2560));
}

TEST_F(Tables, NamesAreComparedExactly) {
  const Value h = Open(FilesOf("sales"));
  ASSERT_NE(h, Value::Int(0));
  EXPECT_NE(Read(h, Value::Str("CurrentLocation")), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Str("currentlocation")), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Str("CurrentLocation ")), Value::Str(""));
  EXPECT_EQ(Read(h, Value::Str("physical_name")), Value::Str(""));
  const Value names = Open(kNames);
  EXPECT_EQ(Read(names, Value::Str("name")), Value::Str("master"));
  EXPECT_EQ(Read(names, Value::Str("Name")), Value::Str(""));
}

TEST_F(Tables, LogProbeWalksToTheLogFileAndThenToTheEnd) {
  const Value h = Open(FilesOf("sales"));
  ASSERT_NE(h, Value::Int(0));
  EXPECT_EQ(Read(h, Value::Str("name")), Value::Str("sales"));
  EXPECT_EQ(Read(h, Value::Str("database_id")), Value::Int(5));
  Next(h);
  EXPECT_EQ(Read(h, Value::Str("name")), Value::Str("sales_log"));
  EXPECT_EQ(Read(h, Value::Str("size")), Value::Int(12800));
  EXPECT_EQ(Read(h, Value::Str("state_desc")), Value::Str("ONLINE"));
  const Text path = Read(h, Value::Str("CurrentLocation")).AsText();
  EXPECT_GT(path.size(), 14u);
  EXPECT_EQ(path.substr(path.size() - 14), "\\sales_log.ldf");
  Next(h);
  EXPECT_EQ(Read(h, Value::Str("size")), Value::Int(0));
  EXPECT_EQ(Read(h, Value::Str("CurrentLocation")), Value::Str(""));
  Next(h);
  EXPECT_EQ(Read(h, Value::Str("name")), Value::Str(""));
}

TEST_F(Tables, OneRequestReadsTheWholeTableWhichWalksEveryRowInOrderFromTheFirst) {
  const std::size_t before = sim.Log().size();
  const Value h = Open(kNames);
  ASSERT_NE(h, Value::Int(0));
  // One plain batch, read to its end at once; walking the rows asks the server nothing more.
  const auto log = sim.Log();
  ASSERT_EQ(log.size(), before + 1);
  EXPECT_EQ(log.back().kind, "batch");
  EXPECT_EQ(log.back().text, kNames);
  std::vector<Text> names;
  for (int i = 0; i < 20; ++i) {
    const Text name = Read(h, Value::Int(1)).AsText();
    if (name.empty()) break;
    names.push_back(name);
    Next(h);
  }
  const std::vector<Text> expected = {"master",  "tempdb",      "model", "msdb", "sales",
                                      "archive", Gbk("销售库"), "x]y",   "a[b",  "offline_db"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(sim.Log().size(), before + 1);
}

TEST_F(Tables, OtherStatementsRunWhileATableIsOpen) {
  const Value names = Open(kNames);
  ASSERT_NE(names, Value::Int(0));
  EXPECT_EQ(Read(names, Value::Int(1)), Value::Str("master"));
  EXPECT_EQ(unit.Call(kDbExecuteSql, {Value::Str("USE sales")}), Value::Bool(true))
      << unit.lastFailure().message;
  const Value files = Open(FilesOf("sales"));
  ASSERT_NE(files, Value::Int(0)) << unit.lastFailure().message;
  EXPECT_EQ(Read(files, Value::Str("name")), Value::Str("sales"));
  // The first table still walks on from where it stood.
  Next(names);
  EXPECT_EQ(Read(names, Value::Int(1)), Value::Str("tempdb"));
}

TEST_F(Tables, AResultOverTheMemoryBoundFailsToOpenAndUsesNoSlot) {
  constexpr const char* kAllFiles = "select * from sys.master_files";
  Value small;
  {
    struct Bound {
      Bound() { odbc::SetResultLimitForTesting(4096); }
      ~Bound() { odbc::SetResultLimitForTesting(0); }
    } bound;
    // Ten names fit; every column of every file does not.
    small = Open(kNames);
    ASSERT_NE(small, Value::Int(0)) << unit.lastFailure().message;
    EXPECT_EQ(Open(kAllFiles), Value::Int(0));
    EXPECT_EQ(unit.lastFailure().message, odbc::kResultTooLargeMessage);
  }
  // The connection is free for the same query within the usual bound, and the failure took no
  // slot: the 30 are the small table, the files and 28 more.
  ASSERT_NE(Open(kAllFiles), Value::Int(0)) << unit.lastFailure().message;
  for (int i = 2; i < odbc::kTableSlots; ++i) ASSERT_NE(Open(kNames), Value::Int(0)) << i;
  EXPECT_EQ(Open(kNames), Value::Int(0));
  EXPECT_EQ(Read(small, Value::Int(1)), Value::Str("master"));
}

TEST_F(Tables, ChineseTextTravelsBothWays) {
  const Value h = Open(FilesOf(Gbk("销售库")));
  ASSERT_NE(h, Value::Int(0));
  EXPECT_EQ(Read(h, Value::Str("name")), Value::Str(Gbk("销售库")));
  Next(h);
  EXPECT_EQ(Read(h, Value::Str("name")), Value::Str(Gbk("销售库_log")));
  const Text path = Read(h, Value::Str("CurrentLocation")).AsText();
  EXPECT_NE(path.find(Gbk("\\销售库_log.ldf")), std::string::npos);
  EXPECT_NE(sim.LogOf("batch").front().text.find("db_id(N'销售库')"), std::string::npos);
  // A Chinese alias comes back as the column's name.
  const Value aliased = Open(Gbk("select name as 名称 from sys.databases"));
  EXPECT_EQ(Read(aliased, Value::Str(Gbk("名称"))), Value::Str("master"));
}

TEST_F(Tables, CatalogueTypesAndNulls) {
  const Value h = Open(
      "select name, database_id, is_read_only, compatibility_level, create_date, collation_name "
      "from sys.databases where name = 'offline_db'");
  ASSERT_NE(h, Value::Int(0));
  EXPECT_EQ(Read(h, Value::Int(2)).kind(), ValueKind::Int);
  EXPECT_EQ(Read(h, Value::Int(3)), Value::Bool(false));
  EXPECT_EQ(Read(h, Value::Int(4)).kind(), ValueKind::Byte);
  const Value created = Read(h, Value::Int(5));
  EXPECT_EQ(created.kind(), ValueKind::DateTime);
  EXPECT_GT(created.Real(), MakeDate(1990, 1, 1));
  // NULL in a character column: an empty text.
  EXPECT_EQ(Read(h, Value::Str("collation_name")), Value::Str(""));
  const Value sys = Open("select dbid, db_id(N'nope') from sysdatabases where dbid = 1");
  ASSERT_NE(sys, Value::Int(0)) << unit.lastFailure().message;
  EXPECT_EQ(Read(sys, Value::Int(1)), Value::Short(1));
  EXPECT_EQ(Read(sys, Value::Int(2)), Value::Int(0));  // NULL in an int column
  const Value big = Open("select count_big(name) from sysdatabases");
  ASSERT_NE(big, Value::Int(0)) << unit.lastFailure().message;
  EXPECT_EQ(Read(big, Value::Int(1)), Value::Str("10"));  // bigint reads as text
}

TEST_F(Tables, BracketsBecomeTheDriversQuoteOutsideLiterals) {
  const Value h = Open("select [name] from sys.databases where [name] = 'x]y'");
  ASSERT_NE(h, Value::Int(0));
  EXPECT_EQ(Read(h, Value::Str("name")), Value::Str("x]y"));
  EXPECT_EQ(sim.LogOf("batch").front().text,
            "select \"name\" from sys.databases where \"name\" = 'x]y'");
  const Value doubled = Open("select [[name]] from sys.databases where name = 'a[b'");
  ASSERT_NE(doubled, Value::Int(0));
  EXPECT_EQ(Read(doubled, Value::Int(1)), Value::Str("a[b"));
  bool seen = false;
  for (const auto& e : sim.LogOf("batch")) {
    seen = seen || e.text == "select [name] from sys.databases where name = 'a[b'";
  }
  EXPECT_TRUE(seen);
}

TEST_F(Tables, FailedQueryGivesZeroAndDiagnostics) {
  EXPECT_EQ(Open("select name from nowhere"), Value::Int(0));
  EXPECT_EQ(unit.lastFailure().nativeError, 208);
  EXPECT_EQ(Open("selec name from sys.databases"), Value::Int(0));
  EXPECT_NE(unit.lastFailure().nativeError, 0);
  // The failures used no slot.
  for (int i = 0; i < odbc::kTableSlots; ++i) ASSERT_NE(Open(kNames), Value::Int(0)) << i;
}

}  // namespace
}  // namespace tw
