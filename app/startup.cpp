// The main window's creation-finished handler, the count of running copies, the routine that
// applies the saved settings, and the end-of-program routine.
#include "app/startup.h"

#include "app/app.h"
#include "app/connection.h"
#include "app/settings.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "ui/frame.h"

namespace tw {
namespace {

namespace s = settings;

void ShowTimeFields(App& app, const Text& hour, const Text& minute, const Text& second) {
  const struct {
    int label, edit;
    const Text& value;
  } fields[] = {{ids::标签_时, ids::编辑框_时, hour},
                {ids::标签_分, ids::编辑框_分, minute},
                {ids::标签_秒, ids::编辑框_秒, second}};
  for (const auto& f : fields) {
    app.Show(f.label, true);
    app.Show(f.edit, true);
    app.SetEditText(f.edit, f.value);
  }
  app.Show(ids::按钮_确定, true);
}

// Ticks the saved mode box and disables the other two. Unticking them as well keeps a second
// run (after a connect) from leaving two modes ticked, which would start two cleanups.
void TickMode(App& app, int box) {
  for (int other : {ids::选择框_每月, ids::选择框_每周, ids::选择框_每天}) {
    if (other == box) continue;
    app.Check(other, false);
    app.Enable(other, false);
  }
  app.Check(box, true);
}

Value OnStartup(App& app) {
  if (CountRunningCopies() >= 2) {
    // The destruction waits for this handler, so the warning stays until it is answered; then
    // the program ends having read and written nothing.
    app.frame.DestroyWindow(kMainWindow);
    app.Message(Gbk("程序已在运行！"), 48, Gbk("警告"));
    return {};
  }
  if (!FileExists(s::Path())) {
    app.frame.WriteProp({kMainWindow, kMainWindow}, prop::kVisible, Value::Bool(true));
  }
  SetTrayIcon(app);
  app.SetEditText(ids::编辑框_IP, s::Read(s::k配置, s::kIp));
  app.SetEditText(ids::编辑框_用户名, s::Read(s::k配置, s::k用户名));
  app.SetEditText(ids::编辑框_密码, s::ReadPassword());
  const Text mode = LoadSettings(app);
  if (mode == Gbk("是")) ConnectAutomatically(app);
  return {};
}

}  // namespace

int CountRunningCopies() {
  const std::vector<ProcessInfo> processes = ProcessList();
  const Text own = ExeFileName();
  int count = 0;
  // The first entry is the system's idle process and is not examined.
  for (std::size_t i = 1; i < processes.size(); ++i) {
    if (processes[i].exeFile == own) ++count;
  }
  return count;
}

void SetTrayIcon(App& app) {
  const Value icon = app.frame.ReadProp({kMainWindow, kMainWindow}, prop::kWindowIcon);
  app.frame.SetTrayIcon(kMainWindow, icon, Value::Str("Tidewell"));
}

Text LoadSettings(App& app) {
  const Text hour = s::Read(s::k定时配置, s::k时);
  const Text minute = s::Read(s::k定时配置, s::k分);
  const Text second = s::Read(s::k定时配置, s::k秒);
  app.chosenDatabase = s::Read(s::k配置, s::k指定库);
  Text unattended = s::Read(s::k配置, s::k是否挂机);
  const Text cleanupMode = s::Read(s::k配置, s::k定时清理模式);
  for (int box : {ids::选择框_每月, ids::选择框_每周, ids::选择框_每天}) app.Enable(box, true);
  if (cleanupMode == "1") app.Check(ids::单选框_单独, true);
  if (cleanupMode == "2") app.Check(ids::单选框_批量, true);
  app.Check(ids::选择框_开机自启, s::Read(s::k配置, s::k开机自启) == "true");
  // Each comparison reads the key afresh.
  if (s::Read(s::k定时配置, s::k模式) == Gbk("每月一次")) {
    TickMode(app, ids::选择框_每月);
    app.Show(ids::标签_日, true);
    app.Show(ids::编辑框_日, true);
    app.SetEditText(ids::编辑框_日, s::Read(s::k定时配置, s::k日期));
    ShowTimeFields(app, hour, minute, second);
  } else if (s::Read(s::k定时配置, s::k模式) == Gbk("每周一次")) {
    TickMode(app, ids::选择框_每周);
    app.Show(ids::组合框_星期, true);
    // An empty saved weekday would match the first item: it selects nothing instead.
    if (const Text weekday = s::Read(s::k定时配置, s::k星期); !weekday.empty()) {
      app.frame.ComboSelectText({kMainWindow, ids::组合框_星期}, weekday);
    }
    ShowTimeFields(app, hour, minute, second);
  } else if (s::Read(s::k定时配置, s::k模式) == Gbk("每天一次")) {
    TickMode(app, ids::选择框_每天);
    ShowTimeFields(app, hour, minute, second);
  }
  const bool on = unattended == Gbk("是");
  app.Check(ids::选择框_挂机, on);
  app.SetTimerInterval(on ? 1000 : 0);
  return unattended;
}

void BindStartup(Frame& frame, App& app) {
  frame.SetHandler(Handler::Startup, [&app](const std::vector<Value>&) { return OnStartup(app); });
  frame.SetEndRoutine([&app] {
    for (Text* global : {&app.serverAddress, &app.loginName, &app.loginPassword,
                         &app.chosenDatabase, &app.logFilePath, &app.connectOutcome}) {
      global->clear();
      global->shrink_to_fit();
    }
  });
}

}  // namespace tw
