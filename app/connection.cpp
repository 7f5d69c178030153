// The connect and disconnect clicks and the automatic connection at start-up.
#include "app/connection.h"

#include "app/app.h"
#include "app/catalogue.h"
#include "app/probes.h"
#include "app/settings.h"
#include "app/startup.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "ui/frame.h"

namespace tw {
namespace {

constexpr int kLoginFields[] = {ids::按钮_获取本机ip, ids::编辑框_IP, ids::编辑框_用户名,
                                ids::编辑框_密码};

void StoreLoginFromFields(App& app) {
  app.serverAddress = TrimText(app.EditText(ids::编辑框_IP));
  app.loginName = TrimText(app.EditText(ids::编辑框_用户名));
  app.loginPassword = TrimText(app.EditText(ids::编辑框_密码));
}

// Only one field is reported per attempt, in the order address, name, password; a field that
// holds only blanks is not empty here.
void ValidateAndConnect(App& app) {
  const std::pair<int, const char*> checks[] = {{ids::编辑框_IP, "数据库IP不能为空！"},
                                                {ids::编辑框_用户名, "用户名不能为空！"},
                                                {ids::编辑框_密码, "密码不能为空！"}};
  for (const auto& [field, message] : checks) {
    if (app.EditText(field).empty()) {
      app.Message(Gbk(message), 0, Gbk("提示"));
      return;
    }
  }
  StoreLoginFromFields(app);
  app.connectOutcome = Gbk(ConnectWithStoredLogin(app, app.mainDb) ? "连接成功" : "连接失败");
}

void EnableLoginFields(App& app, bool enabled) {
  for (int unit : kLoginFields) app.Enable(unit, enabled);
}

Value OnConnect(App& app) {
  app.SetCaption(ids::按钮_连接, Gbk("正在连接"));
  app.Enable(ids::按钮_连接, false);
  app.connectOutcome.clear();
  ValidateAndConnect(app);
  // The dots come after the attempt has finished, about 1.5 s in all.
  for (int i = 0; i < 3; ++i) {
    if (FindText(app.Caption(ids::按钮_连接), Gbk("正在连接")) < 1) break;
    DelayMs(500);
    app.SetCaption(ids::按钮_连接, app.Caption(ids::按钮_连接) + ".");
  }
  if (app.connectOutcome == Gbk("连接成功")) {
    app.SetCaption(ids::按钮_连接, Gbk("已连接"));
    for (int unit : {ids::按钮_单独清理, ids::按钮_一键清理, ids::选择框_挂机}) {
      app.Enable(unit, true);
    }
    EnableLoginFields(app, false);
    app.Enable(ids::组合框_库名, true);
    app.Enable(ids::按钮_断开, true);
    RefreshLogList(app);
    FillDatabaseCombo(app);
    settings::Write(settings::k配置, settings::kIp, app.serverAddress);
    settings::Write(settings::k配置, settings::k用户名, app.loginName);
    settings::Write(settings::k配置, settings::k密码, app.loginPassword);
    SetFileAttr(settings::Path(), 0x02);
    LoadSettings(app);
    app.Message(Gbk("连接成功"), 0);
  } else if (app.connectOutcome == Gbk("连接失败")) {
    app.SetCaption(ids::按钮_连接, Gbk("连接"));
    app.Message(Gbk("连接失败"), 0);
    app.Enable(ids::按钮_连接, true);
  } else {
    // A field check refused the attempt; its message was the only one.
    app.SetCaption(ids::按钮_连接, Gbk("连接"));
    app.Enable(ids::按钮_连接, true);
  }
  return {};
}

Value OnDisconnect(App& app) {
  if (app.Message(Gbk("是否断开连接？"), 1, Gbk("确认断开")) != mb::kOk) return {};
  app.Enable(ids::按钮_断开, false);
  app.frame.ListDeleteAll({kMainWindow, ids::超级列表框1});
  EnableLoginFields(app, true);
  app.mainDb.Close();
  app.secondDb.Close();
  app.SetCaption(ids::按钮_连接, Gbk("连接"));
  app.Enable(ids::按钮_连接, true);
  for (int unit : {ids::按钮_一键清理, ids::按钮_单独清理, ids::组合框_库名, ids::选择框_挂机}) {
    app.Enable(unit, false);
  }
  app.frame.WriteProp({kMainWindow, ids::进度条1}, prop::kProgressPos, Value::Int(0));
  for (int box : {ids::选择框_每月, ids::选择框_每周, ids::选择框_每天}) {
    app.Check(box, false);
    app.Enable(box, false);
  }
  for (int unit : {ids::组合框_星期, ids::编辑框_时, ids::编辑框_分, ids::编辑框_秒, ids::编辑框_日,
                   ids::标签_日, ids::标签_时, ids::标签_分, ids::标签_秒, ids::按钮_确定,
                   ids::单选框_单独, ids::单选框_批量}) {
    app.Show(unit, false);
  }
  // Only the mark: the settings file keeps 是否挂机 and the timer keeps its interval.
  app.Check(ids::选择框_挂机, false);
  app.frame.ComboClear({kMainWindow, ids::组合框_库名});
  app.databaseNames.clear();
  app.SetCaption(ids::按钮_断开, Gbk("断开"));
  app.Message(Gbk("已断开连接"), 0);
  return {};
}

// Only the item equal to the chosen database (ASCII letters compared loosely): one that merely
// begins with it would show another database than the one the single cleanup cleans.
void SelectChosenDatabase(App& app, const std::vector<Text>& items) {
  const UnitRef combo{kMainWindow, ids::组合框_库名};
  const int found = IndexOfDatabase(items, app.chosenDatabase);
  if (found >= 0) app.frame.WriteProp(combo, prop::kComboSelection, Value::Int(found));
}

}  // namespace

int IndexOfDatabase(const std::vector<Text>& items, const Text& database) {
  if (database.empty()) return -1;
  const Text wanted = ToLower(database);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (ToLower(items[i]) == wanted) return static_cast<int>(i);
  }
  return -1;
}

bool ConnectAutomatically(App& app) {
  StoreLoginFromFields(app);
  if (!ConnectWithStoredLogin(app, app.mainDb)) return false;
  app.SetCaption(ids::按钮_连接, Gbk("正在连接"));
  app.Enable(ids::按钮_连接, false);
  for (int unit : {ids::按钮_断开, ids::按钮_一键清理, ids::按钮_单独清理, ids::组合框_库名,
                   ids::选择框_挂机}) {
    app.Enable(unit, true);
  }
  EnableLoginFields(app, false);
  app.Enable(ids::分组框_定时, true);
  // The same local/remote test as the connect click: a remote server's logs are not on this
  // machine's disk.
  RefreshLogList(app);
  SelectChosenDatabase(app, FillDatabaseCombo(app));
  app.SetCaption(ids::按钮_连接, Gbk("已连接"));
  return true;
}

void BindConnection(Frame& frame, App& app) {
  frame.SetHandler(Handler::Connect, [&app](const std::vector<Value>&) { return OnConnect(app); });
  frame.SetHandler(Handler::Disconnect,
                   [&app](const std::vector<Value>&) { return OnDisconnect(app); });
}

}  // namespace tw
