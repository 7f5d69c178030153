// Headless windows and their units: building from the layout, destruction, how the properties
// that the table in ui/properties.h gives the native control are kept here, and what tests read
// back.
#include <algorithm>

#include "platform/headless/headless.h"
#include "runtime/gbk_text.h"
#include "ui/properties.h"

namespace tw {
namespace {

int Clamp16(int v) {
  return std::clamp(v, 0, 32767);
}

bool ValidLayout(const WindowLayout& layout) {
  if (layout.units.empty() || layout.units.front().kind != UnitKind::Window) return false;
  for (std::size_t i = 0; i < layout.units.size(); ++i) {
    const UnitLayout& u = layout.units[i];
    for (std::size_t j = 0; j < i; ++j) {
      if (layout.units[j].id == u.id) return false;
    }
    if (u.container != 0) {
      const UnitLayout* box = layout.Find(u.container);
      if (box == nullptr || box->kind != UnitKind::GroupBox) return false;
    }
  }
  return true;
}

}  // namespace

HeadlessBackend::HeadlessBackend() = default;

HeadlessBackend::~HeadlessBackend() {
  if (clockInstalled_) SetLocalClock(previousClock_);
}

HeadlessBackend::UnitState* HeadlessBackend::Find(UnitRef unit) {
  auto w = windows_.find(unit.window);
  if (w == windows_.end()) return nullptr;
  auto u = w->second.units.find(unit.unit);
  return u == w->second.units.end() ? nullptr : &u->second;
}

const HeadlessBackend::UnitState* HeadlessBackend::Find(UnitRef unit) const {
  return const_cast<HeadlessBackend*>(this)->Find(unit);
}

HeadlessBackend::UnitState* HeadlessBackend::FindKind(UnitRef unit, UnitKind kind) {
  UnitState* u = Find(unit);
  return (u != nullptr && u->layout->kind == kind) ? u : nullptr;
}

const HeadlessBackend::UnitState* HeadlessBackend::FindKind(UnitRef unit, UnitKind kind) const {
  return const_cast<HeadlessBackend*>(this)->FindKind(unit, kind);
}

bool HeadlessBackend::BuildWindow(const WindowLayout& layout) {
  if (windows_.count(layout.id) != 0 || !ValidLayout(layout)) return false;
  WindowState& w = windows_[layout.id];
  w.layout = &layout;
  for (const UnitLayout& u : layout.units) {
    if (!HasNativeWindow(u.kind)) continue;
    UnitState& s = w.units[u.id];
    s.layout = &u;
    s.left = u.left;
    s.top = u.top;
    s.width = u.width;
    s.height = u.height;
    s.disabled = u.Disabled();
    s.text = u.caption;
    if (u.kind == UnitKind::Window) {
      // Created hidden; the frame shows it once its creation event has run.
      s.visible = false;
      if (layout.centred) {
        s.left = (kScreenWidth - u.width) / 2;
        s.top = (kScreenHeight - u.height) / 2;
      }
    } else {
      s.visible = u.Visible();
    }
    if (u.kind == UnitKind::Edit) s.text.clear();
    for (const Text& item : u.items) s.items.emplace_back(item, 0);
  }
  return true;
}

void HeadlessBackend::DestroyWindow(int window) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  if (TrayRecord& tray = trays_[window]; tray.present) {
    tray = {false, {}, {}, tray.adds, tray.modifies, tray.removes + 1};
  }
  for (auto t = timers_.begin(); t != timers_.end();) {
    t = t->first.first == window ? timers_.erase(t) : std::next(t);
  }
  // Messages addressed to a window that no longer exists are never delivered.
  std::erase_if(queue_, [window](const Message& m) { return m.window == window; });
  if (focus_ && focus_->window == window) focus_.reset();
  if (foreground_ == window) foreground_ = 0;
  windows_.erase(it);
}

void HeadlessBackend::BringToFront(int window) {
  UnitState* w = Find({window, window});
  if (w == nullptr) return;
  if (w->displayState == 2) w->displayState = 0;
  foreground_ = window;
}

std::optional<Value> HeadlessBackend::GetProperty(UnitRef unit, int number) {
  const UnitState* u = Find(unit);
  if (u == nullptr) return std::nullopt;
  const auto spec = FindNativeProperty(u->layout->kind, number);
  if (!spec) return std::nullopt;
  switch (spec->id) {
    case PropId::Left:
      return Value::Int(u->left);
    case PropId::Top:
      return Value::Int(u->top);
    case PropId::Width:
      return Value::Int(u->width);
    case PropId::Height:
      return Value::Int(u->height);
    case PropId::Visible:
      return Value::Bool(u->visible);
    case PropId::Disabled:
      return Value::Bool(u->disabled);
    case PropId::EditText:
    case PropId::Caption:
      return Value::Str(u->text);
    case PropId::Checked:
      return Value::Bool(u->checked);
    case PropId::ComboSelection:
      return Value::Int(u->selection);
    case PropId::ProgressPos:
      return Value::Int(u->position);
    case PropId::ListSelected:
      for (std::size_t i = 0; i < u->rows.size(); ++i) {
        if (u->rows[i].selected) return Value::Int(static_cast<int>(i));
      }
      return Value::Int(-1);
    case PropId::WindowState:
      return Value::Int(u->displayState);
    case PropId::Tag:
    case PropId::Cursor:
    case PropId::TimerInterval:
    case PropId::WindowIcon:
      break;  // the frame's
  }
  return std::nullopt;
}

bool HeadlessBackend::SetProperty(UnitRef unit, int number, const Value& value) {
  UnitState* u = Find(unit);
  if (u == nullptr) return false;
  const auto spec = FindNativeProperty(u->layout->kind, number);
  if (!spec || spec->readOnly) return false;
  const auto n = static_cast<int>(value.Integer());
  switch (spec->id) {
    case PropId::Left:
      u->left = n;
      return true;
    case PropId::Top:
      u->top = n;
      return true;
    case PropId::Width:
      u->width = std::max(0, n);
      return true;
    case PropId::Height:
      u->height = std::max(0, n);
      return true;
    case PropId::Visible:
      u->visible = value.AsBool();
      if (u->layout->kind == UnitKind::Window && u->visible) foreground_ = unit.window;
      return true;
    case PropId::Disabled:
      u->disabled = value.AsBool();
      return true;
    case PropId::EditText:
    case PropId::Caption:
      u->text = value.AsText();
      return true;
    case PropId::Checked:
      // The program sets one button; unlike a click it leaves the other radios alone.
      u->checked = value.AsBool();
      return true;
    case PropId::ComboSelection:
      // An index outside the list clears the selection, as the platform's combo does.
      u->selection = (n >= 0 && n < static_cast<int>(u->items.size())) ? n : -1;
      return true;
    case PropId::ProgressPos:
      u->position = Clamp16(n);
      return true;
    case PropId::WindowState:
      if (!u->visible) return true;  // applied only to a window on the screen
      if (n == 0) {
        u->displayState = 0;
      } else if (n == 1) {
        u->left = (kScreenWidth - u->width) / 2;
        u->top = (kScreenHeight - u->height) / 2;
      } else if (n == 2 || n == 3) {
        u->displayState = n;
      }
      return true;
    case PropId::Tag:
    case PropId::Cursor:
    case PropId::TimerInterval:
    case PropId::ListSelected:
    case PropId::WindowIcon:
      break;  // the frame's, or read only
  }
  return false;
}

// ---- Combo box.

Text HeadlessBackend::ComboItemText(UnitRef combo, int index) {
  const UnitState* c = FindKind(combo, UnitKind::Combo);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return {};
  return c->items[static_cast<std::size_t>(index)].first;
}

int HeadlessBackend::ComboAddItem(UnitRef combo, const Text& text, std::int64_t data) {
  UnitState* c = FindKind(combo, UnitKind::Combo);
  if (c == nullptr) return -1;
  c->items.emplace_back(text, data);
  return static_cast<int>(c->items.size()) - 1;
}

void HeadlessBackend::ComboClear(UnitRef combo) {
  if (UnitState* c = FindKind(combo, UnitKind::Combo)) {
    c->items.clear();
    c->selection = -1;
  }
}

namespace {

// Whether `text` begins with `prefix`, ASCII letters compared without case. A double-byte
// character is compared as a whole: its trail byte may look like an ASCII letter.
bool StartsWithNoCase(const Text& text, const Text& prefix) {
  if (prefix.size() > text.size()) return false;
  // The combo box steps as the platform's own controls do, 0x80 being the one-byte euro sign.
  for (std::size_t i = 0; i < prefix.size();) {
    const std::size_t n = gbk::CharLength(prefix, i, gbk::LeadBytes::From0x81);
    if (n == 2) {
      if (prefix.compare(i, 2, text, i, 2) != 0) return false;
    } else {
      const auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
      if (lower(static_cast<unsigned char>(prefix[i])) !=
          lower(static_cast<unsigned char>(text[i])))
        return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

int HeadlessBackend::ComboSelectText(UnitRef combo, const Text& prefix) {
  UnitState* c = FindKind(combo, UnitKind::Combo);
  if (c == nullptr) return -1;
  for (std::size_t i = 0; i < c->items.size(); ++i) {
    if (StartsWithNoCase(c->items[i].first, prefix)) {
      c->selection = static_cast<int>(i);
      return c->selection;
    }
  }
  return -1;
}

// ---- Report list view.

HeadlessBackend::Row* HeadlessBackend::FindRow(UnitRef list, int row) {
  UnitState* l = FindKind(list, UnitKind::ListView);
  if (l == nullptr || row < 0 || row >= static_cast<int>(l->rows.size())) return nullptr;
  return &l->rows[static_cast<std::size_t>(row)];
}

Text HeadlessBackend::ListCellText(UnitRef list, int row, int column) {
  const Row* r = FindRow(list, row);
  if (r == nullptr || column < 0 || column >= static_cast<int>(r->cells.size())) return {};
  return r->cells[static_cast<std::size_t>(column)];
}

void HeadlessBackend::ListSetCellText(UnitRef list, int row, int column, const Text& text) {
  Row* r = FindRow(list, row);
  if (r == nullptr || column < 0 || column >= static_cast<int>(r->cells.size())) return;
  r->cells[static_cast<std::size_t>(column)] = text;
}

int HeadlessBackend::ListCheckState(UnitRef list, int row) {
  const Row* r = FindRow(list, row);
  return r == nullptr ? -1 : r->stateImage - 1;
}

void HeadlessBackend::ListSetCheckState(UnitRef list, int row, int stateImage) {
  if (Row* r = FindRow(list, row)) r->stateImage = std::max(0, stateImage);
}

int HeadlessBackend::ListRowCount(UnitRef list) {
  const UnitState* l = FindKind(list, UnitKind::ListView);
  return l == nullptr ? 0 : static_cast<int>(l->rows.size());
}

int HeadlessBackend::ListInsertRow(UnitRef list, const ListInsert& row) {
  UnitState* l = FindKind(list, UnitKind::ListView);
  if (l == nullptr) return -1;
  Row r;
  r.cells.assign(std::max<std::size_t>(1, l->layout->columns.size()), Text());
  r.cells[0] = row.text;
  // Rows of a list with check boxes start with an unticked box.
  if (row.checkState) r.stateImage = std::max(*row.checkState, -1) + 1;
  if (row.image && *row.image >= -1) r.image = *row.image;
  if (row.indent) r.indent = *row.indent;
  if (row.data) r.data = *row.data;
  const int count = static_cast<int>(l->rows.size());
  const int at =
      (!row.position || *row.position < 0 || *row.position > count) ? count : *row.position;
  l->rows.insert(l->rows.begin() + at, std::move(r));
  return at;
}

void HeadlessBackend::ListDeleteAll(UnitRef list) {
  if (UnitState* l = FindKind(list, UnitKind::ListView)) l->rows.clear();
}

// ---- Observing.

bool HeadlessBackend::OwnVisible(UnitRef unit) const {
  const UnitState* u = Find(unit);
  return u != nullptr && u->visible;
}

bool HeadlessBackend::Usable(UnitRef unit) const {
  const UnitState* u = Find(unit);
  const UnitState* w = Find({unit.window, unit.window});
  if (u == nullptr || w == nullptr) return false;
  if (!w->visible || w->disabled || w->displayState == 2) return false;
  if (!u->visible || u->disabled) return false;
  if (const int box = u->layout->container; box != 0) {
    const UnitState* g = Find({unit.window, box});
    if (g == nullptr || !g->visible || g->disabled) return false;
  }
  return true;
}

Text HeadlessBackend::EditText(UnitRef edit) const {
  const UnitState* e = FindKind(edit, UnitKind::Edit);
  return e == nullptr ? Text() : e->text;
}

Text HeadlessBackend::DisplayedText(UnitRef edit) const {
  const UnitState* e = FindKind(edit, UnitKind::Edit);
  if (e == nullptr) return {};
  if (e->layout->editRule != EditRule::Password) return e->text;
  // One star per character, counted as the platform's own edit control counts them.
  return Text(gbk::CountChars(e->text, gbk::LeadBytes::From0x81), '*');
}

Text HeadlessBackend::Caption(UnitRef unit) const {
  const UnitState* u = Find(unit);
  return (u == nullptr || u->layout->kind == UnitKind::Edit) ? Text() : u->text;
}

bool HeadlessBackend::Checked(UnitRef unit) const {
  const UnitState* u = Find(unit);
  return u != nullptr && u->checked;
}

std::vector<Text> HeadlessBackend::ComboItems(UnitRef combo) const {
  std::vector<Text> out;
  if (const UnitState* c = FindKind(combo, UnitKind::Combo)) {
    for (const auto& item : c->items) out.push_back(item.first);
  }
  return out;
}

int HeadlessBackend::ComboSelection(UnitRef combo) const {
  const UnitState* c = FindKind(combo, UnitKind::Combo);
  return c == nullptr ? -1 : c->selection;
}

int HeadlessBackend::ProgressDisplayed(UnitRef progress) const {
  const UnitState* p = FindKind(progress, UnitKind::Progress);
  if (p == nullptr) return 0;
  const int lo = std::min(p->rangeMin, p->rangeMax);
  const int hi = std::max(p->rangeMin, p->rangeMax);
  return std::clamp(p->position, lo, hi);
}

void HeadlessBackend::SetProgressRange(UnitRef progress, int minimum, int maximum) {
  if (UnitState* p = FindKind(progress, UnitKind::Progress)) {
    p->rangeMin = Clamp16(minimum);
    p->rangeMax = Clamp16(maximum);
  }
}

std::vector<ListRowView> HeadlessBackend::ListRows(UnitRef list) const {
  std::vector<ListRowView> out;
  if (const UnitState* l = FindKind(list, UnitKind::ListView)) {
    for (const Row& r : l->rows) out.push_back({r.cells, r.stateImage, r.selected});
  }
  return out;
}

int HeadlessBackend::DisplayState(int window) const {
  const UnitState* w = Find({window, window});
  return w == nullptr ? 0 : w->displayState;
}

std::vector<int> HeadlessBackend::StackingOrder(int window, int container) const {
  std::vector<int> out;
  auto it = windows_.find(window);
  if (it == windows_.end()) return out;
  for (const UnitLayout& u : it->second.layout->units) {
    if (u.id != window && u.container == container && HasNativeWindow(u.kind)) out.push_back(u.id);
  }
  return out;
}

TrayRecord HeadlessBackend::Tray(int window) const {
  auto it = trays_.find(window);
  return it == trays_.end() ? TrayRecord{} : it->second;
}

int HeadlessBackend::TimerInterval(UnitRef timer) const {
  auto it = timers_.find({timer.window, timer.unit});
  return it == timers_.end() ? 0 : it->second.interval;
}

}  // namespace tw
