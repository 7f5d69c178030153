// The autostart check box: the registry first, the settings key after, and a registry that
// refuses the value said so instead of a tick that means nothing.
#include "app/autostart.h"

#include "app/app.h"
#include "app/settings.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "ui/frame.h"

namespace tw {
namespace {

constexpr const char* kRunValue = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\tidewell.exe";

Value OnAutostart(App& app) {
  if (app.Checked(ids::选择框_开机自启)) {
    if (RegWrite(kHkeyCurrentUser, kRunValue, Value::Str(AutostartCommand()))) {
      settings::Write(settings::k配置, settings::k开机自启, "true");
    } else {
      app.Check(ids::选择框_开机自启, false);
      app.Message(Gbk("无法设置开机自启"), 48, Gbk("警告"));
    }
  } else {
    RegDelete(kHkeyCurrentUser, kRunValue);
    settings::Write(settings::k配置, settings::k开机自启, "false");
  }
  return {};
}

}  // namespace

Text AutostartCommand() {
  Text path = RunDirectory() + "\\" + ExeFileName();
  if (path.find(' ') == Text::npos) return path;
  return "\"" + path + "\"";
}

void BindAutostart(Frame& frame, App& app) {
  frame.SetHandler(Handler::AutostartClicked,
                   [&app](const std::vector<Value>&) { return OnAutostart(app); });
}

}  // namespace tw
