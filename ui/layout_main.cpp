// The main window's layout: the login, single-cleanup and schedule groups, the database list
// with the two transparent labels over it, the non-visual units and the two pop-up menus.
// Captions are written here in UTF-8 and turned into GBK once, at first use.
#include "runtime/gbk.h"
#include "ui/layout.h"
#include "ui/layout_build.h"

namespace tw {
namespace {

using namespace layout_build;  // NOLINT(google-build-using-namespace): the table below reads better
namespace u = ids;

// The font that 按钮_确定 and 组合框_库名 carry: 12-pixel characters in the system's default
// face for GB2312.
FontLayout SchedulerFont() {
  FontLayout f;
  f.height = -12;
  f.weight = 400;
  f.charset = 134;
  return f;
}

void AddLoginGroup(std::vector<UnitLayout>& out) {
  const int g = u::分组框_登陆;
  out.push_back(Make(g, UnitKind::GroupBox, "分组框_登陆", 0, 8, 8, 304, 176, kV, "登陆"));
  out.push_back(Aligned(
      Make(u::标签1, UnitKind::Label, "标签1", g, 8, 17, 64, 32, kV, "数据库IP："), Align::Right));
  out.push_back(Make(u::编辑框_IP, UnitKind::Edit, "编辑框_IP", g, 72, 17, 160, 32, kV | kT));
  out.push_back(Bind(Make(u::按钮_获取本机ip, UnitKind::Button, "按钮_获取本机ip", g, 240, 17, 48,
                          32, kV | kT, "本机"),
                     event::kClick, Handler::OpenChooser));
  out.push_back(Aligned(Make(u::标签2, UnitKind::Label, "标签2", g, 16, 57, 56, 32, kV, "用户名："),
                        Align::Right));
  out.push_back(
      Make(u::编辑框_用户名, UnitKind::Edit, "编辑框_用户名", g, 72, 57, 160, 32, kV | kT));
  out.push_back(Aligned(Make(u::标签3, UnitKind::Label, "标签3", g, 24, 97, 48, 32, kV, "密码："),
                        Align::Right));
  UnitLayout password =
      Make(u::编辑框_密码, UnitKind::Edit, "编辑框_密码", g, 72, 97, 160, 32, kV | kT);
  password.editRule = EditRule::Password;
  out.push_back(password);
  out.push_back(Bind(Make(u::选择框_挂机, UnitKind::CheckBox, "选择框_挂机", g, 243, 94, 50, 40,
                          kV | kD | kT, "挂机"),
                     event::kClick, Handler::UnattendedClicked));
  out.push_back(
      Bind(Make(u::按钮_连接, UnitKind::Button, "按钮_连接", g, 72, 134, 72, 32, kV | kT, "连接"),
           event::kClick, Handler::Connect));
  out.push_back(Bind(
      Make(u::按钮_断开, UnitKind::Button, "按钮_断开", g, 160, 134, 72, 32, kV | kD | kT, "断开"),
      event::kClick, Handler::Disconnect));
}

void AddSingleCleanGroup(std::vector<UnitLayout>& out) {
  const int g = u::分组框_单独清理;
  out.push_back(Make(g, UnitKind::GroupBox, "分组框_单独清理", 0, 8, 184, 304, 80, kV, "单独清理"));
  UnitLayout combo =
      Make(u::组合框_库名, UnitKind::Combo, "组合框_库名", g, 8, 24, 176, 24, kV | kD | kT);
  combo.font = SchedulerFont();
  out.push_back(Bind(combo, event::kComboChosen, Handler::DatabaseChosen));
  out.push_back(Bind(Make(u::按钮_单独清理, UnitKind::Button, "按钮_单独清理", g, 209, 22, 80, 29,
                          kV | kD | kT, "清理"),
                     event::kClick, Handler::CleanOne));
  out.push_back(Make(u::进度条1, UnitKind::Progress, "进度条1", g, 8, 56, 282, 16, kV));
}

// A two-character field of the schedule: hour, minute, second or day.
UnitLayout TimeField(int id, const char* name, int left, int top, EditRule rule) {
  UnitLayout e = Make(id, UnitKind::Edit, name, u::分组框_定时, left, top, 20, 20, kT);
  e.align = Align::Center;
  e.editRule = rule;
  e.maxChars = 2;
  return e;
}

UnitLayout TimeLabel(int id, const char* name, int left, int top, const char* caption) {
  return Aligned(Make(id, UnitKind::Label, name, u::分组框_定时, left, top, 16, 24, 0, caption),
                 Align::Center);
}

void AddScheduleGroup(std::vector<UnitLayout>& out) {
  const int g = u::分组框_定时;
  out.push_back(Make(g, UnitKind::GroupBox, "分组框_定时", 0, 8, 265, 304, 80, kV, "定时"));
  out.push_back(Bind(Make(u::选择框_每月, UnitKind::CheckBox, "选择框_每月", g, 8, 21, 72, 16,
                          kV | kT, "每月一次"),
                     event::kClick, Handler::MonthlyClicked));
  out.push_back(Bind(Make(u::选择框_每周, UnitKind::CheckBox, "选择框_每周", g, 8, 37, 72, 16,
                          kV | kT, "每周一次"),
                     event::kClick, Handler::WeeklyClicked));
  out.push_back(Bind(Make(u::选择框_每天, UnitKind::CheckBox, "选择框_每天", g, 8, 53, 72, 16,
                          kV | kT, "每天一次"),
                     event::kClick, Handler::DailyClicked));
  out.push_back(TimeField(u::编辑框_日, "编辑框_日", 82, 21, EditRule::WholeNumber));
  out.push_back(TimeLabel(u::标签_日, "标签_日", 102, 19, "日"));
  UnitLayout weekday = Make(u::组合框_星期, UnitKind::Combo, "组合框_星期", g, 82, 21, 64, 20, kT);
  weekday.comboEditable = true;
  for (const char* day : {"星期一", "星期二", "星期三", "星期四", "星期五", "星期六", "星期日"}) {
    weekday.items.push_back(Gbk(day));
  }
  out.push_back(weekday);
  out.push_back(TimeField(u::编辑框_时, "编辑框_时", 82, 47, EditRule::Digits));
  out.push_back(TimeLabel(u::标签_时, "标签_时", 103, 46, "时"));
  out.push_back(TimeField(u::编辑框_分, "编辑框_分", 120, 47, EditRule::Digits));
  out.push_back(TimeLabel(u::标签_分, "标签_分", 141, 46, "分"));
  out.push_back(TimeField(u::编辑框_秒, "编辑框_秒", 159, 47, EditRule::Digits));
  out.push_back(TimeLabel(u::标签_秒, "标签_秒", 180, 46, "秒"));
  UnitLayout ok = Make(u::按钮_确定, UnitKind::Button, "按钮_确定", g, 201, 45, 40, 22, kT, "确定");
  ok.font = SchedulerFont();
  out.push_back(Bind(ok, event::kClick, Handler::SaveSchedule));
  out.push_back(
      Bind(Make(u::单选框_单独, UnitKind::Radio, "单选框_单独", g, 199, 9, 48, 24, kV | kT, "单独"),
           event::kClick, Handler::SingleModeClicked));
  out.push_back(
      Bind(Make(u::单选框_批量, UnitKind::Radio, "单选框_批量", g, 247, 9, 48, 24, kV | kT, "批量"),
           event::kClick, Handler::BatchModeClicked));
}

UnitLayout DatabaseList() {
  UnitLayout list =
      Make(u::超级列表框1, UnitKind::ListView, "超级列表框1", 0, 314, 15, 550, 329, kV | kT);
  list.columns = {{Text(), 20}, {"Log_Name", 170}, {"Log_Size", 120}, {"State", 235}};
  list.events = {{event::kListCheckToggled, Handler::ListCheckToggled},
                 {event::kListRightClick, Handler::ListRightClick}};
  return list;
}

void AddMenus(std::vector<UnitLayout>& out) {
  out.push_back(Menu(u::菜单_托盘, 0, "托盘菜单", kMenuHidden, Handler::None));
  out.push_back(Menu(u::菜单_显示主菜单, 1, "显示主菜单", 0, Handler::MenuShowMain));
  out.push_back(Menu(u::菜单_退出, 1, "退出", 0, Handler::MenuExit));
  out.push_back(Menu(u::菜单_列表, 0, "菜单", kMenuHidden, Handler::None));
  out.push_back(Menu(u::菜单_刷新, 1, "刷新", 0, Handler::MenuRefresh));
}

WindowLayout BuildMain() {
  WindowLayout w;
  w.id = kMainWindow;
  w.minimizeBox = true;
  w.taskbarButton = true;
  w.topmost = false;
  w.escCloses = true;
  w.centred = true;
  w.hasIcon = true;

  // Created hidden: the start-up handler decides whether the window shows.
  UnitLayout self = Make(u::主窗口, UnitKind::Window, "", 0, 50, 50, 875, 402, 0,
                         "Tidewell v2.12   编译日期：2020.10.8");
  self.events = {{event::kCreated, Handler::Startup},
                 {event::kCloseRequest, Handler::HideToTray},
                 {event::kTray, Handler::TrayAction}};
  w.units.push_back(self);

  // Window-level units in stacking order (earlier above later); each group box is followed by
  // the units it holds, which stack among themselves in the same way.
  w.units.push_back(Make(u::透明标签_超级列表框, UnitKind::TransparentLabel, "透明标签_超级列表框",
                         0, 320, 16, 544, 328, 0));
  w.units.push_back(
      Make(u::透明标签1, UnitKind::TransparentLabel, "透明标签1", 0, 318, 8, 560, 32, kV));
  w.units.push_back(Bind(Make(u::按钮_一键清理, UnitKind::Button, "按钮_一键清理", 0, 784, 344, 80,
                              28, kV | kD | kT, "一键清理"),
                         event::kClick, Handler::CleanAll));
  AddSingleCleanGroup(w.units);
  w.units.push_back(Bind(Make(u::选择框_开机自启, UnitKind::CheckBox, "选择框_开机自启", 0, 9, 348,
                              72, 24, kV | kT, "开机自启"),
                         event::kClick, Handler::AutostartClicked));
  w.units.push_back(DatabaseList());
  AddLoginGroup(w.units);
  AddScheduleGroup(w.units);

  // Non-visual units: their position only mattered to the designer.
  w.units.push_back(
      Make(u::外部数据库_主, UnitKind::Database, "外部数据库_主", 0, 696, 345, 24, 24, 0));
  w.units.push_back(Bind(Make(u::时钟1, UnitKind::Timer, "时钟1", 0, 720, 345, 24, 24, 0),
                         event::kTimer, Handler::ScheduleTick));
  w.units.push_back(
      Make(u::外部数据库_辅, UnitKind::Database, "外部数据库_辅", 0, 744, 345, 24, 24, 0));

  AddMenus(w.units);
  return w;
}

}  // namespace

const WindowLayout& MainWindowLayout() {
  static const WindowLayout layout = BuildMain();
  return layout;
}

}  // namespace tw
