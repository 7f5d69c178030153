// The Win32 backend's properties: how each property that the table in ui/properties.h gives the
// native control is read from and applied to it (geometry, visibility and the disabled state
// live from the native window, edit text, captions, check marks, combo selection, progress
// position, selected list row, window display state).
#include "platform/win32/backend_win32.h"
#include "ui/properties.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

namespace tw {
namespace {

constexpr int kProgressMin = 0;
constexpr int kProgressMax = 100;
constexpr int kProgressLimit = 32767;

// Outer rectangle: on the screen for a window, relative to the container's client area for a
// control.
RECT UnitRect(HWND h, bool topLevel) {
  RECT r{};
  GetWindowRect(h, &r);
  if (!topLevel) MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void CentreOnScreen(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  const POINT at = CentredOrigin(r.right - r.left, r.bottom - r.top);
  SetWindowPos(h, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A transparent label paints nothing, so whatever it uncovers or covers anew must repaint.
void RepaintBeneath(HWND h, const RECT& area) {
  RedrawWindow(GetParent(h), &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

}  // namespace

std::optional<Value> Win32Backend::GetProperty(UnitRef unit, int number) {
  WinRec* rec = FindWin(unit.window);
  if (rec == nullptr || rec->hwnd == nullptr) return std::nullopt;
  const bool topLevel = unit.unit == unit.window;
  UnitWin* u = topLevel ? nullptr : FindUnit(unit);
  if (!topLevel && u == nullptr) return std::nullopt;
  HWND h = topLevel ? rec->hwnd : u->hwnd;
  const UnitKind kind = topLevel ? UnitKind::Window : u->layout->kind;
  const auto spec = FindNativeProperty(kind, number);
  if (!spec) return std::nullopt;
  // A list with its redraw off may not show as visible in its style bits.
  if (spec->id == PropId::Visible && IsQuiet(h)) ResumeLists();

  switch (spec->id) {
    case PropId::Left:
      return Value::Int(UnitRect(h, topLevel).left);
    case PropId::Top:
      return Value::Int(UnitRect(h, topLevel).top);
    case PropId::Width: {
      const RECT r = UnitRect(h, topLevel);
      return Value::Int(r.right - r.left);
    }
    case PropId::Height: {
      const RECT r = UnitRect(h, topLevel);
      return Value::Int(r.bottom - r.top);
    }
    case PropId::Visible:
      return Value::Bool((GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0);
    case PropId::Disabled:
      return Value::Bool(!IsWindowEnabled(h));
    case PropId::EditText:
    case PropId::Caption:
      return Value::Str(Narrow(WindowText(h)));
    case PropId::Checked:
      return Value::Bool(SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED);
    case PropId::ComboSelection:
      return Value::Int(static_cast<int>(SendMessageW(h, CB_GETCURSEL, 0, 0)));
    case PropId::ProgressPos:
      return Value::Int(u->progressPos);
    case PropId::ListSelected:
      return Value::Int(static_cast<int>(
          SendMessageW(h, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
    case PropId::WindowState:
      return Value::Int(IsIconic(h) ? 2 : (IsZoomed(h) ? 3 : 0));
    case PropId::Tag:
    case PropId::Cursor:
    case PropId::TimerInterval:
    case PropId::WindowIcon:
      break;  // the frame's
  }
  return std::nullopt;
}

bool Win32Backend::SetProperty(UnitRef unit, int number, const Value& value) {
  WinRec* rec = FindWin(unit.window);
  if (rec == nullptr || rec->hwnd == nullptr) return false;
  const bool topLevel = unit.unit == unit.window;
  UnitWin* u = topLevel ? nullptr : FindUnit(unit);
  if (!topLevel && u == nullptr) return false;
  HWND h = topLevel ? rec->hwnd : u->hwnd;
  const UnitKind kind = topLevel ? UnitKind::Window : u->layout->kind;
  const auto spec = FindNativeProperty(kind, number);
  if (!spec || spec->readOnly) return false;
  if (IsQuiet(h)) ResumeLists();  // its own redraw state must not fight the change
  const int n = static_cast<int>(value.Integer());

  switch (spec->id) {
    case PropId::Left:
    case PropId::Top:
    case PropId::Width:
    case PropId::Height: {
      const RECT old = UnitRect(h, topLevel);
      int x = old.left, y = old.top, w = old.right - old.left, ht = old.bottom - old.top;
      int& changed = spec->id == PropId::Left    ? x
                     : spec->id == PropId::Top   ? y
                     : spec->id == PropId::Width ? w
                                                 : ht;
      changed = n;
      // A combo box's window height includes its drop-down part; its field is sized apart.
      const int windowHeight = kind == UnitKind::Combo ? ht + kComboDropHeight : ht;
      SetWindowPos(h, nullptr, x, y, w, windowHeight, SWP_NOZORDER | SWP_NOACTIVATE);
      if (kind == UnitKind::Combo) SizeCombo(h, ht);
      if (kind == UnitKind::TransparentLabel) {
        RepaintBeneath(h, old);
        RepaintBeneath(h, UnitRect(h, false));
      }
      return true;
    }
    case PropId::Visible:
      if (topLevel) {
        ShowWindow(h, value.AsBool() ? SW_SHOW : SW_HIDE);
      } else {
        ShowWindow(h, value.AsBool() ? SW_SHOWNA : SW_HIDE);
      }
      return true;
    case PropId::Disabled: {
      const bool wasDisabled = !IsWindowEnabled(h);
      EnableWindow(h, value.AsBool() ? FALSE : TRUE);
      if (topLevel && wasDisabled && !value.AsBool() && IsWindowVisible(h)) {
        // Enabled again after a modal window: when that window's end left nothing of ours
        // active, the focus returns here, as it does after a dialog box.
        HWND active = GetActiveWindow();
        if (active == nullptr || !IsWindowVisible(active)) SetForegroundWindow(h);
      }
      return true;
    }
    case PropId::EditText:
    case PropId::Caption:
      SetWindowTextW(h, Wide(value.AsText()).c_str());
      return true;
    case PropId::Checked:
      SendMessageW(h, BM_SETCHECK, value.AsBool() ? BST_CHECKED : BST_UNCHECKED, 0);
      return true;
    case PropId::ComboSelection:
      SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(n < 0 ? -1 : n), 0);
      return true;
    case PropId::ProgressPos: {
      // The stored position reads back as written; the bar shows it within its range.
      u->progressPos = std::clamp(n, 0, kProgressLimit);
      const int shown = std::clamp(u->progressPos, kProgressMin, kProgressMax);
      SendMessageW(h, PBM_SETPOS, static_cast<WPARAM>(shown), 0);
      return true;
    }
    case PropId::WindowState:
      if (!IsWindowVisible(h)) return true;  // applied only while the window is visible
      switch (n) {
        case 0:
          ShowWindow(h, SW_SHOWNORMAL);
          break;
        case 1:
          CentreOnScreen(h);
          break;
        case 2:
          ShowWindow(h, SW_MINIMIZE);
          break;
        case 3:
          ShowWindow(h, SW_MAXIMIZE);
          break;
        default:
          break;
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

}  // namespace tw
