// Names and numbers shared by the frame, the layout and the application: unit kinds, window and
// unit identifiers, handler slots, property numbers and event numbers.
#pragma once

#include <cstdint>

namespace tw {

enum class UnitKind : std::uint8_t {
  Window,
  Menu,  // top-level menu and menu item alike; the level tells them apart
  Edit,
  GroupBox,
  Label,
  Button,
  CheckBox,
  Radio,
  Combo,
  Progress,
  Timer,
  Database,  // 外部数据库, non-visual
  ListView,  // 超级列表框, report view with check boxes
  TransparentLabel,
};

// True for the kinds that have a native window (everything but menus, timers and databases).
constexpr bool HasNativeWindow(UnitKind k) {
  return k != UnitKind::Menu && k != UnitKind::Timer && k != UnitKind::Database;
}

// Window identifiers; a window is also unit number `id` of itself.
inline constexpr int kMainWindow = 1;
inline constexpr int kChooserWindow = 2;

// Unit identifiers, unique within the program.
namespace ids {
inline constexpr int 主窗口 = kMainWindow;
inline constexpr int 选择窗口 = kChooserWindow;
inline constexpr int 分组框_登陆 = 10;
inline constexpr int 标签1 = 11;
inline constexpr int 编辑框_IP = 12;
inline constexpr int 按钮_获取本机ip = 13;
inline constexpr int 标签2 = 14;
inline constexpr int 编辑框_用户名 = 15;
inline constexpr int 标签3 = 16;
inline constexpr int 编辑框_密码 = 17;
inline constexpr int 选择框_挂机 = 18;
inline constexpr int 按钮_连接 = 19;
inline constexpr int 按钮_断开 = 20;
inline constexpr int 分组框_单独清理 = 21;
inline constexpr int 组合框_库名 = 22;
inline constexpr int 按钮_单独清理 = 23;
inline constexpr int 进度条1 = 24;
inline constexpr int 分组框_定时 = 25;
inline constexpr int 选择框_每月 = 26;
inline constexpr int 选择框_每周 = 27;
inline constexpr int 选择框_每天 = 28;
inline constexpr int 编辑框_日 = 29;
inline constexpr int 标签_日 = 30;
inline constexpr int 组合框_星期 = 31;
inline constexpr int 编辑框_时 = 32;
inline constexpr int 标签_时 = 33;
inline constexpr int 编辑框_分 = 34;
inline constexpr int 标签_分 = 35;
inline constexpr int 编辑框_秒 = 36;
inline constexpr int 标签_秒 = 37;
inline constexpr int 按钮_确定 = 38;
inline constexpr int 单选框_单独 = 39;
inline constexpr int 单选框_批量 = 40;
inline constexpr int 选择框_开机自启 = 41;
inline constexpr int 超级列表框1 = 42;
inline constexpr int 透明标签1 = 43;
inline constexpr int 透明标签_超级列表框 = 44;
inline constexpr int 按钮_一键清理 = 45;
inline constexpr int 外部数据库_主 = 46;
inline constexpr int 时钟1 = 47;
inline constexpr int 外部数据库_辅 = 48;
// Menus of the main window, in menu order (their command numbers are 20000 + position).
inline constexpr int 菜单_托盘 = 60;
inline constexpr int 菜单_显示主菜单 = 61;
inline constexpr int 菜单_退出 = 62;
inline constexpr int 菜单_列表 = 63;
inline constexpr int 菜单_刷新 = 64;
// Units of the chooser window.
inline constexpr int 按钮_主机名 = 70;
inline constexpr int 按钮_IP = 71;
}  // namespace ids

// The application's handlers that layout events are bound to. The application fills the slots;
// an event whose slot is empty does nothing.
enum class Handler : std::uint8_t {
  None,
  Startup,            // main window created
  HideToTray,         // close request on the main window
  TrayAction,         // mouse on the tray icon
  OpenChooser,        // 按钮_获取本机ip
  UnattendedClicked,  // 选择框_挂机
  Connect,
  Disconnect,
  DatabaseChosen,  // 组合框_库名
  CleanOne,        // 按钮_单独清理
  MonthlyClicked,
  WeeklyClicked,
  DailyClicked,
  SaveSchedule,  // 按钮_确定
  SingleModeClicked,
  BatchModeClicked,
  AutostartClicked,
  ListCheckToggled,  // 超级列表框1, event 8
  ListRightClick,    // 超级列表框1, event 5
  CleanAll,          // 按钮_一键清理
  ScheduleTick,      // 时钟1
  ChooserHostName,
  ChooserIp,
  MenuShowMain,
  MenuExit,
  MenuRefresh,
  Count,
};

// Property numbers. 0 to 7 are common to every kind; from 8 on a number is the kind's own and
// the same number means different things on different kinds (kEditText and kTimerInterval,
// kChecked and kWindowState). ui/properties.h says what a number is for a given kind; code
// below the frame goes by that, never by the bare number.
namespace prop {
inline constexpr int kLeft = 0;
inline constexpr int kTop = 1;
inline constexpr int kWidth = 2;
inline constexpr int kHeight = 3;
inline constexpr int kTag = 4;
inline constexpr int kVisible = 5;
inline constexpr int kDisabled = 6;
inline constexpr int kCursor = 7;
// Kind-specific properties: the kinds named are the only ones that have them.
inline constexpr int kEditText = 8;         // edit box: content (text)
inline constexpr int kTimerInterval = 8;    // timer: ms, 0 stops (int)
inline constexpr int kCaption = 10;         // push button: caption (text)
inline constexpr int kProgressPos = 13;     // progress bar (int)
inline constexpr int kChecked = 18;         // check box, radio button (bool)
inline constexpr int kComboSelection = 19;  // combo box, -1 = none (int)
inline constexpr int kListSelected = 35;    // report list view, read only (int)
inline constexpr int kWindowState = 18;     // window: 0 normal, 1 centre, 2 minimised, 3 maximised
inline constexpr int kWindowIcon = 20;      // window: icon-file bytes (read only)
}  // namespace prop

namespace event {
inline constexpr int kCreated = 0;       // window
inline constexpr int kCloseRequest = 1;  // window; a handler result of false keeps it open
inline constexpr int kTray = 9;          // window; int 1 left up, 2 double click, 3 right up
inline constexpr int kClick = 0;         // buttons, check boxes, radios
inline constexpr int kComboChosen = 0;   // combo box: the user confirmed a choice
inline constexpr int kListRightClick = 5;
inline constexpr int kListCheckToggled = 8;  // int row, int new state
inline constexpr int kTimer = 0;
inline constexpr int kMenuSelected = 0;
}  // namespace event

// Menu command numbers start here, in menu order.
inline constexpr int kFirstMenuCommand = 20000;

// Message box results.
// The icon of a tray balloon, as the shell numbers them.
namespace balloon {
inline constexpr int kNone = 0, kInfo = 1, kWarning = 2, kError = 3;
}  // namespace balloon

namespace mb {
inline constexpr int kOk = 0, kCancel = 1, kAbort = 2, kRetry = 3, kIgnore = 4, kYes = 5, kNo = 6;
}  // namespace mb

}  // namespace tw
