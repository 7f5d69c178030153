// The listings of databases with their log sizes, the combo fill, the row refresh from the
// list's context menu, and the records of ticks and of the chosen database.
#include "app/catalogue.h"

#include <cmath>

#include "app/app.h"
#include "app/probes.h"
#include "app/settings.h"
#include "app/size_text.h"
#include "app/sql_texts.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "ui/frame.h"

namespace tw {
namespace {

constexpr UnitRef kList{kMainWindow, ids::超级列表框1};
constexpr UnitRef kCombo{kMainWindow, ids::组合框_库名};

// SQL Server's "Invalid object name" and "Invalid column name": a server whose collation tells
// case apart refuses the upper-case catalogue names with them.
bool RefusedForCase(DatabaseCalls& db) {
  const int error = db.LastNativeError();
  return error == 208 || error == 207;
}

// A count read from field 1: a floating-point count is truncated toward zero.
int CountOf(const Value& v) {
  if (v.IsNumeric()) return NumericToInt(v).value_or(0);
  return ToInt(v);
}

// Opens `sql` on the main connection, or its own-case form when the server refused the
// upper-case names; `ownCase` tells which one stands.
int OpenCatalogue(App& app, std::string_view sql, std::string_view ownCaseSql, bool* ownCase) {
  *ownCase = false;
  const int table = app.mainDb.Open(sql);
  if (table != 0 || !RefusedForCase(app.mainDb)) return table;
  *ownCase = true;
  return app.mainDb.Open(ownCaseSql);
}

Text SizeOfRow(App& app, int row, const Text& name, bool local) {
  if (app.unnameableRows.count(row) != 0) return size_text::Unavailable();
  const auto log = ReadLogFile(app, app.secondDb, &ReopenSecondConnection, name);
  if (!log) return size_text::Unavailable();
  app.logFilePath = log->location;
  if (local) {
    const std::int64_t bytes = FileSize(app.logFilePath);
    return size_text::LocalListing(static_cast<std::int64_t>(std::trunc(bytes / 1024.0)));
  }
  if (!log->pages) return size_text::Unavailable();
  return size_text::Server(static_cast<float>(*log->pages / 124.0));
}

void ListLogs(App& app, bool local) {
  app.frame.ListDeleteAll(kList);
  app.unnameableRows.clear();
  ReopenMainConnection(app);
  bool ownCase = false;
  const int countTable =
      OpenCatalogue(app, sql::kListingCount, sql::kListingCountOwnCase, &ownCase);
  const int n = CountOf(app.mainDb.Read(countTable, 1));
  app.mainDb.CloseTable(countTable);
  const int names = app.mainDb.Open(ownCase ? sql::kListingNamesOwnCase : sql::kListingNames);
  // One login serves the whole listing: every files table is released after reading, and a
  // connection that drops is reopened once for the query that found it gone.
  ReopenSecondConnection(app);
  // Nothing writes the settings between the rows, so one read of the file serves every tick.
  const IniSnapshot saved(settings::Path());
  const Text ticks = Gbk(settings::k欲清理的库);
  for (int i = 0; i < n; ++i) {
    const Text name = ToText(app.mainDb.Read(names, 1));
    const bool lossy = app.mainDb.LastReadLossy();
    const int row = app.frame.ListInsertRow(kList);
    if (lossy) app.unnameableRows.insert(row);
    app.frame.ListSetCellText(kList, row, 1, name);
    if (saved.Read(ticks, name) == "1") {
      app.frame.ListSetCheckState(kList, row, 1);
    }
    app.frame.ListSetCellText(kList, row, 2, SizeOfRow(app, row, name, local));
    app.mainDb.MoveNext(names);
  }
  app.mainDb.CloseTable(names);
}

Value OnRowToggled(App& app, const std::vector<Value>& args) {
  if (args.size() < 2) return {};
  const int row = ToInt(args[0]);
  const Text name = app.frame.ListCellText(kList, row, 1);
  settings::WriteGbkKey(settings::k欲清理的库, name, ToText(Value::Int(ToInt(args[1]))));
  return {};
}

Value OnDatabaseChosen(App& app) {
  app.chosenDatabase = app.frame.ComboItemText(kCombo, app.ComboSelection(ids::组合框_库名));
  settings::Write(settings::k配置, settings::k指定库, app.chosenDatabase);
  return {};
}

Value OnListRightClick(App& app) {
  if (ToInt(app.frame.ReadProp(kList, prop::kListSelected)) == -1) return {};
  app.frame.PopupMenu(kMainWindow, ids::菜单_列表);
  return {};
}

Value OnRefreshRow(App& app) {
  const int row = ToInt(app.frame.ReadProp(kList, prop::kListSelected));
  if (row < 0) return {};
  const Text name = app.frame.ListCellText(kList, row, 1);
  app.frame.ListSetCellText(kList, row, 2, Gbk("正在获取..."));
  DelayMs(200);
  // The list may have been rebuilt or emptied meanwhile: never write another database's size.
  if (row >= app.frame.ListRowCount(kList) || app.frame.ListCellText(kList, row, 1) != name) {
    return {};
  }
  Text text = size_text::Unavailable();
  if (app.unnameableRows.count(row) != 0) {
    // Its name may be another database's: nothing is asked under it.
  } else if (IsLocalServer(app)) {
    if (const auto k = LocalLogSizeKB(app, name)) text = size_text::Local(*k);
  } else if (const auto m = ServerLogSizeMB(app, name)) {
    text = size_text::Server(*m);
  }
  app.frame.ListSetCellText(kList, row, 2, text);
  return {};
}

}  // namespace

void RefreshLogList(App& app) {
  ListLogs(app, IsLocalServer(app));
}

std::vector<Text> FillDatabaseCombo(App& app) {
  bool ownCase = false;
  const int countTable = OpenCatalogue(app, sql::kComboCount, sql::kComboCount, &ownCase);
  const int count = CountOf(app.mainDb.Read(countTable, 1));
  app.mainDb.CloseTable(countTable);
  const int names = OpenCatalogue(app, sql::kComboNames, sql::kComboNamesOwnCase, &ownCase);
  const std::string_view field = ownCase ? sql::kComboNameFieldOwnCase : sql::kComboNameField;
  app.frame.ComboClear(kCombo);
  std::vector<Text>& items = app.databaseNames;
  items.clear();
  for (int i = 0; i < count; ++i) {
    items.push_back(ToText(app.mainDb.Read(names, field)));
    app.frame.ComboAddItem(kCombo, items.back());
    app.mainDb.MoveNext(names);
  }
  app.mainDb.CloseTable(names);
  ReopenMainConnection(app);
  return items;
}

void BindCatalogue(Frame& frame, App& app) {
  frame.SetHandler(Handler::ListCheckToggled,
                   [&app](const std::vector<Value>& args) { return OnRowToggled(app, args); });
  frame.SetHandler(Handler::DatabaseChosen,
                   [&app](const std::vector<Value>&) { return OnDatabaseChosen(app); });
  frame.SetHandler(Handler::ListRightClick,
                   [&app](const std::vector<Value>&) { return OnListRightClick(app); });
  frame.SetHandler(Handler::MenuRefresh,
                   [&app](const std::vector<Value>&) { return OnRefreshRow(app); });
}

}  // namespace tw
