// The close request turned into hiding, the tray icon's mouse actions, 显示主菜单 and 退出.
#include "app/tray.h"

#include "app/app.h"
#include "app/startup.h"
#include "runtime/gbk.h"
#include "runtime/text.h"
#include "ui/frame.h"

namespace tw {
namespace {

constexpr UnitRef kMain{kMainWindow, kMainWindow};

// Visible, and back to its normal state if it was minimised.
Value ShowMainWindow(App& app) {
  app.frame.WriteProp(kMain, prop::kVisible, Value::Bool(true));
  app.frame.WriteProp(kMain, prop::kWindowState, Value::Int(0));
  return {};
}

Value OnCloseRequest(App& app) {
  app.frame.WriteProp(kMain, prop::kVisible, Value::Bool(false));
  SetTrayIcon(app);
  return Value::Bool(false);  // the window stays; the program goes on in the notification area
}

Value OnTrayAction(App& app, const std::vector<Value>& args) {
  const int action = args.empty() ? 0 : ToInt(args[0]);
  if (action == 3) app.frame.PopupTrayMenu(kMainWindow, ids::菜单_托盘);
  if (action == 1 || action == 2) ShowMainWindow(app);
  return {};
}

Value OnExit(App& app) {
  if (app.Message(Gbk("是否退出程序?"), 4, Gbk("提示:")) != mb::kYes) return {};
  // A cleanup that runs meanwhile finishes the database it is on and skips the rest; the
  // window goes once every handler that is still running has returned.
  app.exitRequested = true;
  app.frame.DestroyWindow(kMainWindow);
  return {};
}

}  // namespace

void BindTray(Frame& frame, App& app) {
  frame.SetHandler(Handler::HideToTray,
                   [&app](const std::vector<Value>&) { return OnCloseRequest(app); });
  frame.SetHandler(Handler::TrayAction,
                   [&app](const std::vector<Value>& args) { return OnTrayAction(app, args); });
  frame.SetHandler(Handler::MenuShowMain,
                   [&app](const std::vector<Value>&) { return ShowMainWindow(app); });
  frame.SetHandler(Handler::MenuExit, [&app](const std::vector<Value>&) { return OnExit(app); });
}

}  // namespace tw
