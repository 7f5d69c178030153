// The single and the batch cleanup: buttons, the transparent label over the list, the
// measurements before and after, and the result texts in every row of the database.
#include "app/cleanup.h"

#include <functional>

#include "app/app.h"
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

// Rows are matched by their name with ASCII letters lowered, so every row of the database gets
// the texts, not only the one that started the work.
void ForEachRowOf(App& app, const Text& database, const std::function<void(int)>& fn) {
  const Text wanted = ToLower(database);
  const int rows = app.frame.ListRowCount(kList);
  for (int r = 0; r < rows; ++r) {
    if (ToLower(app.frame.ListCellText(kList, r, 1)) == wanted) fn(r);
  }
}

void WriteResults(App& app, const Text& database, const Text& stamp, const LogMeasure& before,
                  const LogMeasure& after, const ShrinkOutcome& outcome) {
  const bool local = IsLocalServer(app);
  const Text size = !after.size ? size_text::Unavailable()
                    : local     ? size_text::Local(*after.size)
                                : size_text::Server(*after.size);
  Text state;
  if (!outcome.ok) {
    state = stamp + Gbk(" 清理失败：") + outcome.failure;
  } else if (before.size && after.size) {
    const auto freed =
        static_cast<float>(static_cast<double>(*before.size) - static_cast<double>(*after.size));
    state =
        stamp + Gbk(" 清理了 ") + (local ? size_text::Local(freed) : size_text::FreedServer(freed));
  } else {
    state = stamp + Gbk(" 清理完成");
  }
  ForEachRowOf(app, database, [&](int r) { app.frame.ListSetCellText(kList, r, 2, size); });
  ForEachRowOf(app, database, [&](int r) { app.frame.ListSetCellText(kList, r, 3, state); });
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

}  // namespace

Text CleanupTimestamp() {
  const double now = Now();
  const auto t = [](int v) { return ToText(Value::Int(v)); };
  return t(YearOf(now)) + "-" + t(MonthOf(now)) + "-" + t(DayOf(now)) + " " + t(HourOf(now)) + ":" +
         t(MinuteOf(now)) + ":" + t(SecondOf(now));
}

void CleanChosenDatabase(App& app) {
  if (app.cleaning) return;
  HoldOff holdOff(app, ids::按钮_一键清理);
  const Text stamp = CleanupTimestamp();
  const UnitRef combo{kMainWindow, ids::组合框_库名};
  if (app.frame.ComboItemText(combo, app.ComboSelection(ids::组合框_库名)).empty()) {
    app.Message(Gbk("请指定数据库"), 0);
    return;
  }
  const Text database = app.chosenDatabase;
  CleaningStarted(app, ids::按钮_单独清理);
  const LogMeasure before = Measure(app, database);
  ForEachRowOf(app, database,
               [&](int r) { app.frame.ListSetCellText(kList, r, 3, Gbk("正在清理...")); });
  const bool nameable = app.unnameable.count(database) == 0;
  const ShrinkOutcome outcome =
      nameable ? ShrinkLog(app, database, before.logicalName) : Unnameable();
  const LogMeasure after = Measure(app, database);
  AdvanceProgress(app, 100);
  app.SetCaption(ids::按钮_单独清理, Gbk("清理完成"));
  DelayMs(500);
  app.Enable(ids::按钮_单独清理, true);
  app.SetCaption(ids::按钮_单独清理, Gbk("清理"));
  WriteResults(app, database, stamp, before, after, outcome);
  app.Enable(ids::分组框_登陆, true);
  app.Show(ids::透明标签_超级列表框, false);
}

void CleanTickedDatabases(App& app) {
  if (app.cleaning) return;
  HoldOff holdOff(app, ids::按钮_单独清理);
  CleaningStarted(app, ids::按钮_一键清理);
  const int rows = app.frame.ListRowCount(kList);
  for (int r = 0; r < rows && !app.exitRequested; ++r) {
    if (app.frame.ListCheckState(kList, r) != 1) continue;
    const Text stamp = CleanupTimestamp();
    const Text database = app.frame.ListCellText(kList, r, 1);
    app.frame.ListSetCellText(kList, r, 3, Gbk("正在清理..."));
    const LogMeasure before = Measure(app, database);
    const ShrinkOutcome outcome = app.unnameable.count(database) == 0
                                      ? ReconnectAndShrinkLog(app, database, before.logicalName)
                                      : Unnameable();
    const LogMeasure after = Measure(app, database);
    WriteResults(app, database, stamp, before, after, outcome);
  }
  app.SetCaption(ids::按钮_一键清理, Gbk("清理完成"));
  // The program is about to end: the rest of the databases and the pause are skipped.
  if (!app.exitRequested) DelayMs(1000);
  app.Enable(ids::分组框_登陆, true);
  app.Show(ids::透明标签_超级列表框, false);
  app.SetCaption(ids::按钮_一键清理, Gbk("一键清理"));
  app.Enable(ids::按钮_一键清理, true);
}

void BindCleanup(Frame& frame, App& app) {
  frame.SetHandler(Handler::CleanOne, [&app](const std::vector<Value>&) {
    CleanChosenDatabase(app);
    return Value{};
  });
  frame.SetHandler(Handler::CleanAll, [&app](const std::vector<Value>&) {
    CleanTickedDatabases(app);
    return Value{};
  });
}

}  // namespace tw
