// The application's state: the six globals and what each area keeps, owned by one object that
// every handler receives by reference, with the few window accesses the handlers share. The
// application reaches windows only through the frame.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "app/database_calls.h"
#include "runtime/value.h"

namespace tw {

class Frame;

struct App {
  explicit App(Frame& f);

  Frame& frame;
  DatabaseCalls mainDb;    // 外部数据库_主: login, catalogue, probes, cleanup statements
  DatabaseCalls secondDb;  // 外部数据库_辅: the files queries of a listing

  // The six globals: the stored login, the chosen database, the last log path and the
  // outcome of the last connect attempt.
  Text serverAddress;
  Text loginName;
  Text loginPassword;
  Text chosenDatabase;
  Text logFilePath;
  Text connectOutcome;

  // Rows of the last listing whose names came back with characters GBK cannot hold: such a
  // name cannot address its database in any statement (it may even be another database's real
  // name), so nothing is measured or cleaned under it and no other database's result goes there.
  std::set<int> unnameableRows;
  // The items of 组合框_库名 as it was last filled, in order; empty while disconnected.
  std::vector<Text> databaseNames;

  // A cleanup in progress holds off the other one and the schedule; 退出 answered Yes meanwhile
  // lets it finish the database it is on and skip the rest.
  bool cleaning = false;
  bool exitRequested = false;

  // The schedule: the second the previous tick read, and the last scheduled second that started
  // a cleanup (seconds since day 0 of the local clock).
  std::optional<std::int64_t> lastTickSecond;
  std::optional<std::int64_t> lastFiredSecond;

  // ---- Units of the main window.
  Text EditText(int unit);
  void SetEditText(int unit, const Text& text);
  Text Caption(int unit);
  void SetCaption(int unit, const Text& text);
  void Enable(int unit, bool enabled);
  void Show(int unit, bool visible);
  bool Checked(int unit);
  void Check(int unit, bool checked);
  int ComboSelection(int combo);
  // Starts (1000) or stops (0) 时钟1; a timer started afresh forgets the previous tick.
  void SetTimerInterval(int ms);
  // A message box owned by no window; `title` empty gives the default title.
  int Message(const Text& text, int style, const Text& title = {});
};

}  // namespace tw
