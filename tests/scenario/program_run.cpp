// The program's process: builds the headless layer, the frame and the application, queues the
// script's steps as the user's actions and runs the frame. Each step queues the next one before
// it acts, so the next runs at the program's next wait for input: in the idle loop, or inside a
// pause, a message box or the chooser's loop of a handler still running.
#include "tests/scenario/program_run.h"

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <limits>

#include "app/application.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "tests/scenario/environment.h"
#include "tests/scenario/observing_backend.h"
#include "tests/scenario/snapshot.h"
#include "ui/frame.h"

namespace tw::scenario {
namespace {

void WriteLine(int fd, const Json& j) {
  std::string line = j.dump(-1, ' ', false, Json::error_handler_t::replace);
  line += '\n';
  for (std::size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

class ProgramRun {
 public:
  explicit ProgramRun(const ProgramStart& start)
      : start_(start),
        steps_(start.script->steps),
        answers_(start.answers),
        menus_(start.menuSteps),
        next_(start.firstStep) {}

  [[noreturn]] void Run();
  // What is left to say when the process ends through std::exit (the run-time error report).
  void AtExit();

 private:
  HeadlessBackend& in() { return inner_; }
  std::int64_t Seconds() { return SecondsOfDateTime(inner_.LocalTime()); }
  void Emit(const Json& event) { WriteLine(start_.reportFd, {{"event", event}}); }
  void Queue(std::size_t step, std::optional<std::uint64_t> atTick = {});
  void RunStep(std::size_t i);
  bool Act(const Step& s);
  bool Reachable(UnitRef unit);
  void Harvest();
  void Report();
  [[noreturn]] void End(int exitCode);
  void PrepareFatal(const Text& text, const Text& title);

  const ProgramStart& start_;
  const std::vector<Step>& steps_;
  std::deque<int> answers_;
  std::deque<std::size_t> menus_;
  std::size_t next_;
  std::size_t harvested_ = 0;  // entries of the opening order already in the trace
  std::int64_t baseSeconds_ = 0;
  std::uint64_t baseTick_ = 0;
  std::vector<Json> fatalLines_;  // made before the report ends the process

  HeadlessBackend inner_;
  ObservingBackend backend_{inner_, [this](const Text& t, const Text& h) { PrepareFatal(t, h); }};
  Frame frame_{backend_};
  Application app_{frame_};
};

ProgramRun* g_run = nullptr;

void ProgramRun::Queue(std::size_t step, std::optional<std::uint64_t> atTick) {
  if (step < steps_.size()) {
    in().ScriptUser([this, step] { RunStep(step); }, atTick);
    return;
  }
  // After the last step the program is left as it is, once it next waits for input.
  in().ScriptUser(
      [this] {
        Report();
        WriteLine(start_.reportFd, {{"finished", true}});
        ::_exit(0);
      },
      atTick);
}

void ProgramRun::Harvest() {
  const auto& opened = backend_.opened();
  while (harvested_ < opened.size()) {
    const ObservingBackend::Opened& o = opened[harvested_];
    if (o.notice) {
      if (o.shown) Emit(NoticeEvent(in().Balloons()[o.record]));
    } else if (o.menu) {
      if (o.shown) {
        if (o.record >= in().Menus().size()) break;
        const MenuRecord& rec = in().Menus()[o.record];
        Emit(MenuEvent(rec));
        if (rec.scripted && !menus_.empty()) menus_.pop_front();
      }
    } else {
      if (o.record >= in().MessageBoxes().size()) break;
      const MsgBoxRecord& rec = in().MessageBoxes()[o.record];
      Emit(MsgBoxEvent(rec));
      if (rec.scripted && !answers_.empty()) answers_.pop_front();
    }
    ++harvested_;
  }
}

Json ProgressLine(std::size_t next, std::int64_t clock, const std::deque<int>& answers,
                  const std::deque<std::size_t>& menus) {
  return {{"progress",
           {{"next", next},
            {"clock", clock},
            {"answers", Json(std::vector<int>(answers.begin(), answers.end()))},
            {"menus", Json(std::vector<std::size_t>(menus.begin(), menus.end()))}}}};
}

void ProgramRun::Report() {
  Harvest();
  WriteLine(start_.reportFd, ProgressLine(next_, Seconds(), answers_, menus_));
}

void ProgramRun::End(int exitCode) {
  Report();
  Emit({{"at", FormatClock(Seconds())}, {"type", "end"}, {"exit_code", exitCode}});
  ::_exit(exitCode & 0xFF);
}

void ProgramRun::PrepareFatal(const Text& text, const Text& title) {
  // The report ends the process through std::exit, after which the text converter is gone:
  // everything up to it goes into the trace now, and the report's own event is made ready.
  Report();
  MsgBoxRecord rec{text, 16, title, std::nullopt, idb::kOk, false};
  rec.localTime = inner_.LocalTime();
  rec.fatal = true;
  if (!answers_.empty()) {
    rec.answer = answers_.front();
    rec.scripted = true;
    answers_.pop_front();
  }
  ++harvested_;  // the entry the observer has just made for the report
  fatalLines_ = {{{"event", MsgBoxEvent(rec)}},
                 ProgressLine(next_, Seconds(), answers_, menus_),
                 {{"event", {{"at", FormatClock(Seconds())}, {"type", "end"}, {"exit_code", -1}}}}};
}

void ProgramRun::AtExit() {
  if (fatalLines_.empty()) {
    // Ended by something other than the report: nothing that needs the converter.
    fatalLines_ = {
        ProgressLine(next_, Seconds(), answers_, menus_),
        {{"event", {{"at", FormatClock(Seconds())}, {"type", "end"}, {"exit_code", -1}}}}};
  }
  for (const Json& line : fatalLines_) WriteLine(start_.reportFd, line);
  ::_exit(255);
}

bool ProgramRun::Reachable(UnitRef unit) {
  // Usable, and the topmost unit at its centre: what a user can click to put the caret in.
  if (!in().Usable(unit)) return false;
  const UnitLayout* u = LayoutOf(unit.window)->Find(unit.unit);
  const auto prop = [this](UnitRef r, int n) {
    return static_cast<int>(in().GetProperty(r, n).value_or(Value::Int(0)).Integer());
  };
  int x = prop(unit, prop::kLeft) + prop(unit, prop::kWidth) / 2;
  int y = prop(unit, prop::kTop) + prop(unit, prop::kHeight) / 2;
  if (u->container != 0) {
    x += prop({unit.window, u->container}, prop::kLeft);
    y += prop({unit.window, u->container}, prop::kTop);
  }
  return in().HitTest(unit.window, x, y) == unit.unit;
}

bool ProgramRun::Act(const Step& s) {
  const UnitRef list{kMainWindow, ids::超级列表框1};
  switch (s.kind) {
    case StepKind::Type:
      if (!Reachable(s.unit)) return false;
      in().Type(s.unit, s.text);  // keys the field's rules refuse are simply not taken
      return true;
    case StepKind::Clear: {
      if (!Reachable(s.unit) || !in().Focus(s.unit)) return false;
      const Text t = in().EditText(s.unit);
      std::size_t chars = 0;
      for (std::size_t i = 0; i < t.size(); ++i, ++chars) {
        if (static_cast<unsigned char>(t[i]) >= 0x81 && i + 1 < t.size()) ++i;
      }
      in().Type(s.unit, std::string(chars, '\b'));
      return true;
    }
    case StepKind::Click:
      return in().Click(s.unit);
    case StepKind::Choose: {
      if (s.index) return in().ChooseComboItem(s.unit, *s.index);
      const std::vector<Text> items = in().ComboItems(s.unit);
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i] == s.text) return in().ChooseComboItem(s.unit, static_cast<int>(i));
      }
      return false;
    }
    case StepKind::Row:
      switch (s.row) {
        case RowAction::Left:
          return in().ToggleRowCheck(list, *s.index, MouseButton::Left);
        case RowAction::Double:
          return in().ToggleRowCheck(list, *s.index, MouseButton::Double);
        case RowAction::Right:
          return in().ToggleRowCheck(list, *s.index, MouseButton::Right);
        case RowAction::Space:
          return in().PressSpaceOnRow(list, *s.index);
        case RowAction::Select:
          return in().SelectRow(list, *s.index);
      }
      return false;
    case StepKind::RightClickList:
      return in().RightClickList(list, s.index);
    case StepKind::Answer:
      for (int b : s.answers) {
        in().ScriptMessageBoxAnswer(b);
        answers_.push_back(b);
      }
      return true;
    case StepKind::Menu:
      in().ScriptMenuChoice(s.dismiss ? MenuChoice::Dismiss() : MenuChoice::ByCaption(s.text));
      menus_.push_back(static_cast<std::size_t>(&s - steps_.data()));
      return true;
    case StepKind::Tray:
      switch (s.tray) {
        case TrayAction::Left:
          return in().TrayMouse(kMainWindow, wm::kLButtonDown) &&
                 in().TrayMouse(kMainWindow, wm::kLButtonUp);
        case TrayAction::Right:
          return in().TrayMouse(kMainWindow, wm::kRButtonDown) &&
                 in().TrayMouse(kMainWindow, wm::kRButtonUp);
        case TrayAction::Double:
          return in().TrayDoubleClick(kMainWindow);
      }
      return false;
    case StepKind::Close:
      return in().CloseBox(s.window);
    case StepKind::Esc:
      return in().PressEsc(s.window);
    case StepKind::SetClock:
      in().SetLocalTime(DateTimeOfSeconds(s.seconds));
      baseSeconds_ = s.seconds;
      baseTick_ = in().TickMs();
      return true;
    case StepKind::Server:
      ReplaceFileAtomically(start_.controlPaths[s.server], s.control.dump());
      return true;
    case StepKind::Snapshot:
      Report();
      WriteLine(start_.reportFd,
                {{"snapshot", s.name}, {"value", ProgramSnapshot(frame_, in(), start_.world)}});
      return true;
    default:
      return true;
  }
}

void ProgramRun::RunStep(std::size_t i) {
  next_ = i + 1;
  Report();
  const Step& s = steps_[i];
  switch (s.kind) {
    case StepKind::Start:
      WriteLine(start_.reportFd, {{"script_error", "step " + std::to_string(i) +
                                                       " (start): the program is still running"}});
      ::_exit(2);
    case StepKind::Kill:
      // As the system ends a process: no end-of-program routine, exit code 1.
      End(1);
    case StepKind::Wait:
      Queue(i + 1, in().TickMs() + static_cast<std::uint64_t>(s.ms));
      break;
    case StepKind::Until:
      if (s.seconds <= Seconds()) {
        Queue(i + 1);
      } else {
        Queue(i + 1, baseTick_ + static_cast<std::uint64_t>(s.seconds - baseSeconds_) * 1000);
      }
      break;
    default:
      Queue(i + 1);
      if (!Act(s)) Emit(RefusedEvent(Seconds(), i, s.key));
      break;
  }
  Report();
}

void ProgramRun::Run() {
  g_run = this;
  // Waits of any length: the script, not the layer's horizon, decides when the run ends.
  inner_.SetHorizon(std::numeric_limits<std::uint64_t>::max() / 2);
  inner_.UseVirtualLocalTime(DateTimeOfSeconds(start_.clockSeconds));
  baseSeconds_ = start_.clockSeconds;
  baseTick_ = inner_.TickMs();

  const Machine& m = start_.script->machine;
  MachineStandIn machine{Utf8ToGbk(m.host), Utf8ToGbk(m.ip), {}};
  for (const std::string& p : m.otherProcesses) machine.processes.push_back(Utf8ToGbk(p));
  machine.processes.push_back(Utf8ToGbk(m.exe));
  SetMachineStandIn(machine);
  SetProgramLocation(Utf8ToGbk(start_.programDir), Utf8ToGbk(m.exe));
  if (::chdir(start_.programDir.c_str()) != 0) {
    WriteLine(start_.reportFd,
              {{"script_error", "machine.program_dir: cannot enter " + start_.programDir}});
    ::_exit(2);
  }

  // Choices a previous run did not use are still waiting for their box or menu.
  for (int b : answers_) inner_.ScriptMessageBoxAnswer(b);
  for (std::size_t i : menus_) {
    const Step& s = steps_[i];
    inner_.ScriptMenuChoice(s.dismiss ? MenuChoice::Dismiss() : MenuChoice::ByCaption(s.text));
  }
  std::atexit([] { g_run->AtExit(); });

  Emit({{"at", FormatClock(Seconds())}, {"type", "start"}});
  Queue(next_);
  Report();
  const int rc = frame_.Run();
  End(rc);
}

}  // namespace

void RunProgram(const ProgramStart& start) {
  // Lives until the process ends: nothing here is ever destroyed.
  try {
    auto* run = new ProgramRun(start);
    run->Run();
  } catch (const std::exception& e) {
    // Never back into the runner's code from here: that would stop its simulators.
    WriteLine(start.reportFd, {{"runner_error", e.what()}});
  } catch (...) {
    WriteLine(start.reportFd, {{"runner_error", "unknown exception"}});
  }
  ::_exit(1);
}

}  // namespace tw::scenario
