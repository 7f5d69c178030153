// The program frame: window and unit registry, property checks, event routing, the message
// loop (with nested loops for dialogs) and the run-time error report.
#include "ui/frame.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "runtime/gbk.h"
#include "runtime/text.h"

namespace tw {
namespace {

Frame* g_current = nullptr;

// Which value a property takes; decides the conversion before the backend sees it.
enum class PropType { Int, Bool, Text, Bytes, Any };

PropType TypeOf(UnitKind kind, int number) {
  switch (number) {
    case prop::kLeft:
    case prop::kTop:
    case prop::kWidth:
    case prop::kHeight:
      return PropType::Int;
    case prop::kTag:
      return PropType::Text;
    case prop::kVisible:
    case prop::kDisabled:
      return PropType::Bool;
    case prop::kCursor:
      return PropType::Bytes;
    default:
      break;
  }
  switch (kind) {
    case UnitKind::Edit:
      return number == prop::kEditText ? PropType::Text : PropType::Any;
    case UnitKind::Timer:
      return number == prop::kTimerInterval ? PropType::Int : PropType::Any;
    case UnitKind::Button:
      return number == prop::kCaption ? PropType::Text : PropType::Any;
    case UnitKind::CheckBox:
    case UnitKind::Radio:
      return number == prop::kChecked ? PropType::Bool : PropType::Any;
    case UnitKind::Combo:
      return number == prop::kComboSelection ? PropType::Int : PropType::Any;
    case UnitKind::Progress:
      return number == prop::kProgressPos ? PropType::Int : PropType::Any;
    case UnitKind::ListView:
      return number == prop::kListSelected ? PropType::Int : PropType::Any;
    case UnitKind::Window:
      return number == prop::kWindowState ? PropType::Int : PropType::Any;
    default:
      return PropType::Any;
  }
}

int PlatformButtonToResult(int id) {
  // IDOK 1 ... IDNO 7 map to 0 ... 6.
  return (id >= 1 && id <= 7) ? id - 1 : mb::kCancel;
}

// Cuts a GBK text to at most `limit` bytes without splitting a double-byte character.
Text CutText(const Text& t, std::size_t limit) {
  std::size_t i = 0;
  while (i < t.size()) {
    // 0x80 is a character of its own (the euro sign); double-byte characters lead with 0x81+.
    const std::size_t step = (static_cast<unsigned char>(t[i]) >= 0x81 && i + 1 < t.size()) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  return t.substr(0, i);
}

}  // namespace

Frame::Frame(Backend& backend) : backend_(backend), previous_(g_current) {
  g_current = this;
  backend_.Attach(this);
  SetCurrentPump(this);
}

Frame::~Frame() {
  for (auto it = windows_.begin(); it != windows_.end();) {
    const int id = it->first;
    ++it;
    DestroyNow(id);
  }
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
  if (!LoadWindow(kMainWindow)) Fail(err::kStartWindow, Gbk("载入启动窗口失败"));
  if (!windows_.empty()) RunLoop([this] { return quitSeen_; });
  if (endRoutine_) endRoutine_();
  return 0;
}

void Frame::RunLoop(const std::function<bool()>& done) {
  while (!done()) {
    Backend::Pump r = backend_.PumpOne(false);
    if (r == Backend::Pump::Idle) r = backend_.PumpOne(true);
    // A backend that can never receive another message answers Idle even when asked to wait.
    if (r == Backend::Pump::Quit || r == Backend::Pump::Idle) {
      quitSeen_ = true;
      return;
    }
  }
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

bool Frame::LoadWindow(int window, std::optional<int> /*parent*/, bool dialog) {
  if (IsLoaded(window)) {
    backend_.BringToFront(window);
    return true;
  }
  const WindowLayout* layout = LayoutOf(window);
  if (layout == nullptr) return false;
  WindowRecord& rec = windows_[window];
  rec.layout = layout;
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
  if (dialog) {
    std::vector<int> disabled;
    for (auto& [id, other] : windows_) {
      if (id == window) continue;
      const Value was =
          backend_.GetProperty({id, id}, prop::kDisabled).value_or(Value::Bool(false));
      if (!was.AsBool()) {
        backend_.SetProperty({id, id}, prop::kDisabled, Value::Bool(true));
        disabled.push_back(id);
      }
    }
    RunLoop([this, window] { return !IsLoaded(window) || quitSeen_; });
    for (int id : disabled) {
      if (IsLoaded(id)) backend_.SetProperty({id, id}, prop::kDisabled, Value::Bool(false));
    }
    if (quitSeen_) backend_.PostQuit();  // let the outer loop see the quit as well
    quitSeen_ = false;
  }
  return true;
}

void Frame::DestroyWindow(int window, bool immediately) {
  WindowRecord* rec = FindWin(window);
  if (rec == nullptr) return;
  if (immediately) {
    DestroyNow(window);
    return;
  }
  if (!rec->destroyPending) {
    rec->destroyPending = true;
    backend_.PostDestroy(window);
  }
}

void Frame::DestroyPosted(int window) {
  if (WindowRecord* rec = FindWin(window); rec != nullptr && rec->destroyPending)
    DestroyNow(window);
}

void Frame::DestroyNow(int window) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  for (auto& [id, unit] : it->second.units) {
    if (unit.layout->kind == UnitKind::Timer) backend_.SetTimer({window, id}, 0);
  }
  backend_.DestroyWindow(window);
  windows_.erase(it);  // unit objects (database connections) close here
  if (windows_.empty()) backend_.PostQuit();
}

void Frame::CloseRequested(int window) {
  WindowRecord* rec = FindWin(window);
  if (rec == nullptr) return;
  const Value r = Raise({window, window}, event::kCloseRequest, {});
  if (r.kind() == ValueKind::Bool && !r.AsBool()) return;
  DestroyNow(window);
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

Value Frame::Normalize(const UnitRecord& rec, int number, const Value& value) {
  switch (TypeOf(rec.layout->kind, number)) {
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
    case PropType::Any:
      break;
  }
  return value;
}

Value Frame::ReadProp(UnitRef unit, int number) {
  UnitRecord& rec = Lookup(unit, err::kReadNotLoaded, "读取组件属性时发现指定窗口尚未载入");
  const UnitKind kind = rec.layout->kind;
  if (kind == UnitKind::Window && number == prop::kWindowIcon) {
    return FindWin(unit.window)->layout->hasIcon ? Value::Blob(TidewellIcon()) : Value::Blob({});
  }
  if (HasNativeWindow(kind)) {
    if (auto v = backend_.GetProperty(unit, number)) return *v;
  }
  if (auto it = rec.stored.find(number); it != rec.stored.end()) return it->second;
  switch (number) {
    case prop::kLeft:
      return Value::Int(rec.layout->left);
    case prop::kTop:
      return Value::Int(rec.layout->top);
    case prop::kWidth:
      return Value::Int(rec.layout->width);
    case prop::kHeight:
      return Value::Int(rec.layout->height);
    default:
      break;
  }
  switch (TypeOf(kind, number)) {
    case PropType::Int:
      return Value::Int(0);
    case PropType::Bool:
      return Value::Bool(false);
    case PropType::Text:
      return Value::Str({});
    case PropType::Bytes:
      return Value::Blob({});
    case PropType::Any:
      break;
  }
  return Value{};
}

void Frame::WriteProp(UnitRef unit, int number, const Value& value) {
  UnitRecord& rec = Lookup(unit, err::kWriteNotLoaded, "修改组件属性时发现指定窗口尚未载入");
  const Value v = Normalize(rec, number, value);
  const UnitKind kind = rec.layout->kind;
  if (kind == UnitKind::Timer && number == prop::kTimerInterval) {
    const int interval = std::max<int>(0, static_cast<int>(v.Integer()));
    Value& cur = rec.stored[prop::kTimerInterval];
    if (cur.Integer() == interval) return;  // writing the current value changes nothing
    cur = Value::Int(interval);
    backend_.SetTimer(unit, interval);
    return;
  }
  if (HasNativeWindow(kind) && backend_.SetProperty(unit, number, v)) return;
  rec.stored[number] = v;
}

Value Frame::CallMethod(UnitRef unit, int method, const std::vector<Value>& args) {
  UnitRecord& rec = LookupForCommand(unit);
  if (!rec.object) Fail(err::kNoSuchUnit, Gbk("指定窗口或窗口组件不存在或尚未载入"));
  return rec.object->Call(method, args);
}

Value Frame::Raise(UnitRef unit, int number, std::vector<Value> args) {
  WindowRecord* w = FindWin(unit.window);
  if (w == nullptr) Fail(err::kEventUnitNotFound, Gbk("未找到引发事件的窗口组件"));
  auto it = w->units.find(unit.unit);
  if (it == w->units.end()) Fail(err::kEventUnitNotFound, Gbk("未找到引发事件的窗口组件"));
  if (it->second.layout == nullptr) Fail(err::kEventUnitInvalid, Gbk("引发事件的窗口组件无效"));
  for (const EventBinding& b : it->second.layout->events) {
    if (b.event != number) continue;
    const HandlerFn& fn = handlers_[static_cast<std::size_t>(b.handler)];
    if (fn) return fn(args);
  }
  return Value{};
}

void Frame::MenuCommand(int window, int command) {
  WindowRecord* w = FindWin(window);
  if (w == nullptr) return;
  int position = kFirstMenuCommand;
  for (const UnitLayout& u : w->layout->units) {
    if (u.kind != UnitKind::Menu) continue;
    if (position++ == command) {
      Raise({window, u.id}, event::kMenuSelected, {});
      return;
    }
  }
}

int Frame::MsgBox(const Value& text, int style, const Value& title, const Value& owner) {
  const Text shown = text.IsText() ? text.AsText() : ToText(text);
  const Text heading = title.IsAbsent() ? Gbk("信息：") : ToText(title);
  if ((style & 0x1000) == 0) style |= 0x2000;
  std::optional<int> ownerWindow;
  if (owner.IsUnit() && IsLoaded(owner.AsUnit().window)) ownerWindow = owner.AsUnit().window;
  return PlatformButtonToResult(backend_.MsgBox(shown, style, heading, ownerWindow));
}

bool Frame::BuildPopup(int window, int menuUnit, std::vector<PopupItem>& items) {
  WindowRecord* w = FindWin(window);
  if (w == nullptr) Fail(err::kWindowNotLoaded, Gbk("未载入欲访问窗口组件所在的窗口"));
  // Command numbers count every menu unit of the window, hidden ones included, so that a
  // chosen number maps back to its unit.
  int position = kFirstMenuCommand;
  bool inMenu = false;
  bool found = false;
  for (const UnitLayout& u : w->layout->units) {
    if (u.kind != UnitKind::Menu) continue;
    const int command = position++;
    if (u.menuLevel == 0) {
      if (inMenu) break;
      inMenu = (u.id == menuUnit);
      found = found || inMenu;
      continue;
    }
    if (!inMenu) continue;
    const UnitRecord& rec = w->units[u.id];
    if (!rec.stored.at(prop::kVisible).AsBool()) continue;
    items.push_back({command, u.caption, rec.stored.at(prop::kDisabled).AsBool(),
                     (u.menuFlags & kMenuChecked) != 0});
  }
  return found;  // false: the menu does not belong to this window
}

void Frame::PopupMenu(int window, int menuUnit, std::optional<int> x, std::optional<int> y) {
  std::vector<PopupItem> items;
  if (BuildPopup(window, menuUnit, items)) backend_.PopupMenu(window, items, x, y, false);
}

void Frame::PopupTrayMenu(int window, int menuUnit) {
  std::vector<PopupItem> items;
  if (BuildPopup(window, menuUnit, items)) backend_.PopupMenu(window, items, {}, {}, true);
}

Text Frame::ComboItemText(UnitRef combo, int index) {
  LookupForCommand(combo);
  return backend_.ComboItemText(combo, index);
}

int Frame::ComboAddItem(UnitRef combo, const Text& text, std::optional<std::int64_t> data) {
  LookupForCommand(combo);
  return backend_.ComboAddItem(combo, text, data.value_or(0));
}

void Frame::ComboClear(UnitRef combo) {
  LookupForCommand(combo);
  backend_.ComboClear(combo);
}

int Frame::ComboSelectText(UnitRef combo, const Text& prefix) {
  LookupForCommand(combo);
  return backend_.ComboSelectText(combo, prefix);
}

void Frame::SetTrayIcon(int window, const Value& icon, const Value& tooltip) {
  LookupForCommand({window, window});
  Bytes bytes = icon.AsBytes();
  if (icon.IsText() && !icon.AsText().empty()) {
    std::ifstream in(icon.AsText(), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  backend_.SetTrayIcon(window, bytes, CutText(tooltip.AsText(), 62));
}

Text Frame::ListCellText(UnitRef list, int row, std::optional<int> column) {
  LookupForCommand(list);
  return backend_.ListCellText(list, row, column.value_or(0));
}

void Frame::ListSetCellText(UnitRef list, int row, std::optional<int> column, const Text& text) {
  LookupForCommand(list);
  backend_.ListSetCellText(list, row, column.value_or(0), text);
}

int Frame::ListCheckState(UnitRef list, int row) {
  LookupForCommand(list);
  return backend_.ListCheckState(list, row);
}

void Frame::ListSetCheckState(UnitRef list, int row, std::optional<int> state) {
  LookupForCommand(list);
  // State image = state + 1; below -1 counts as -1, and an absent state removes the box.
  const int image = state ? std::max(*state, -1) + 1 : 0;
  backend_.ListSetCheckState(list, row, image);
}

int Frame::ListRowCount(UnitRef list) {
  LookupForCommand(list);
  return backend_.ListRowCount(list);
}

int Frame::ListInsertRow(UnitRef list, const ListInsert& row) {
  LookupForCommand(list);
  return backend_.ListInsertRow(list, row);
}

void Frame::ListDeleteAll(UnitRef list) {
  LookupForCommand(list);
  backend_.ListDeleteAll(list);
}

void Frame::Fail(int code, const Text& message) {
  const Text report =
      Gbk("运行时出错!\r\n\r\n错误代码：") + std::to_string(code) + Gbk("\r\n错误信息：") + message;
  backend_.Fatal(report, Gbk("运行时出错!"));
  std::abort();  // a backend's Fatal never returns; the compiler cannot see that through the call
}

}  // namespace tw
