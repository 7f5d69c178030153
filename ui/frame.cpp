// The program frame: window and unit registry, property checks, event routing, the message
// loop (with nested loops for dialogs) and the run-time error report.
#include "ui/frame.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "runtime/gbk.h"
#include "runtime/text.h"
#include "ui/allocation.h"

namespace tw {
namespace {

Frame* g_current = nullptr;

// What a close handler's result means: no value at all lets the window close, as when nothing
// is bound; a value closes it only when it is true (a number counts as true when not 0).
bool CloseAllowed(const Value& r) {
  return r.IsAbsent() || IsTrue(r);
}

// An exception's own description, kept to printable ASCII: it is not known to be GBK.
Text Describe(const char* what) {
  Text out;
  for (const char* p = what; p != nullptr && *p != '\0' && out.size() < 200; ++p) {
    if (*p >= 0x20 && *p < 0x7F) out.push_back(*p);
  }
  return out;
}

}  // namespace

Frame::Frame(Backend& backend) : backend_(backend), previous_(g_current) {
  g_current = this;
  backend_.Attach(this);
  SetCurrentPump(this);
}

Frame::~Frame() {
  // Destroying a window takes the windows it owns with it.
  while (!windows_.empty()) DestroyNow(windows_.begin()->first);
  g_current = previous_;
  SetCurrentPump(previous_);
}

Frame& Frame::Current() {
  return *g_current;
}

void Frame::SetHandler(Handler slot, HandlerFn fn) {
  handlers_[static_cast<std::size_t>(slot)] = std::move(fn);
}

void Frame::SetEndRoutine(std::function<void()> fn) {
  endRoutine_ = std::move(fn);
}

void Frame::RegisterUnitKind(UnitKind kind, UnitFactory factory) {
  factories_[kind] = std::move(factory);
}

int Frame::Run() {
  // The start window's units (database objects) are made here, outside any handler: what they
  // throw is reported the same way.
  Guard([this] {
    if (!LoadWindow(kMainWindow)) Fail(err::kStartWindow, Gbk("载入启动窗口失败"));
    return Value{};
  });
  if (!windows_.empty()) RunLoop([this] { return quitSeen_; });
  if (endRoutine_) {
    CallHandler([this] {
      endRoutine_();
      return Value{};
    });
  }
  return 0;
}

void Frame::RunLoop(const std::function<bool()>& done) {
  // Messages of this loop are handled at the depth it was entered at; a destroy that arrives
  // deeper, inside a handler that pumps, waits for that handler.
  loopBases_.push_back(depth_);
  while (!done()) {
    Backend::Pump r = backend_.PumpOne(false);
    if (r == Backend::Pump::Idle) r = backend_.PumpOne(true);
    // A backend that can never receive another message answers Idle even when asked to wait.
    if (r == Backend::Pump::Quit || r == Backend::Pump::Idle) {
      quitSeen_ = true;
      break;
    }
  }
  loopBases_.pop_back();
}

void Frame::DispatchPending() {
  while (backend_.PumpOne(false) == Backend::Pump::Dispatched) {
  }
}

Frame::WindowRecord* Frame::FindWin(int window) {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

bool Frame::IsLoaded(int window) const {
  return windows_.count(window) != 0;
}

bool Frame::LoadWindow(int window, std::optional<int> parent, bool dialog) {
  if (IsLoaded(window)) {
    backend_.BringToFront(window);
    return true;
  }
  const WindowLayout* layout = LayoutOf(window);
  if (layout == nullptr) return false;
  WindowRecord& rec = windows_[window];
  rec.layout = layout;
  // As with the platform's owned windows, a window goes when the window it belongs to goes: a
  // dialog's loop then ends instead of running on for a window that is no longer there.
  if (parent && *parent != window && IsLoaded(*parent)) {
    rec.owner = *parent;
  } else if (dialog && window != kMainWindow && IsLoaded(kMainWindow)) {
    rec.owner = kMainWindow;
  }
  for (const UnitLayout& u : layout->units) {
    UnitRecord& ur = rec.units[u.id];
    ur.layout = &u;
    if (auto f = factories_.find(u.kind); f != factories_.end()) ur.object = f->second();
    if (u.kind == UnitKind::Timer) ur.stored[prop::kTimerInterval] = Value::Int(0);
    if (!HasNativeWindow(u.kind)) {
      ur.stored[prop::kVisible] =
          Value::Bool(u.kind == UnitKind::Menu ? (u.menuFlags & kMenuHidden) == 0 : u.Visible());
      ur.stored[prop::kDisabled] =
          Value::Bool(u.kind == UnitKind::Menu ? (u.menuFlags & kMenuDisabled) != 0 : u.Disabled());
    }
  }
  if (!backend_.BuildWindow(*layout)) {
    windows_.erase(window);
    return false;
  }
  Raise({window, window}, event::kCreated, {});
  if (!IsLoaded(window)) return true;  // the start-up handler may have destroyed it
  if (layout->Window().Visible())
    backend_.SetProperty({window, window}, prop::kVisible, Value::Bool(true));
  if (!dialog) return true;
  std::vector<int> disabled;
  for (auto& [id, other] : windows_) {
    if (id == window) continue;
    const Value was = backend_.GetProperty({id, id}, prop::kDisabled).value_or(Value::Bool(false));
    if (!was.AsBool()) {
      backend_.SetProperty({id, id}, prop::kDisabled, Value::Bool(true));
      disabled.push_back(id);
    }
  }
  RunLoop([this, window] { return !IsLoaded(window) || quitSeen_; });
  // A quit request ended the loop with the dialog still open: it does not outlive its loop.
  const bool cutShort = IsLoaded(window);
  if (cutShort) DestroyNow(window);
  for (int id : disabled) {
    if (IsLoaded(id)) backend_.SetProperty({id, id}, prop::kDisabled, Value::Bool(false));
  }
  if (quitSeen_) backend_.PostQuit();  // let the outer loop see the quit as well
  quitSeen_ = false;
  return !cutShort;
}

void Frame::DestroyWindow(int window, bool immediately) {
  WindowRecord* rec = FindWin(window);
  if (rec == nullptr) return;
  if (immediately) {
    DestroyNow(window);
    return;
  }
  if (rec->destroyPending) {
    // Asked again from an outer handler: that one has to return as well.
    rec->requestDepth = std::min(rec->requestDepth, depth_);
    return;
  }
  rec->destroyPending = true;
  rec->requestDepth = depth_;
  backend_.PostDestroy(window);
}

bool Frame::MayDestroyNow(const WindowRecord& rec) const {
  // Only a loop dispatching at its own level with the requesting handler returned: a handler
  // that pumps (a pause, a message box, a menu, a dialog) keeps the window it still works on.
  return depth_ == LoopBase() && (rec.requestDepth == 0 || depth_ < rec.requestDepth);
}

void Frame::DeferDestroy(int window) {
  if (std::find(deferred_.begin(), deferred_.end(), window) == deferred_.end())
    deferred_.push_back(window);
}

void Frame::RepostDeferred() {
  for (auto it = deferred_.begin(); it != deferred_.end();) {
    const WindowRecord* rec = FindWin(*it);
    if (rec == nullptr || !rec->destroyPending) {
      it = deferred_.erase(it);
    } else if (MayDestroyNow(*rec)) {
      backend_.PostDestroy(*it);  // carried out when the loop takes the message
      it = deferred_.erase(it);
    } else {
      ++it;
    }
  }
}

void Frame::DestroyPosted(int window) {
  if (failing_) return;
  Guard([this, window] {
    const WindowRecord* rec = FindWin(window);
    if (rec == nullptr || !rec->destroyPending) return Value{};
    if (MayDestroyNow(*rec)) {
      DestroyNow(window);
    } else {
      DeferDestroy(window);
    }
    return Value{};
  });
}

void Frame::DestroyNow(int window) {
  if (!IsLoaded(window)) return;
  std::vector<int> owned;
  for (const auto& [id, rec] : windows_) {
    if (rec.owner == window) owned.push_back(id);
  }
  for (int id : owned) DestroyNow(id);
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  for (auto& [id, unit] : it->second.units) {
    if (unit.layout->kind == UnitKind::Timer) backend_.SetTimer({window, id}, 0);
  }
  backend_.DestroyWindow(window);
  windows_.erase(it);  // unit objects (database connections) close here
  std::erase(deferred_, window);
  if (windows_.empty()) backend_.PostQuit();
}

void Frame::CloseRequested(int window) {
  if (failing_) return;
  Guard([this, window] {
    if (!IsLoaded(window)) return Value{};
    const Value r = Raise({window, window}, event::kCloseRequest, {});
    WindowRecord* rec = FindWin(window);  // the handler may have destroyed it itself
    if (rec == nullptr || !CloseAllowed(r)) return Value{};
    if (depth_ == LoopBase()) {
      DestroyNow(window);
    } else if (!rec->destroyPending) {
      // The request came through a handler's pause: the window goes once that handler is done.
      rec->destroyPending = true;
      rec->requestDepth = 0;
      DeferDestroy(window);
    }
    return Value{};
  });
}

Frame::UnitRecord& Frame::Lookup(UnitRef unit, int notLoadedCode, const char* notLoadedMessage) {
  WindowRecord* w = FindWin(unit.window);
  if (w == nullptr) Fail(notLoadedCode, Gbk(notLoadedMessage));
  auto it = w->units.find(unit.unit);
  if (it == w->units.end()) Fail(err::kUnitNotFound, Gbk("未找到所指定的窗口组件"));
  return it->second;
}

Frame::UnitRecord& Frame::LookupForCommand(UnitRef unit) {
  return Lookup(unit, err::kWindowNotLoaded, "未载入欲访问窗口组件所在的窗口");
}

Value Frame::Normalize(const std::optional<PropertySpec>& spec, const Value& value) {
  if (!spec) return value;  // a number the kind does not have takes any value
  switch (spec->type) {
    case PropType::Int: {
      auto n = NumericToInt(value);
      if (!n) Fail(err::kNotNumeric, Gbk("欲转换数据类型不是数值"));
      return Value::Int(*n);
    }
    case PropType::Bool:
      if (value.kind() == ValueKind::Bool) return value;
      if (value.IsNumeric()) return Value::Bool(NumericToInt(value).value_or(0) != 0);
      Fail(err::kWrongType, Gbk("欲写入属性的数据类型不正确"));
    case PropType::Text:
      if (value.IsText() || value.IsAbsent()) return Value::Str(value.AsText());
      Fail(err::kWrongType, Gbk("欲写入属性的数据类型不正确"));
    case PropType::Bytes:
      if (value.IsBytes() || value.IsAbsent()) return Value::Blob(value.AsBytes());
      Fail(err::kWrongType, Gbk("欲写入属性的数据类型不正确"));
  }
  return value;
}

Value Frame::ReadProp(UnitRef unit, int number) {
  UnitRecord& rec = Lookup(unit, err::kReadNotLoaded, "读取组件属性时发现指定窗口尚未载入");
  const auto spec = FindProperty(rec.layout->kind, number);
  if (spec && spec->id == PropId::WindowIcon) {
    return FindWin(unit.window)->layout->hasIcon ? Value::Blob(TidewellIcon()) : Value::Blob({});
  }
  if (spec && spec->native) {
    if (auto v = backend_.GetProperty(unit, number)) return *v;
  }
  if (auto it = rec.stored.find(number); it != rec.stored.end()) return it->second;
  if (!spec) return Value{};
  switch (spec->id) {
    case PropId::Left:
      return Value::Int(rec.layout->left);
    case PropId::Top:
      return Value::Int(rec.layout->top);
    case PropId::Width:
      return Value::Int(rec.layout->width);
    case PropId::Height:
      return Value::Int(rec.layout->height);
    default:
      break;
  }
  switch (spec->type) {
    case PropType::Int:
      return Value::Int(0);
    case PropType::Bool:
      return Value::Bool(false);
    case PropType::Text:
      return Value::Str({});
    case PropType::Bytes:
      return Value::Blob({});
  }
  return Value{};
}

void Frame::WriteProp(UnitRef unit, int number, const Value& value) {
  UnitRecord& rec = Lookup(unit, err::kWriteNotLoaded, "修改组件属性时发现指定窗口尚未载入");
  const auto spec = FindProperty(rec.layout->kind, number);
  const Value v = Normalize(spec, value);
  if (spec && spec->readOnly) return;
  if (spec && spec->id == PropId::TimerInterval) {
    const int interval = std::max<int>(0, static_cast<int>(v.Integer()));
    Value& cur = rec.stored[prop::kTimerInterval];
    if (cur.Integer() == interval) return;  // writing the current value changes nothing
    cur = Value::Int(interval);
    backend_.SetTimer(unit, interval);
    return;
  }
  if (spec && spec->native && backend_.SetProperty(unit, number, v)) return;
  rec.stored[number] = v;
}

Value Frame::CallMethod(UnitRef unit, int method, const std::vector<Value>& args) {
  UnitRecord& rec = LookupForCommand(unit);
  if (!rec.object) Fail(err::kNoSuchUnit, Gbk("指定窗口或窗口组件不存在或尚未载入"));
  return rec.object->Call(method, args);
}

Value Frame::Raise(UnitRef unit, int number, std::vector<Value> args) {
  if (failing_) return Value{};
  WindowRecord* w = FindWin(unit.window);
  if (w == nullptr) Fail(err::kEventUnitNotFound, Gbk("未找到引发事件的窗口组件"));
  auto it = w->units.find(unit.unit);
  if (it == w->units.end()) Fail(err::kEventUnitNotFound, Gbk("未找到引发事件的窗口组件"));
  if (it->second.layout == nullptr) Fail(err::kEventUnitInvalid, Gbk("引发事件的窗口组件无效"));
  for (const EventBinding& b : it->second.layout->events) {
    if (b.event != number) continue;
    // A copy: the handler may rebind its own slot while it runs.
    HandlerFn fn = handlers_[static_cast<std::size_t>(b.handler)];
    if (fn) return CallHandler([&fn, &args] { return fn(args); });
  }
  return Value{};
}

Value Frame::CallHandler(const std::function<Value()>& fn) {
  ++depth_;
  Value r = Guard(fn);
  --depth_;
  RepostDeferred();
  return r;
}

Value Frame::Guard(const std::function<Value()>& fn) {
  // Nothing may unwind into the window system's dispatch: an escaping exception is a run-time
  // error like any other.
  try {
    return fn();
  } catch (const std::bad_alloc& e) {
    FailOutOfMemory(RequestedBytes(e));
  } catch (const std::exception& e) {
    Fail(err::kUnhandledException,
         Gbk("事件处理子程序中发生了未处理的异常：") + Describe(e.what()));
  } catch (...) {
    Fail(err::kUnhandledException, Gbk("事件处理子程序中发生了未处理的异常"));
  }
}

void Frame::MenuCommand(int window, int command) {
  if (failing_) return;
  Guard([this, window, command] {
    WindowRecord* w = FindWin(window);
    if (w == nullptr) return Value{};
    int position = kFirstMenuCommand;
    for (const UnitLayout& u : w->layout->units) {
      if (u.kind != UnitKind::Menu) continue;
      if (position++ == command) {
        Raise({window, u.id}, event::kMenuSelected, {});
        break;
      }
    }
    return Value{};
  });
}

void Frame::Fail(int code, const Text& message) {
  // A failure while the report is up (it runs a loop of its own) ends the process at once, so
  // reports never stack.
  if (failing_) std::_Exit(-1);
  failing_ = true;
  for (const auto& [id, rec] : windows_) {
    for (const auto& [unitId, unit] : rec.units) {
      if (unit.layout->kind == UnitKind::Timer) backend_.SetTimer({id, unitId}, 0);
    }
  }
  Text report;
  try {
    report = Gbk("运行时出错!\r\n\r\n错误代码：") + std::to_string(code) + Gbk("\r\n错误信息：") +
             message;
  } catch (...) {
    std::_Exit(-1);  // not even the report fits in memory
  }
  backend_.Fatal(report, Gbk("运行时出错!"));
  std::abort();  // a backend's Fatal never returns; the compiler cannot see that through the call
}

void Frame::FailOutOfMemory(std::size_t bytes) {
  char count[32];
  std::snprintf(count, sizeof count, "%zu", bytes);
  Fail(err::kOutOfMemory, Gbk("分配 ") + count + Gbk(" 字节内存失败!"));
}

}  // namespace tw
