// The seam between the frame and a window system. The Win32 backend drives real windows; the
// headless backend is a working fake for tests with a virtual clock. Texts are GBK on both
// sides of this interface; a backend converts at its own edge.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "runtime/value.h"
#include "ui/layout.h"

namespace tw {

// What the backend calls back into: the frame.
class EventSink {
 public:
  virtual ~EventSink() = default;
  // Raises event `event` of a unit; the handler's result (absent when none returned one).
  virtual Value Raise(UnitRef unit, int event, std::vector<Value> args) = 0;
  // A menu command number chosen in a pop-up menu of `window`.
  virtual void MenuCommand(int window, int command) = 0;
  // The window's native close request (close box, Alt+F4, Esc where enabled). The frame asks
  // the handler and destroys the window when it may close.
  virtual void CloseRequested(int window) = 0;
  // A deferred destruction posted by DestroyWindow arrived.
  virtual void DestroyPosted(int window) = 0;
};

// One entry of a pop-up menu being built.
struct PopupItem {
  int command = 0;  // 20000 + position among the window's menu units
  Text caption;     // "-" is a separator
  bool disabled = false;
  bool checked = false;
};

struct ListInsert {
  std::optional<int> position;  // absent or negative: after the last row
  Text text;
  std::optional<int> image;  // absent or below -1: none
  std::optional<int> checkState;
  std::optional<int> indent;
  std::optional<std::int64_t> data;
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual void Attach(EventSink* sink) = 0;

  // Windows. BuildWindow builds the window hidden with all its units (group boxes as parents,
  // stacking in stored order, visible units shown); the frame shows the window afterwards.
  virtual bool BuildWindow(const WindowLayout& layout) = 0;
  virtual void DestroyWindow(int window) = 0;  // also removes its tray icon and stops its timers
  virtual void BringToFront(int window) = 0;   // restored when minimised
  // Posts the private message that destroys the window when the loop next runs.
  virtual void PostDestroy(int window) = 0;

  // Properties of units that have a native window. nullopt / false: not handled here, the
  // frame keeps the value in its own record.
  virtual std::optional<Value> GetProperty(UnitRef unit, int number) = 0;
  virtual bool SetProperty(UnitRef unit, int number, const Value& value) = 0;

  // Returns the platform's button id (IDOK 1, IDCANCEL 2, IDABORT 3, IDRETRY 4, IDIGNORE 5,
  // IDYES 6, IDNO 7). `style` already carries the modal flag.
  virtual int MsgBox(const Text& text, int style, const Text& title,
                     std::optional<int> ownerWindow) = 0;
  // Tracks a pop-up menu; a chosen item comes back through EventSink::MenuCommand.
  // tray: right-aligned at the cursor - 5 after making the window foreground; otherwise at
  // (x, y) or at the cursor + 3.
  virtual void PopupMenu(int window, const std::vector<PopupItem>& items, std::optional<int> x,
                         std::optional<int> y, bool tray) = 0;

  // Combo box.
  virtual Text ComboItemText(UnitRef combo, int index) = 0;
  virtual int ComboAddItem(UnitRef combo, const Text& text, std::int64_t data) = 0;
  virtual void ComboClear(UnitRef combo) = 0;
  virtual int ComboSelectText(UnitRef combo, const Text& prefix) = 0;

  // Report list view.
  virtual Text ListCellText(UnitRef list, int row, int column) = 0;
  virtual void ListSetCellText(UnitRef list, int row, int column, const Text& text) = 0;
  virtual int ListCheckState(UnitRef list, int row) = 0;                      // -1 none or bad row
  virtual void ListSetCheckState(UnitRef list, int row, int stateImage) = 0;  // image 0 = none
  virtual int ListRowCount(UnitRef list) = 0;
  virtual int ListInsertRow(UnitRef list, const ListInsert& row) = 0;
  virtual void ListDeleteAll(UnitRef list) = 0;

  // Tray icon of a window; empty icon bytes remove it. The tooltip arrives cut to 62 characters.
  virtual void SetTrayIcon(int window, const Bytes& icon, const Text& tooltip) = 0;
  // A balloon on the window's tray icon (icon: balloon::k...); nothing without a tray icon.
  // Title and text arrive cut to what the shell holds (63 and 255 characters).
  virtual void TrayBalloon(int window, const Text& title, const Text& text, int icon) = 0;

  // Timers: (re)start with the interval, 0 stops. Ticks come back as Raise(timer, 0).
  virtual void SetTimer(UnitRef timer, int intervalMs) = 0;

  // Message loop. PumpOne dispatches one message, waiting for one when `wait`; answers Quit
  // for the quit request (consumed when `wait`, left queued otherwise) and Idle when nothing is
  // pending without `wait`, or when nothing can ever arrive with it.
  enum class Pump { Dispatched, Idle, Quit };
  virtual Pump PumpOne(bool wait) = 0;
  virtual void PostQuit() = 0;
  virtual std::uint64_t TickMs() = 0;  // monotonic milliseconds
  virtual void SleepMs(int ms) = 0;    // blocks; no messages
  // Waits until a message is pending or the tick count reaches `deadline`.
  virtual void WaitUntil(std::uint64_t deadline) = 0;

  // Shows the run-time error report and ends the process with exit code -1.
  [[noreturn]] virtual void Fatal(const Text& text, const Text& title) = 0;
};

}  // namespace tw
