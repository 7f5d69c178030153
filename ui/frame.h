// The program frame: registry of loaded windows and their units, property access, window
// commands, event routing to the application's handler slots, the message loop and the
// run-time error report. The application talks to windows only through this class.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "runtime/pump.h"
#include "runtime/value.h"
#include "ui/backend.h"
#include "ui/layout.h"
#include "ui/properties.h"
#include "ui/units.h"

namespace tw {

// A handler receives the event's arguments; its result matters only for the close request.
using HandlerFn = std::function<Value(const std::vector<Value>& args)>;

// A non-visual unit with methods, such as the database object; destroyed with its window.
class UnitObject {
 public:
  virtual ~UnitObject() = default;
  virtual Value Call(int method, const std::vector<Value>& args) = 0;
};
using UnitFactory = std::function<std::unique_ptr<UnitObject>()>;

// Run-time error codes shown in the report.
namespace err {
inline constexpr int kReadNotLoaded = 1;
inline constexpr int kWriteNotLoaded = 2;
inline constexpr int kWindowNotLoaded = 3;
inline constexpr int kNoSuchUnit = 4;
inline constexpr int kUnitNotFound = 5;
inline constexpr int kEventUnitNotFound = 6;
inline constexpr int kEventUnitInvalid = 7;
inline constexpr int kNotNumeric = 8;
inline constexpr int kWrongType = 9;
inline constexpr int kStartWindow = 10;
inline constexpr int kOutOfMemory = 11;
inline constexpr int kUnhandledException = 12;
}  // namespace err

class Frame final : public EventSink, public MessagePump {
 public:
  explicit Frame(Backend& backend);
  ~Frame() override;
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  // The frame in use (the most recently constructed one still alive).
  static Frame& Current();

  void SetHandler(Handler slot, HandlerFn fn);
  bool HasHandler(Handler slot) const {
    return static_cast<bool>(handlers_[static_cast<std::size_t>(slot)]);
  }
  void SetEndRoutine(std::function<void()> fn);
  void RegisterUnitKind(UnitKind kind, UnitFactory factory);

  // Program start: loads the main window, runs the loop until the program ends, runs the
  // end-of-program routine. Returns the process exit code.
  int Run();

  // A window loaded with a parent, and a dialog (owned by the main window when no parent is
  // given), is owned by that window and destroyed before it. A dialog returns false when a quit
  // request ended its loop before it was closed; it is destroyed then.
  bool LoadWindow(int window, std::optional<int> parent = {}, bool dialog = false);
  // Without `immediately` the window goes once the handler that asked for it has returned and
  // the message loop runs again; pumping inside that handler (a pause, a message box, a menu)
  // does not destroy it.
  void DestroyWindow(int window, bool immediately = false);
  bool IsLoaded(int window) const;

  Value ReadProp(UnitRef unit, int number);
  void WriteProp(UnitRef unit, int number, const Value& value);
  void Enable(UnitRef unit, bool enabled) {
    WriteProp(unit, prop::kDisabled, Value::Bool(!enabled));
  }
  // Calls a method of a non-visual unit (the database object).
  Value CallMethod(UnitRef unit, int method, const std::vector<Value>& args);

  // Window commands.
  int MsgBox(const Value& text, int style, const Value& title = {}, const Value& owner = {});
  void PopupMenu(int window, int menuUnit, std::optional<int> x = {}, std::optional<int> y = {});
  void PopupTrayMenu(int window, int menuUnit);
  Text ComboItemText(UnitRef combo, int index);
  int ComboAddItem(UnitRef combo, const Text& text, std::optional<std::int64_t> data = {});
  void ComboClear(UnitRef combo);
  int ComboSelectText(UnitRef combo, const Text& prefix);
  // icon: icon-file bytes, or a text naming an icon file; empty removes the icon.
  void SetTrayIcon(int window, const Value& icon, const Value& tooltip = {});
  // A notification balloon on the window's tray icon; `icon` is one of balloon::k....
  void ShowTrayBalloon(int window, const Value& title, const Value& text, int icon);
  Text ListCellText(UnitRef list, int row, std::optional<int> column = {});
  void ListSetCellText(UnitRef list, int row, std::optional<int> column = {},
                       const Text& text = {});
  int ListCheckState(UnitRef list, int row);
  void ListSetCheckState(UnitRef list, int row, std::optional<int> state = {});
  int ListRowCount(UnitRef list);
  int ListInsertRow(UnitRef list, const ListInsert& row = {});
  void ListDeleteAll(UnitRef list);

  // Shows "运行时出错!" with the code and message and ends the process with exit code -1.
  // From the moment of the failure no timer ticks and no handler runs, even though the report's
  // own loop keeps dispatching; a failure during the report ends the process at once.
  [[noreturn]] void Fail(int code, const Text& message);
  // The report of a failed allocation of `bytes` (0 when the size is not known).
  [[noreturn]] void FailOutOfMemory(std::size_t bytes);
  bool Failing() const { return failing_; }

  Backend& backend() { return backend_; }

  // MessagePump
  void DispatchPending() override;
  std::uint64_t TickMs() override { return backend_.TickMs(); }
  void SleepMs(int ms) override { backend_.SleepMs(ms); }
  void WaitUntil(std::uint64_t deadline) override { backend_.WaitUntil(deadline); }

  // EventSink
  Value Raise(UnitRef unit, int event, std::vector<Value> args) override;
  void MenuCommand(int window, int command) override;
  void CloseRequested(int window) override;
  void DestroyPosted(int window) override;

 private:
  struct UnitRecord {
    const UnitLayout* layout = nullptr;
    std::map<int, Value> stored;  // properties the backend does not hold
    std::unique_ptr<UnitObject> object;
  };
  struct WindowRecord {
    const WindowLayout* layout = nullptr;
    std::map<int, UnitRecord> units;
    int owner = 0;  // the window this one is destroyed with; 0 none
    bool destroyPending = false;
    int requestDepth = 0;  // handler depth of the destroy request; 0 outside any handler
  };

  WindowRecord* FindWin(int window);
  UnitRecord& Lookup(UnitRef unit, int notLoadedCode, const char* notLoadedMessage);
  UnitRecord& LookupForCommand(UnitRef unit);
  void RunLoop(const std::function<bool()>& done);
  void DestroyNow(int window);
  // Runs code that may throw (handlers, unit factories), turning an escaping exception into
  // the run-time error report; CallHandler runs a handler one level deeper.
  Value Guard(const std::function<Value()>& fn);
  Value CallHandler(const std::function<Value()>& fn);
  int LoopBase() const { return loopBases_.empty() ? 0 : loopBases_.back(); }
  bool MayDestroyNow(const WindowRecord& rec) const;
  void DeferDestroy(int window);
  void RepostDeferred();
  bool BuildPopup(int window, int menuUnit, std::vector<PopupItem>& items);
  Value Normalize(const std::optional<PropertySpec>& spec, const Value& value);

  Backend& backend_;
  Frame* previous_ = nullptr;
  std::array<HandlerFn, static_cast<std::size_t>(Handler::Count)> handlers_{};
  std::map<UnitKind, UnitFactory> factories_;
  std::function<void()> endRoutine_;
  std::map<int, WindowRecord> windows_;
  bool quitSeen_ = false;
  bool failing_ = false;
  int depth_ = 0;               // handlers running, one inside another
  std::vector<int> loopBases_;  // handler depth at which each running frame loop dispatches
  std::vector<int> deferred_;   // destroys that arrived while their handler was still running
};

}  // namespace tw
