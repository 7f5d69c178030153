// The application as installed into a frame: every handler slot is bound, each by exactly one
// area, and both database units of the main window answer their methods.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "app/app.h"
#include "app/application.h"
#include "app/autostart.h"
#include "app/catalogue.h"
#include "app/chooser.h"
#include "app/cleanup.h"
#include "app/connection.h"
#include "app/database_unit.h"
#include "app/schedule.h"
#include "app/startup.h"
#include "app/tray.h"
#include "platform/headless/headless.h"
#include "ui/frame.h"

namespace tw {
namespace {

TEST(Application, EverySlotIsBoundByExactlyOneArea) {
  const std::vector<std::pair<const char*, std::function<void(Frame&, App&)>>> areas = {
      {"startup", BindStartup}, {"connection", BindConnection}, {"catalogue", BindCatalogue},
      {"chooser", BindChooser}, {"cleanup", BindCleanup},       {"schedule", BindSchedule},
      {"tray", BindTray},       {"autostart", BindAutostart},
  };
  std::map<Handler, std::vector<const char*>> boundBy;
  for (const auto& [name, bind] : areas) {
    HeadlessBackend backend;
    Frame frame(backend);
    App app(frame);
    bind(frame, app);
    for (int h = 1; h < static_cast<int>(Handler::Count); ++h) {
      if (frame.HasHandler(static_cast<Handler>(h)))
        boundBy[static_cast<Handler>(h)].push_back(name);
    }
  }
  HeadlessBackend backend;
  Frame frame(backend);
  Application application(frame);
  for (int h = 1; h < static_cast<int>(Handler::Count); ++h) {
    const auto slot = static_cast<Handler>(h);
    EXPECT_TRUE(frame.HasHandler(slot)) << "slot " << h;
    EXPECT_EQ(boundBy[slot].size(), 1u) << "slot " << h;
  }
}

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
