// The frame's window commands: message boxes, pop-up menus built from the menu units, the combo
// box, the tray icon and the report list. Each checks that its unit's window is loaded and
// hands the work to the backend.
#include <algorithm>

#include "runtime/gbk.h"
#include "runtime/gbk_text.h"
#include "runtime/services.h"
#include "runtime/text.h"
#include "ui/frame.h"

namespace tw {
namespace {

int PlatformButtonToResult(int id) {
  // IDOK 1 ... IDNO 7 map to 0 ... 6.
  return (id >= 1 && id <= 7) ? id - 1 : mb::kCancel;
}

// Cuts a GBK text to at most `limit` characters, a double-byte character counting as one.
Text CutToCharacters(const Text& t, std::size_t limit) {
  // Counted as the shell counts the tooltip it shows: 0x80 is a character of its own there.
  return t.substr(0, gbk::FitChars(t, limit, gbk::LeadBytes::From0x81));
}

}  // namespace

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
    // A file that cannot be read gives no bytes, which count as no icon.
    if (auto content = ReadFileBytes(icon.AsText())) bytes = std::move(*content);
  }
  backend_.SetTrayIcon(window, bytes, CutToCharacters(tooltip.AsText(), 62));
}

void Frame::ShowTrayBalloon(int window, const Value& title, const Value& text, int icon) {
  LookupForCommand({window, window});
  const auto shown = [](const Value& v) { return v.IsText() ? v.AsText() : ToText(v); };
  backend_.TrayBalloon(window, CutToCharacters(shown(title), 63), CutToCharacters(shown(text), 255),
                       icon);
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

}  // namespace tw
