// The schedule's handlers: mode boxes, 按钮_确定, the two radio buttons, 选择框_挂机 and the tick
// of 时钟1. The schedule lives in the controls; the tick reads them, not the settings file.
#include "app/schedule.h"

#include <cmath>

#include "app/app.h"
#include "app/cleanup.h"
#include "app/connection.h"
#include "app/history.h"
#include "app/settings.h"
#include "runtime/datetime.h"
#include "runtime/gbk.h"
#include "runtime/text.h"
#include "ui/frame.h"

namespace tw {
namespace {

namespace s = settings;

constexpr int kTimeFields[] = {ids::编辑框_时, ids::编辑框_分, ids::编辑框_秒};
constexpr int kTimeLabels[] = {ids::标签_时, ids::标签_分, ids::标签_秒};
constexpr int kModeBoxes[] = {ids::选择框_每月, ids::选择框_每周, ids::选择框_每天};
constexpr std::int64_t kLookBackSeconds = 60;

std::int64_t SecondsOf(double dateTime) {
  const double whole = std::trunc(dateTime);
  return static_cast<std::int64_t>(whole) * 86400 +
         std::llround(std::fabs(dateTime - whole) * 86400.0);
}

double DateTimeOf(std::int64_t seconds) {
  const std::int64_t day = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  return MakeDate(1899, 12, 30 + static_cast<int>(day), 0, 0,
                  static_cast<int>(seconds - day * 86400));
}

void ShowTime(App& app, bool visible) {
  for (int unit : kTimeLabels) app.Show(unit, visible);
  for (int unit : kTimeFields) app.Show(unit, visible);
  app.Show(ids::按钮_确定, visible);
}

void EnableTimeFields(App& app) {
  app.Enable(ids::按钮_确定, true);
  for (int unit : kTimeFields) app.Enable(unit, true);
}

// Ticking one mode box unticks and disables the other two; unticking it enables them again.
void OtherModes(App& app, int box, bool ticked) {
  for (int other : kModeBoxes) {
    if (other == box) continue;
    if (ticked) app.Check(other, false);
    app.Enable(other, !ticked);
  }
}

Value OnMonthly(App& app) {
  const bool ticked = app.Checked(ids::选择框_每月);
  OtherModes(app, ids::选择框_每月, ticked);
  app.Show(ids::标签_日, ticked);
  app.Show(ids::编辑框_日, ticked);
  ShowTime(app, ticked);
  if (!ticked) {
    EnableTimeFields(app);
    app.Enable(ids::编辑框_日, true);
  }
  return {};
}

Value OnWeekly(App& app) {
  const bool ticked = app.Checked(ids::选择框_每周);
  OtherModes(app, ids::选择框_每周, ticked);
  app.Show(ids::组合框_星期, ticked);
  app.Enable(ids::组合框_星期, ticked);
  ShowTime(app, ticked);
  if (!ticked) EnableTimeFields(app);
  return {};
}

Value OnDaily(App& app) {
  const bool ticked = app.Checked(ids::选择框_每天);
  OtherModes(app, ids::选择框_每天, ticked);
  ShowTime(app, ticked);
  if (!ticked) {
    app.Show(ids::标签_日, false);
    app.Show(ids::编辑框_日, false);
    EnableTimeFields(app);
    app.Enable(ids::编辑框_日, true);
  }
  return {};
}

bool AnyTimeFieldEmpty(App& app) {
  for (int unit : kTimeFields) {
    if (app.EditText(unit).empty()) return true;
  }
  return false;
}

// Each of hour, minute and second above its limit (24, 60, 60) is saved and shown as "0".
void SaveTime(App& app) {
  const std::pair<int, std::string_view> fields[] = {
      {ids::编辑框_时, s::k时}, {ids::编辑框_分, s::k分}, {ids::编辑框_秒, s::k秒}};
  for (const auto& [unit, key] : fields) {
    const int limit = unit == ids::编辑框_时 ? 24 : 60;
    Text text = app.EditText(unit);
    if (ToInt(Value::Str(text)) > limit) {
      text = "0";
      app.SetEditText(unit, text);
    }
    s::Write(s::k定时配置, key, text);
  }
}

void LockTimeFields(App& app) {
  app.Enable(ids::按钮_确定, false);
  for (int unit : kTimeFields) app.Enable(unit, false);
}

Value OnSave(App& app) {
  const auto message = [&](const char* text) { app.Message(Gbk(text), 0); };
  if (app.Checked(ids::选择框_每月)) {
    if (app.EditText(ids::编辑框_日).empty()) return message("日期不能为空"), Value{};
    if (AnyTimeFieldEmpty(app)) return message("时间不能为空"), Value{};
    s::Write(s::k定时配置, s::k模式, Gbk("每月一次"));
    Text day = app.EditText(ids::编辑框_日);
    if (ToInt(Value::Str(day)) > 31) {
      day = "1";
      app.SetEditText(ids::编辑框_日, day);
    }
    s::Write(s::k定时配置, s::k日期, day);
    SaveTime(app);
    LockTimeFields(app);
    app.Enable(ids::编辑框_日, false);
  } else if (app.Checked(ids::选择框_每周)) {
    const UnitRef weekday{kMainWindow, ids::组合框_星期};
    const int selected = app.ComboSelection(ids::组合框_星期);
    if (selected == -1) return message("请选择星期"), Value{};
    if (AnyTimeFieldEmpty(app)) return message("时间不能为空"), Value{};
    s::Write(s::k定时配置, s::k模式, Gbk("每周一次"));
    s::Write(s::k定时配置, s::k星期, app.frame.ComboItemText(weekday, selected));
    SaveTime(app);
    LockTimeFields(app);
    app.Enable(ids::组合框_星期, false);
  } else if (app.Checked(ids::选择框_每天)) {
    if (AnyTimeFieldEmpty(app)) return message("时间不能为空"), Value{};
    s::Write(s::k定时配置, s::k模式, Gbk("每天一次"));
    SaveTime(app);
    LockTimeFields(app);
  }
  return {};
}

Value OnSingleMode(App& app) {
  if (app.ComboSelection(ids::组合框_库名) == -1) {
    app.Message(Gbk("请先指定数据库"), 0);
    app.Check(ids::单选框_单独, false);
  } else {
    s::Write(s::k配置, s::k定时清理模式, "1");
  }
  return {};
}

Value OnBatchMode(App& app) {
  const UnitRef list{kMainWindow, ids::超级列表框1};
  int ticked = 0;
  const int rows = app.frame.ListRowCount(list);
  for (int r = 0; r < rows; ++r) ticked += app.frame.ListCheckState(list, r) == 1 ? 1 : 0;
  if (ticked == 0) {
    app.Message(Gbk("请先选定数据库"), 0);
    app.Check(ids::单选框_批量, false);
  } else {
    s::Write(s::k配置, s::k定时清理模式, "2");
  }
  return {};
}

Value OnUnattended(App& app) {
  const bool on = app.Checked(ids::选择框_挂机);
  s::Write(s::k配置, s::k是否挂机, Gbk(on ? "是" : "否"));
  app.SetTimerInterval(on ? 1000 : 0);
  return {};
}

// The schedule as the controls show it at this tick.
struct Wanted {
  bool monthly = false, weekly = false, daily = false;
  int day = 0, weekday = 0, hour = 0, minute = 0, second = 0;

  bool Matches(std::int64_t at) const {
    const double t = DateTimeOf(at);
    const bool time = HourOf(t) == hour && MinuteOf(t) == minute && SecondOf(t) == second;
    if (!time) return false;
    return (monthly && DayOf(t) == day) || (weekly && WeekdayOf(t) == weekday) || daily;
  }
};

Wanted ReadSchedule(App& app) {
  Wanted w;
  w.monthly = app.Checked(ids::选择框_每月);
  w.weekly = app.Checked(ids::选择框_每周);
  w.daily = app.Checked(ids::选择框_每天);
  const auto number = [&](int unit) { return ToInt(Value::Str(app.EditText(unit))); };
  w.day = number(ids::编辑框_日);
  w.hour = number(ids::编辑框_时);
  w.minute = number(ids::编辑框_分);
  w.second = number(ids::编辑框_秒);
  // Weekday numbers run from 1 = Sunday; no selection gives 0, which never matches.
  const UnitRef combo{kMainWindow, ids::组合框_星期};
  const Text chosen = app.frame.ComboItemText(combo, app.ComboSelection(ids::组合框_星期));
  const char* names[] = {"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"};
  for (int i = 0; i < 7; ++i) {
    if (chosen == Gbk(names[i])) w.weekday = i + 1;
  }
  return w;
}

// A machine that started the tool at logon may have had no network or server then: without a
// connection the due cleanup first makes the automatic connection, once per due occurrence, so
// that a login that keeps failing is not locked out by retries.
void RunScheduledCleanup(App& app) {
  const bool single = app.Checked(ids::单选框_单独);
  if (!app.mainDb.Connected()) {
    const Text stamp = CleanupTimestamp();
    if (!ConnectAutomatically(app)) {
      RecordRunNotStarted(app, stamp, single ? app.chosenDatabase : Text(), Gbk("连接失败"));
      return;
    }
  }
  if (single) {
    CleanChosenDatabase(app, Start::BySchedule);
  } else {
    CleanTickedDatabases(app, Start::BySchedule);
  }
}

Value OnTick(App& app) {
  const std::int64_t now = SecondsOf(Now());
  const std::optional<std::int64_t> previous = app.lastTickSecond;
  app.lastTickSecond = now;
  // A cleanup in progress holds the schedule off: what falls due meanwhile starts nothing.
  if (app.cleaning) return {};
  const Wanted wanted = ReadSchedule(app);
  const auto due = DueSecond(previous, now, app.lastFiredSecond,
                             [&](std::int64_t at) { return wanted.Matches(at); });
  if (!due) return {};
  app.lastFiredSecond = *due;
  RunScheduledCleanup(app);
  return {};
}

}  // namespace

std::optional<std::int64_t> DueSecond(std::optional<std::int64_t> previousTick,
                                      std::int64_t thisTick, std::optional<std::int64_t> lastFired,
                                      const std::function<bool(std::int64_t)>& matches) {
  std::int64_t from = thisTick;
  if (previousTick && *previousTick < thisTick && thisTick - *previousTick <= kLookBackSeconds) {
    from = *previousTick + 1;
  }
  for (std::int64_t t = from; t <= thisTick; ++t) {
    if (lastFired && *lastFired == t) continue;
    if (matches(t)) return t;
  }
  return std::nullopt;
}

void BindSchedule(Frame& frame, App& app) {
  const auto bind = [&](Handler slot, Value (*fn)(App&)) {
    frame.SetHandler(slot, [&app, fn](const std::vector<Value>&) { return fn(app); });
  };
  bind(Handler::MonthlyClicked, OnMonthly);
  bind(Handler::WeeklyClicked, OnWeekly);
  bind(Handler::DailyClicked, OnDaily);
  bind(Handler::SaveSchedule, OnSave);
  bind(Handler::SingleModeClicked, OnSingleMode);
  bind(Handler::BatchModeClicked, OnBatchMode);
  bind(Handler::UnattendedClicked, OnUnattended);
  bind(Handler::ScheduleTick, OnTick);
}

}  // namespace tw
