// The test's hands on the headless windows: clicks with hit-testing by stacking order, focus
// with the whole-number rewrite of 编辑框_日 on leaving it, typing under each field's input
// rules, combo choices, list check boxes, close requests and tray mouse actions. Each input
// becomes a queued message, as a real one would, and is processed before the call returns.
#include <algorithm>
#include <string>

#include "platform/headless/headless.h"
#include "runtime/gbk_text.h"
#include "runtime/leading_number.h"

namespace tw {
namespace {

bool TakesFocus(UnitKind k) {
  return k == UnitKind::Button || k == UnitKind::CheckBox || k == UnitKind::Radio ||
         k == UnitKind::Edit || k == UnitKind::Combo || k == UnitKind::ListView;
}

// The edit fields step as the platform's own controls do, 0x80 being the one-byte euro sign.
constexpr gbk::LeadBytes kLeads = gbk::LeadBytes::From0x81;

// The whole number a text denotes, with the blanks and 32-bit range of ToInt, which the
// schedule reads the field with.
Text WholeNumber(const Text& t) {
  return std::to_string(LeadingWhole32(std::string_view(t), Blanks::SpaceAndTabToReturn));
}

void EraseLastChar(Text& t) {
  if (!t.empty()) t.erase(gbk::LastCharStart(t, kLeads));
}

bool Inside(int x, int y, int left, int top, int width, int height) {
  return x >= left && y >= top && x < left + width && y < top + height;
}

}  // namespace

int HeadlessBackend::HitIn(const WindowState& w, int container, int x, int y) const {
  for (int id : StackingOrder(w.layout->id, container)) {
    const UnitState& u = w.units.at(id);
    if (!u.visible || !Inside(x, y, u.left, u.top, u.width, u.height)) continue;
    if (u.layout->kind != UnitKind::GroupBox) return id;
    // A group box lets clicks on its bare area through to what lies beneath it.
    if (const int child = HitIn(w, id, x - u.left, y - u.top); child != 0) return child;
  }
  return 0;
}

int HeadlessBackend::HitTest(int window, int x, int y) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? 0 : HitIn(it->second, 0, x, y);
}

bool HeadlessBackend::CentreOf(UnitRef unit, int& x, int& y) const {
  const UnitState* u = Find(unit);
  if (u == nullptr || unit.unit == unit.window) return false;
  x = u->left + u->width / 2;
  y = u->top + u->height / 2;
  if (const int box = u->layout->container; box != 0) {
    const UnitState* g = Find({unit.window, box});
    x += g->left;
    y += g->top;
  }
  return true;
}

// Whether a user could not reach the unit at (x, y) of its window's client area.
bool HeadlessBackend::CoveredOrUnusable(UnitRef unit, int x, int y) const {
  return !Usable(unit) || HitTest(unit.window, x, y) != unit.unit;
}

void HeadlessBackend::MoveFocus(std::optional<UnitRef> to) {
  if (focus_ == to) return;
  const std::optional<UnitRef> from = focus_;
  focus_ = to;
  if (!from) return;
  UnitState* e = FindKind(*from, UnitKind::Edit);
  if (e != nullptr && e->layout->editRule == EditRule::WholeNumber) {
    if (Text n = WholeNumber(e->text); n != e->text) e->text = std::move(n);
  }
}

bool HeadlessBackend::Focus(UnitRef unit) {
  const UnitState* u = Find(unit);
  if (u == nullptr || !TakesFocus(u->layout->kind) || !Usable(unit)) return false;
  MoveFocus(unit);
  return true;
}

void HeadlessBackend::DeliverClick(UnitRef unit) {
  UnitState* u = Find(unit);
  if (u == nullptr) return;
  const UnitKind kind = u->layout->kind;
  if (TakesFocus(kind)) MoveFocus(unit);
  switch (kind) {
    case UnitKind::CheckBox:
      u->checked = !u->checked;
      break;
    case UnitKind::Radio:
      // A click checks the radio and unchecks the others of its container.
      for (auto& [id, other] : windows_.at(unit.window).units) {
        if (other.layout->kind == UnitKind::Radio &&
            other.layout->container == u->layout->container) {
          other.checked = (id == unit.unit);
        }
      }
      break;
    case UnitKind::Button:
      break;
    default:
      return;  // edits, combos, lists and labels raise no click
  }
  if (sink_ != nullptr) sink_->Raise(unit, event::kClick, {});
}

bool HeadlessBackend::ClickAt(int window, int x, int y) {
  const UnitState* w = Find({window, window});
  if (w == nullptr || !w->visible || w->disabled || w->displayState == 2) return false;
  const int hit = HitTest(window, x, y);
  if (hit == 0 || !Usable({window, hit})) return false;
  Post(window, [this, window, hit] {
    // Whatever ran before this click may have disabled or hidden the unit meanwhile.
    if (Usable({window, hit})) DeliverClick({window, hit});
  });
  Drain();
  return true;
}

bool HeadlessBackend::Click(UnitRef unit) {
  int x = 0, y = 0;
  if (!CentreOf(unit, x, y) || CoveredOrUnusable(unit, x, y)) return false;
  return ClickAt(unit.window, x, y);
}

bool HeadlessBackend::Type(UnitRef edit, std::string_view text) {
  if (FindKind(edit, UnitKind::Edit) == nullptr || !Focus(edit)) return false;
  UnitState& e = *FindKind(edit, UnitKind::Edit);
  const EditRule rule = e.layout->editRule;
  const bool digitsOnly = rule == EditRule::Digits || rule == EditRule::WholeNumber;
  bool all = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const Text key(text.substr(i, gbk::CharLength(text, i, kLeads)));
    i += key.size() - 1;
    if (c == '\b') {
      EraseLastChar(e.text);
      continue;
    }
    if (c < 0x20) continue;  // other control keys change nothing in a single-line field
    if (digitsOnly && !((c >= '0' && c <= '9') || c == '-')) {
      all = false;
      continue;
    }
    if (e.layout->maxChars > 0 &&
        gbk::CountChars(e.text, kLeads) >= static_cast<std::size_t>(e.layout->maxChars)) {
      all = false;
      continue;
    }
    e.text += key;
  }
  return all;
}

bool HeadlessBackend::ChooseComboItem(UnitRef combo, int index) {
  int x = 0, y = 0;
  const UnitState* c = FindKind(combo, UnitKind::Combo);
  if (c == nullptr || !CentreOf(combo, x, y) || CoveredOrUnusable(combo, x, y)) return false;
  if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
  MoveFocus(combo);
  FindKind(combo, UnitKind::Combo)->selection = index;
  // The choice is confirmed through a message the combo posts itself; the event follows it.
  Post(combo.window, [this, combo] {
    if (sink_ != nullptr && Find(combo) != nullptr) sink_->Raise(combo, event::kComboChosen, {});
  });
  Drain();
  return true;
}

bool HeadlessBackend::SelectRow(UnitRef list, int row) {
  int x = 0, y = 0;
  if (!CentreOf(list, x, y) || CoveredOrUnusable(list, x, y) || FindRow(list, row) == nullptr) {
    return false;
  }
  MoveFocus(list);
  for (Row& r : FindKind(list, UnitKind::ListView)->rows) r.selected = false;
  FindRow(list, row)->selected = true;
  return true;
}

bool HeadlessBackend::PressSpaceOnRow(UnitRef list, int row) {
  if (!SelectRow(list, row)) return false;
  Row* r = FindRow(list, row);
  if (r->stateImage < 1 || r->stateImage > 2) return true;  // no check box: the key does nothing
  r->stateImage = r->stateImage == 2 ? 1 : 2;
  Post(list.window, [this, list, row] {
    if (sink_ == nullptr || FindRow(list, row) == nullptr) return;
    sink_->Raise(list, event::kListCheckToggled,
                 {Value::Int(row), Value::Int(ListCheckState(list, row))});
  });
  Drain();
  return true;
}

bool HeadlessBackend::ToggleRowCheck(UnitRef list, int row, MouseButton button) {
  const UnitState* l = FindKind(list, UnitKind::ListView);
  Row* r = FindRow(list, row);
  if (l == nullptr || r == nullptr || r->stateImage < 1 || r->stateImage > 2) return false;
  // The check box sits at the left of the row, below the header strip; rows further down than
  // the list shows are taken as scrolled into its last visible line.
  constexpr int kHeader = 24, kRowHeight = 18;
  const int lines = std::max(1, (l->height - kHeader) / kRowHeight);
  int x = 0, y = 0;
  CentreOf(list, x, y);
  x = x - l->width / 2 + 10;
  y = y - l->height / 2 + kHeader + std::min(row, lines - 1) * kRowHeight + kRowHeight / 2;
  if (CoveredOrUnusable(list, x, y)) return false;
  Post(list.window, [this, list, row, button] {
    MoveFocus(list);
    Row* hit = FindRow(list, row);
    if (hit == nullptr) return;
    // As the platform's list does: a right click leaves the box as it is, and a double click
    // toggles it once but reports twice (for the click and for the double click).
    if (button != MouseButton::Right) hit->stateImage = hit->stateImage == 2 ? 1 : 2;
    // The list tells itself about the click by a posted message and raises the event when it
    // arrives, with the state of that moment.
    const int reports = button == MouseButton::Double ? 2 : 1;
    for (int i = 0; i < reports; ++i) {
      Post(list.window, [this, list, row] {
        if (sink_ == nullptr || FindRow(list, row) == nullptr) return;
        sink_->Raise(list, event::kListCheckToggled,
                     {Value::Int(row), Value::Int(ListCheckState(list, row))});
      });
    }
    if (button == MouseButton::Right && sink_ != nullptr)
      sink_->Raise(list, event::kListRightClick, {});
  });
  Drain();
  return true;
}

bool HeadlessBackend::RightClickList(UnitRef list, std::optional<int> row) {
  int x = 0, y = 0;
  if (!CentreOf(list, x, y) || CoveredOrUnusable(list, x, y)) return false;
  if (row && !SelectRow(list, *row)) return false;
  Post(list.window, [this, list] {
    MoveFocus(list);
    if (sink_ != nullptr && Find(list) != nullptr) sink_->Raise(list, event::kListRightClick, {});
  });
  Drain();
  return true;
}

bool HeadlessBackend::CloseBox(int window) {
  const UnitState* w = Find({window, window});
  if (w == nullptr || !w->visible || w->disabled) return false;
  Post(window, [this, window] {
    if (sink_ != nullptr) sink_->CloseRequested(window);
  });
  Drain();
  return true;
}

bool HeadlessBackend::PressEsc(int window) {
  auto it = windows_.find(window);
  if (it == windows_.end() || !it->second.layout->escCloses) return false;
  return CloseBox(window);
}

bool HeadlessBackend::TrayMouse(int window, int mouseMessage) {
  auto t = trays_.find(window);
  if (t == trays_.end() || !t->second.present) return false;
  Post(window, [this, window, mouseMessage] {
    int action = 0;
    switch (mouseMessage) {
      case wm::kLButtonUp:
        action = 1;
        break;
      case wm::kLButtonDblClk:
        action = 2;
        break;
      case wm::kRButtonUp:
      case wm::kContextMenu:
        action = 3;
        break;
      default:
        return;
    }
    if (sink_ != nullptr) sink_->Raise({window, window}, event::kTray, {Value::Int(action)});
  });
  Drain();
  return true;
}

bool HeadlessBackend::TrayDoubleClick(int window) {
  // The platform delivers a double click as button up, double click, button up.
  return TrayMouse(window, wm::kLButtonUp) && TrayMouse(window, wm::kLButtonDblClk) &&
         TrayMouse(window, wm::kLButtonUp);
}

}  // namespace tw
