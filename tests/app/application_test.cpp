// The application as installed into a frame: both database units of the main window answer
// their methods once the main window is loaded.
#include <gtest/gtest.h>

#include "app/application.h"
#include "platform/headless/headless.h"
#include "runtime/odbc/database_unit.h"
#include "ui/frame.h"

namespace tw {
namespace {

TEST(Application, MainWindowDatabaseUnitsAreDatabaseObjects) {
  HeadlessBackend backend;
  Frame frame(backend);
  Application application(frame);
  ASSERT_TRUE(frame.LoadWindow(kMainWindow));
  for (int unit : {ids::外部数据库_主, ids::外部数据库_辅}) {
    // Without a connection an open fails quietly with handle 0 and a statement with false.
    EXPECT_EQ(frame.CallMethod({kMainWindow, unit}, kDbOpenTable, {Value::Str("SELECT 1")}),
              Value::Int(0));
    EXPECT_EQ(frame.CallMethod({kMainWindow, unit}, kDbExecuteSql, {Value::Str("USE master")}),
              Value::Bool(false));
  }
}

}  // namespace
}  // namespace tw
