// A window system without a screen: every unit's state lives in memory, time is a virtual clock
// that moves only when the program waits, and tests act as the user through the methods below
// (clicks, typing, focus, tray mouse actions) and answer message boxes and pop-up menus from
// scripts. It behaves like the Win32 layer in everything the frame and the application can
// observe, so the application's handlers run here unchanged.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/clock.h"
#include "runtime/value.h"
#include "ui/backend.h"

namespace tw {

// Platform message numbers that reach the tray callback.
namespace wm {
inline constexpr int kMouseMove = 0x0200;
inline constexpr int kLButtonDown = 0x0201;
inline constexpr int kLButtonUp = 0x0202;
inline constexpr int kLButtonDblClk = 0x0203;
inline constexpr int kRButtonDown = 0x0204;
inline constexpr int kRButtonUp = 0x0205;
inline constexpr int kContextMenu = 0x007B;
inline constexpr int kTrayCallback = 0x8064;
}  // namespace wm

// Platform message-box button ids as the user presses them.
namespace idb {
inline constexpr int kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7;
}  // namespace idb

enum class MouseButton { Left, Right, Double };

struct MsgBoxRecord {
  Text text;
  int style = 0;
  Text title;
  std::optional<int> owner;
  int answer = 0;          // platform button id
  bool scripted = false;   // false: nobody scripted an answer, the first button was taken
  std::uint64_t tick = 0;  // virtual tick count when the box opened
  double localTime = 0;    // local date-time then (runtime/clock.h), whichever clock was in use
  bool fatal = false;      // the run-time error report
};

// What the user does with the next pop-up menu.
struct MenuChoice {
  enum class Kind { Command, Caption, Dismiss } kind = Kind::Dismiss;
  int command = 0;
  Text caption;  // GBK
  static MenuChoice ByCommand(int command) { return {Kind::Command, command, {}}; }
  static MenuChoice ByCaption(Text caption) { return {Kind::Caption, 0, std::move(caption)}; }
  static MenuChoice Dismiss() { return {}; }
};

struct MenuRecord {
  int window = 0;
  std::vector<PopupItem> items;
  int x = 0, y = 0;    // where the menu was tracked
  int trackFlags = 0;  // 2: left-aligned, right button allowed; 8: right-aligned (tray)
  bool tray = false;
  int chosen = 0;          // command number, 0 when dismissed
  bool scripted = false;   // false: nobody scripted a choice, the menu was dismissed
  bool refused = false;    // the scripted choice named no enabled item of this menu
  std::uint64_t tick = 0;  // virtual tick count when the menu opened
  double localTime = 0;    // local date-time then
};

struct TrayRecord {
  bool present = false;
  Bytes icon;
  Text tooltip;
  int adds = 0, modifies = 0, removes = 0;
};

struct BalloonRecord {
  int window = 0;
  Text title;
  Text text;
  int icon = 0;
  std::uint64_t tick = 0;  // virtual tick count when it was shown
  double localTime = 0;    // local date-time then
};

struct ListRowView {
  std::vector<Text> cells;
  int stateImage = 0;  // 0 no check box, 1 unchecked, 2 checked
  bool selected = false;
};

class HeadlessBackend final : public Backend {
 public:
  static constexpr std::uint64_t kStartTickMs = 1'000'000;
  static constexpr int kScreenWidth = 1024;
  static constexpr int kScreenHeight = 768;
  // The program's waits stop here unless a test moves the horizon: a test whose program would
  // wait for ever ends instead of hanging.
  static constexpr std::uint64_t kDefaultHorizonMs = 24ull * 3600 * 1000;

  HeadlessBackend();
  ~HeadlessBackend() override;

  // Backend
  void Attach(EventSink* sink) override { sink_ = sink; }
  bool BuildWindow(const WindowLayout& layout) override;
  void DestroyWindow(int window) override;
  void BringToFront(int window) override;
  void PostDestroy(int window) override;
  std::optional<Value> GetProperty(UnitRef unit, int number) override;
  bool SetProperty(UnitRef unit, int number, const Value& value) override;
  int MsgBox(const Text& text, int style, const Text& title,
             std::optional<int> ownerWindow) override;
  void PopupMenu(int window, const std::vector<PopupItem>& items, std::optional<int> x,
                 std::optional<int> y, bool tray) override;
  Text ComboItemText(UnitRef combo, int index) override;
  int ComboAddItem(UnitRef combo, const Text& text, std::int64_t data) override;
  void ComboClear(UnitRef combo) override;
  int ComboSelectText(UnitRef combo, const Text& prefix) override;
  Text ListCellText(UnitRef list, int row, int column) override;
  void ListSetCellText(UnitRef list, int row, int column, const Text& text) override;
  int ListCheckState(UnitRef list, int row) override;
  void ListSetCheckState(UnitRef list, int row, int stateImage) override;
  int ListRowCount(UnitRef list) override;
  int ListInsertRow(UnitRef list, const ListInsert& row) override;
  void ListDeleteAll(UnitRef list) override;
  void SetTrayIcon(int window, const Bytes& icon, const Text& tooltip) override;
  void TrayBalloon(int window, const Text& title, const Text& text, int icon) override;
  void SetTimer(UnitRef timer, int intervalMs) override;
  Pump PumpOne(bool wait) override;
  void PostQuit() override { quit_ = true; }
  std::uint64_t TickMs() override { return now_; }
  void SleepMs(int ms) override;
  void WaitUntil(std::uint64_t deadline) override;
  [[noreturn]] void Fatal(const Text& text, const Text& title) override;

  // ---- Acting as the user. An action a real user could not take (the unit hidden, disabled,
  // inside a disabled group box or window, covered by another unit) is refused with false.
  // Accepted actions are processed before the call returns: the messages they cause are
  // dispatched; the clock does not move.
  bool Click(UnitRef unit);
  // A left click at a point of the window's client area, hitting the topmost visible unit.
  bool ClickAt(int window, int x, int y);
  // The unit that a click at the point would reach (0: the window itself).
  int HitTest(int window, int x, int y) const;
  bool Focus(UnitRef unit);
  // Focuses the edit and types GBK text key by key; '\b' is Backspace. False when a key was
  // refused by the field's input rules (the others still take effect).
  bool Type(UnitRef edit, std::string_view text);
  bool ChooseComboItem(UnitRef combo, int index);
  // A click on a row's check box. Left toggles it; Double toggles it once and reports twice;
  // Right leaves it as it is, raises the right-click event and then reports the unchanged state.
  bool ToggleRowCheck(UnitRef list, int row, MouseButton button = MouseButton::Left);
  bool SelectRow(UnitRef list, int row);
  // The space key on a row: selects and focuses it, then toggles its check box as the user's
  // toggle (reported like a click on the box).
  bool PressSpaceOnRow(UnitRef list, int row);
  // A right click in the list, on `row` when given (which selects it).
  bool RightClickList(UnitRef list, std::optional<int> row = {});
  bool PressEsc(int window);
  bool CloseBox(int window);
  // A mouse message on the window's tray icon; false when the window shows no tray icon.
  bool TrayMouse(int window, int mouseMessage);
  bool TrayDoubleClick(int window);
  void SetCursorPos(int x, int y) { cursor_ = {x, y}; }

  // ---- Scripts.
  // Answers for the next message boxes (the run-time error report included), as platform button
  // ids. An open box dispatches the messages already queued and the timers already due; one
  // may stay open for `openMs` of virtual time, running timers, messages and the user's
  // scripted actions meanwhile, as a real one does.
  void ScriptMessageBoxAnswers(std::initializer_list<int> buttons);
  void ScriptMessageBoxAnswer(int button, int openMs = 0);
  void ScriptMenuChoice(MenuChoice choice);
  // Something the user does while the program waits for input: at once at the next wait, or
  // when the virtual clock reaches `atTick`.
  void ScriptUser(std::function<void()> action, std::optional<std::uint64_t> atTick = {});
  void SetHorizon(std::uint64_t tick) { horizon_ = tick; }

  // ---- Virtual local time. Once started, the program's Now() reads a local date-time that
  // advances with the virtual tick count, in whole seconds, until this backend is destroyed.
  void UseVirtualLocalTime(double start);
  // The clock jumps to `dateTime` (as when the user sets the system clock); ticks go on.
  void SetLocalTime(double dateTime);
  // The virtual local date-time now; the system's when no virtual time is in use.
  double LocalTime() const;

  // ---- Running the program's loop from a test.
  // Dispatches messages and fires timers until `ms` of virtual time have passed (stops early
  // at a quit request, which stays queued).
  void RunFor(int ms);
  // The same without moving the clock.
  void RunUntilIdle() { RunFor(0); }

  // ---- Observing.
  bool Exists(int window) const { return windows_.count(window) != 0; }
  bool OwnVisible(UnitRef unit) const;
  bool Usable(UnitRef unit) const;
  Text EditText(UnitRef edit) const;
  Text DisplayedText(UnitRef edit) const;  // what the screen shows: '*' for a password
  Text Caption(UnitRef unit) const;
  bool Checked(UnitRef unit) const;
  std::vector<Text> ComboItems(UnitRef combo) const;
  int ComboSelection(UnitRef combo) const;
  int ProgressDisplayed(UnitRef progress) const;
  void SetProgressRange(UnitRef progress, int minimum, int maximum);
  std::vector<ListRowView> ListRows(UnitRef list) const;
  std::optional<UnitRef> FocusedUnit() const { return focus_; }
  int Foreground() const { return foreground_; }
  int DisplayState(int window) const;
  // Window-level units (container 0) or a group box's units, topmost first.
  std::vector<int> StackingOrder(int window, int container = 0) const;
  const std::vector<MsgBoxRecord>& MessageBoxes() const { return msgBoxes_; }
  const std::vector<MenuRecord>& Menus() const { return menus_; }
  TrayRecord Tray(int window) const;
  // The balloons shown, in order; one asked for without a tray icon is not among them.
  const std::vector<BalloonRecord>& Balloons() const { return balloons_; }
  int TimerInterval(UnitRef timer) const;  // 0: stopped
  std::size_t PendingMessages() const { return queue_.size(); }
  bool QuitPending() const { return quit_; }
  // How often the program waited with nothing left that could ever happen.
  int IdleWaits() const { return idleWaits_; }

 private:
  struct Row {
    std::vector<Text> cells;
    int stateImage = 1;
    int image = -1;
    int indent = 0;
    std::int64_t data = 0;
    bool selected = false;
  };
  struct UnitState {
    const UnitLayout* layout = nullptr;
    int left = 0, top = 0, width = 0, height = 0;
    bool visible = false;
    bool disabled = false;
    Text text;  // edit content, or the caption
    bool checked = false;
    std::vector<std::pair<Text, std::int64_t>> items;
    int selection = -1;
    int rangeMin = 0, rangeMax = 100, position = 0;
    std::vector<Row> rows;
    int displayState = 0;  // windows: 0 normal, 2 minimised, 3 maximised
  };
  struct WindowState {
    const WindowLayout* layout = nullptr;
    std::map<int, UnitState> units;
  };
  struct TimerState {
    int interval = 0;
    std::uint64_t deadline = 0;
    std::uint64_t order = 0;  // ties fire in the order the timers were started
  };
  struct Message {
    int window = 0;
    std::function<void()> run;
  };
  struct UserAction {
    std::optional<std::uint64_t> at;
    std::uint64_t order = 0;
    std::function<void()> run;
  };
  struct MsgBoxAnswer {
    int button = 0;
    int openMs = 0;
  };
  class VirtualClock final : public LocalClock {
   public:
    explicit VirtualClock(const HeadlessBackend& b) : backend_(b) {}
    double Now() override { return backend_.LocalTime(); }

   private:
    const HeadlessBackend& backend_;
  };

  UnitState* Find(UnitRef unit);
  const UnitState* Find(UnitRef unit) const;
  UnitState* FindKind(UnitRef unit, UnitKind kind);
  const UnitState* FindKind(UnitRef unit, UnitKind kind) const;
  Row* FindRow(UnitRef list, int row);

  // Loop machinery.
  void Post(int window, std::function<void()> run);
  Pump TryDispatch(bool consumeQuit);
  enum class Advance { Nothing, Clock, Action };
  Advance AdvanceToNextEvent(std::uint64_t limit);
  void Drain();
  void RunOpenBox(int openMs);

  // Input helpers.
  bool CoveredOrUnusable(UnitRef unit, int x, int y) const;
  bool CentreOf(UnitRef unit, int& x, int& y) const;
  void DeliverClick(UnitRef unit);
  void MoveFocus(std::optional<UnitRef> to);
  int HitIn(const WindowState& w, int container, int x, int y) const;

  EventSink* sink_ = nullptr;
  std::map<int, WindowState> windows_;
  std::map<std::pair<int, int>, TimerState> timers_;
  std::map<int, TrayRecord> trays_;  // kept after the window is gone, for its counts
  std::deque<Message> queue_;
  std::vector<UserAction> userActions_;
  std::deque<MsgBoxAnswer> msgBoxScript_;
  std::deque<MenuChoice> menuScript_;
  std::vector<MsgBoxRecord> msgBoxes_;
  std::vector<MenuRecord> menus_;
  std::vector<BalloonRecord> balloons_;
  std::optional<UnitRef> focus_;
  std::pair<int, int> cursor_{400, 300};
  std::uint64_t now_ = kStartTickMs;
  std::uint64_t horizon_ = kStartTickMs + kDefaultHorizonMs;
  std::uint64_t order_ = 0;
  VirtualClock clock_{*this};
  bool clockInstalled_ = false;
  LocalClock* previousClock_ = nullptr;
  std::int64_t localBaseSeconds_ = 0;  // seconds since day 0 at localBaseTick_
  std::uint64_t localBaseTick_ = 0;
  int foreground_ = 0;
  int idleWaits_ = 0;
  bool quit_ = false;
};

}  // namespace tw
