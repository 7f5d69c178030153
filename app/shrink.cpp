// One database's cleanup statements. A database in FULL gets SIMPLE, USE, the shrink and FULL
// again; BULK_LOGGED gets the same with BULK_LOGGED at the end; SIMPLE only USE and the shrink.
// Then USE master. The pauses and progress steps stay in place whatever the server answers.
#include "app/shrink.h"

#include "app/app.h"
#include "app/probes.h"
#include "app/sql_texts.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "ui/frame.h"

namespace tw {
namespace {

constexpr int kLogInUseAtEnd = 9008;  // the shrink released nothing: the log's tail is active

class Sequence {
 public:
  Sequence(App& app, const Text& database, const Text& logicalLogName)
      : app_(app),
        db_(database),
        log_(logicalLogName.empty() ? database + "_log" : logicalLogName) {}

  // The model as the server has it; FULL when it cannot be read. A connection found lost is
  // reopened once, so a cleanup after a server restart still runs.
  void ReadModel() { model_ = QueryModel(true).value_or("FULL"); }

  void SwitchToSimple() {
    if (model_ == "SIMPLE") return;
    simpleSent_ = true;
    switched_ = Run(sql::SetRecoverySimple(db_));
  }
  void Use() { Run(sql::Use(db_)); }
  void Shrink() {
    if (!Run(sql::ShrinkLog(log_))) return;
    // The active part of the log sat at its end: a checkpoint moves it, then the shrink can
    // release the tail.
    if (app_.mainDb.LastStatementHad(kLogInUseAtEnd) && Run(sql::kCheckpoint)) {
      Run(sql::ShrinkLog(log_));
    }
  }
  // Puts the model back even after a refused statement, unless the connection is gone.
  void PutModelBack() {
    if (!switched_ || lost_) return;
    if (!app_.mainDb.Execute(sql::SetRecovery(db_, model_))) Refused();
  }

  // Whatever the outcome, the connection goes back to master: an idle session left in the
  // cleaned database would keep another administrator's RESTORE or SET OFFLINE from it. A fresh
  // login after a lost connection is in master already.
  ShrinkOutcome Finish() {
    if (lost_) return AfterLostConnection();
    (void)app_.mainDb.Execute(sql::Use("master"));
    return outcome_;
  }

 private:
  std::optional<Text> QueryModel(bool reopenIfLost) {
    DatabaseCalls& db = app_.mainDb;
    const Text query = sql::RecoveryModelQuery(db_);
    int table = db.Open(query);
    if (table == 0 && reopenIfLost && db.LastFailureLostConnection() &&
        ReopenMainConnection(app_)) {
      table = db.Open(query);
    }
    if (table == 0) return std::nullopt;
    const Text model = ToText(db.Read(table, 1));
    db.CloseTable(table);
    if (model == "SIMPLE" || model == "FULL" || model == "BULK_LOGGED") return model;
    return std::nullopt;
  }

  bool Run(std::string_view statement) {
    if (!outcome_.ok || lost_) return false;
    if (app_.mainDb.Execute(statement)) return true;
    Refused();
    return false;
  }

  void Refused() {
    if (app_.mainDb.LastFailureLostConnection()) {
      lost_ = true;
      return;
    }
    if (!outcome_.ok) return;  // the first refusal is the one reported
    outcome_.ok = false;
    outcome_.failure = app_.mainDb.LastServerMessage();
  }

  // One new login with the saved login; the model goes back if the server has it changed.
  ShrinkOutcome AfterLostConnection() {
    ShrinkOutcome out{false, Gbk("连接中断")};
    const Text stillSimple = Gbk("连接中断，数据库仍为简单恢复模式");
    if (!simpleSent_) return out;
    if (!ReopenMainConnection(app_)) {
      out.failure = stillSimple;
      return out;
    }
    const std::optional<Text> now = QueryModel(false);
    if (now && *now == model_) return out;
    if (!app_.mainDb.Execute(sql::SetRecovery(db_, model_))) out.failure = stillSimple;
    return out;
  }

  App& app_;
  Text db_;
  Text log_;
  Text model_ = "FULL";
  bool simpleSent_ = false;  // sent: whether it took effect is unknown if the connection died
  bool switched_ = false;    // the server answered that the database is now in SIMPLE
  bool lost_ = false;
  ShrinkOutcome outcome_;
};

}  // namespace

void AdvanceProgress(App& app, int steps) {
  const UnitRef bar{kMainWindow, ids::进度条1};
  const auto position = [&] { return ToInt(app.frame.ReadProp(bar, prop::kProgressPos)); };
  const auto set = [&](int p) { app.frame.WriteProp(bar, prop::kProgressPos, Value::Int(p)); };
  if (steps == 0) set(0);
  if (steps > 0) {
    for (int i = 0; i < steps; ++i) {
      set(position() + 1);
      SleepMs(10);
    }
    if (position() + steps > 100) set(100);
  }
  if (steps == 100) set(100);
}

ShrinkOutcome ShrinkLog(App& app, const Text& database, const Text& logicalLogName) {
  Sequence s(app, database, logicalLogName);
  s.ReadModel();
  AdvanceProgress(app, 0);
  DelayMs(200);
  AdvanceProgress(app, 20);
  s.SwitchToSimple();
  DelayMs(200);
  s.Use();
  AdvanceProgress(app, 20);
  DelayMs(200);
  s.Shrink();
  AdvanceProgress(app, 20);
  DelayMs(200);
  s.PutModelBack();
  return s.Finish();
}

ShrinkOutcome ReconnectAndShrinkLog(App& app, const Text& database, const Text& logicalLogName) {
  ReopenMainConnection(app);
  Sequence s(app, database, logicalLogName);
  s.ReadModel();
  DelayMs(200);
  s.SwitchToSimple();
  DelayMs(200);
  s.Use();
  DelayMs(200);
  s.Shrink();
  DelayMs(200);
  s.PutModelBack();
  return s.Finish();
}

}  // namespace tw
