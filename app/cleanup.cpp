// The single and the batch cleanup: buttons, the transparent label over the list, the
// measurements before and after, the result texts in every row of the database and the
// history line of each database cleaned.
#include "app/cleanup.h"

#include <optional>
#include <vector>

#include "app/app.h"
#include "app/connection.h"
#include "app/history.h"
#include "app/probes.h"
#include "app/shrink.h"
#include "app/size_text.h"
#include "runtime/datetime.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "ui/frame.h"

namespace tw {
namespace {

constexpr UnitRef kList{kMainWindow, ids::超级列表框1};

// What one database's cleanup found, for its rows and its history line.
struct Cleaned {
  Text stamp;
  bool scheduled = false;
  Text database;
  LogMeasure before;
  LogMeasure after;
  ShrinkOutcome outcome;
};

// While one cleanup runs the other one's button is disabled; it gets its own state back after.
class HoldOff {
 public:
  HoldOff(App& app, int otherButton)
      : app_(app),
        other_(otherButton),
        wasEnabled_(!app.frame.ReadProp({kMainWindow, otherButton}, prop::kDisabled).AsBool()) {
    app_.cleaning = true;
    app_.Enable(other_, false);
  }
  ~HoldOff() {
    app_.Enable(other_, wasEnabled_);
    app_.cleaning = false;
  }
  HoldOff(const HoldOff&) = delete;
  HoldOff& operator=(const HoldOff&) = delete;

 private:
  App& app_;
  int other_;
  bool wasEnabled_;
};

LogMeasure Measure(App& app, const Text& database) {
  return MeasureLog(app, database, IsLocalServer(app));
}

// The rows of a database: those whose name, ASCII letters lowered, is its name lowered, so
// every row of it gets the texts, not only the one that started the work. A row whose name
// came back lossy is never one of them: its name may be this database's only by accident.
std::vector<int> RowsOf(App& app, const Text& database) {
  std::vector<int> rows;
  const Text wanted = ToLower(database);
  const int count = app.frame.ListRowCount(kList);
  for (int r = 0; r < count; ++r) {
    if (app.unnameableRows.count(r) != 0) continue;
    if (ToLower(app.frame.ListCellText(kList, r, 1)) == wanted) rows.push_back(r);
  }
  return rows;
}

// The rows named `database` whose names came back lossy, when no real database has the name.
std::vector<int> UnnameableRowsOf(App& app, const Text& database) {
  std::vector<int> rows;
  for (int r : app.unnameableRows) {
    if (r < app.frame.ListRowCount(kList) &&
        ToLower(app.frame.ListCellText(kList, r, 1)) == ToLower(database)) {
      rows.push_back(r);
    }
  }
  return RowsOf(app, database).empty() ? rows : std::vector<int>{};
}

Text SizeText(const std::optional<float>& size, bool local) {
  if (!size) return size_text::Unavailable();
  return local ? size_text::Local(*size) : size_text::Server(*size);
}

// Writes the new size and the outcome into `rows` and keeps the history line, which it returns.
HistoryEntry WriteResults(App& app, const std::vector<int>& rows, const Cleaned& c) {
  const bool local = IsLocalServer(app);
  HistoryEntry entry{c.stamp,
                     c.scheduled,
                     app.serverAddress,
                     c.database,
                     SizeText(c.before.size, local),
                     SizeText(c.after.size, local),
                     {},
                     false};
  if (!c.outcome.ok) {
    entry.outcome = Gbk("清理失败：") + c.outcome.failure;
    entry.failed = true;
  } else if (c.before.size && c.after.size) {
    const auto freed = static_cast<float>(static_cast<double>(*c.before.size) -
                                          static_cast<double>(*c.after.size));
    entry.outcome =
        Gbk("清理了 ") + (local ? size_text::Local(freed) : size_text::FreedServer(freed));
  } else {
    entry.outcome = Gbk("清理完成");
  }
  for (int r : rows) app.frame.ListSetCellText(kList, r, 2, entry.after);
  for (int r : rows) app.frame.ListSetCellText(kList, r, 3, c.stamp + " " + entry.outcome);
  history::Append(entry);
  return entry;
}

ShrinkOutcome Unnameable() {
  return {false, Gbk("数据库名称含有无法表示的字符")};
}

void CleaningStarted(App& app, int button) {
  app.Enable(button, false);
  app.Enable(ids::分组框_登陆, false);
  // The label lies over the list so that the list takes no mouse input meanwhile.
  app.Show(ids::透明标签_超级列表框, true);
  app.SetCaption(button, Gbk("正在清理..."));
}

// A scheduled single cleanup has nobody to ask: it needs the chosen database among the server's
// databases, whatever the combo shows, and records the failure when it is not there.
bool ChosenDatabaseListed(App& app, const Text& stamp) {
  if (IndexOfDatabase(app.databaseNames, app.chosenDatabase) >= 0) return true;
  RecordRunNotStarted(app, stamp, app.chosenDatabase,
                      Gbk("指定的数据库不存在：") + app.chosenDatabase);
  return false;
}

}  // namespace

Text CleanupTimestamp() {
  const double now = Now();
  const auto t = [](int v) { return ToText(Value::Int(v)); };
  return t(YearOf(now)) + "-" + t(MonthOf(now)) + "-" + t(DayOf(now)) + " " + t(HourOf(now)) + ":" +
         t(MinuteOf(now)) + ":" + t(SecondOf(now));
}

void CleanChosenDatabase(App& app, Start start) {
  if (app.cleaning) return;
  HoldOff holdOff(app, ids::按钮_一键清理);
  const bool scheduled = start == Start::BySchedule;
  const Text stamp = CleanupTimestamp();
  if (scheduled) {
    if (!ChosenDatabaseListed(app, stamp)) return;
  } else {
    const UnitRef combo{kMainWindow, ids::组合框_库名};
    if (app.frame.ComboItemText(combo, app.ComboSelection(ids::组合框_库名)).empty()) {
      app.Message(Gbk("请指定数据库"), 0);
      return;
    }
  }
  const Text database = app.chosenDatabase;
  // When only rows whose names came back lossy carry the name, it addresses no database of
  // theirs: they get the failure and nothing is sent.
  const bool nameable = UnnameableRowsOf(app, database).empty();
  const auto rows = [&] {
    return nameable ? RowsOf(app, database) : UnnameableRowsOf(app, database);
  };
  CleaningStarted(app, ids::按钮_单独清理);
  Cleaned c{stamp, scheduled, database, {}, {}, Unnameable()};
  if (nameable) c.before = Measure(app, database);
  for (int r : rows()) app.frame.ListSetCellText(kList, r, 3, Gbk("正在清理..."));
  if (nameable) {
    c.outcome = ShrinkLog(app, database, c.before.logicalName);
    c.after = Measure(app, database);
  }
  AdvanceProgress(app, 100);
  app.SetCaption(ids::按钮_单独清理, Gbk("清理完成"));
  DelayMs(500);
  app.Enable(ids::按钮_单独清理, true);
  app.SetCaption(ids::按钮_单独清理, Gbk("清理"));
  const HistoryEntry entry = WriteResults(app, rows(), c);
  app.Enable(ids::分组框_登陆, true);
  app.Show(ids::透明标签_超级列表框, false);
  if (scheduled && entry.failed) NotifyFailure(app, entry);
}

void CleanTickedDatabases(App& app, Start start) {
  if (app.cleaning) return;
  HoldOff holdOff(app, ids::按钮_单独清理);
  CleaningStarted(app, ids::按钮_一键清理);
  std::optional<HistoryEntry> firstFailure;
  const int rows = app.frame.ListRowCount(kList);
  for (int r = 0; r < rows && !app.exitRequested; ++r) {
    if (app.frame.ListCheckState(kList, r) != 1) continue;
    Cleaned c{
        CleanupTimestamp(), start == Start::BySchedule, app.frame.ListCellText(kList, r, 1), {}, {},
        Unnameable()};
    app.frame.ListSetCellText(kList, r, 3, Gbk("正在清理..."));
    // A row whose name came back lossy gets its own failure and nothing else.
    const bool nameable = app.unnameableRows.count(r) == 0;
    if (nameable) {
      c.before = Measure(app, c.database);
      c.outcome = ReconnectAndShrinkLog(app, c.database, c.before.logicalName);
      c.after = Measure(app, c.database);
    }
    const HistoryEntry entry =
        WriteResults(app, nameable ? RowsOf(app, c.database) : std::vector{r}, c);
    if (entry.failed && !firstFailure) firstFailure = entry;
  }
  app.SetCaption(ids::按钮_一键清理, Gbk("清理完成"));
  // The program is about to end: the rest of the databases and the pause are skipped.
  if (!app.exitRequested) DelayMs(1000);
  app.Enable(ids::分组框_登陆, true);
  app.Show(ids::透明标签_超级列表框, false);
  app.SetCaption(ids::按钮_一键清理, Gbk("一键清理"));
  app.Enable(ids::按钮_一键清理, true);
  // One balloon per run: the first failure; the history file holds every line.
  if (start == Start::BySchedule && firstFailure) NotifyFailure(app, *firstFailure);
}

void BindCleanup(Frame& frame, App& app) {
  frame.SetHandler(Handler::CleanOne, [&app](const std::vector<Value>&) {
    CleanChosenDatabase(app, Start::ByHand);
    return Value{};
  });
  frame.SetHandler(Handler::CleanAll, [&app](const std::vector<Value>&) {
    CleanTickedDatabases(app, Start::ByHand);
    return Value{};
  });
}

}  // namespace tw
