// The Win32 backend's properties: geometry, visibility and the disabled state read live from the
// native window, and the kind-specific properties (edit text, captions, check marks, combo
// selection, progress position, selected list row, window display state).
#include "platform/win32/backend_win32.h"

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

  switch (number) {
    case prop::kLeft:
      return Value::Int(UnitRect(h, topLevel).left);
    case prop::kTop:
      return Value::Int(UnitRect(h, topLevel).top);
    case prop::kWidth: {
      const RECT r = UnitRect(h, topLevel);
      return Value::Int(r.right - r.left);
    }
    case prop::kHeight: {
      const RECT r = UnitRect(h, topLevel);
      return Value::Int(r.bottom - r.top);
    }
    case prop::kVisible:
      return Value::Bool((GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0);
    case prop::kDisabled:
      return Value::Bool(!IsWindowEnabled(h));
    default:
      break;
  }
  switch (kind) {
    case UnitKind::Edit:
      if (number == prop::kEditText) return Value::Str(Narrow(WindowText(h)));
      break;
    case UnitKind::Button:
      if (number == prop::kCaption) return Value::Str(Narrow(WindowText(h)));
      break;
    case UnitKind::CheckBox:
    case UnitKind::Radio:
      if (number == prop::kChecked) {
        return Value::Bool(SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED);
      }
      break;
    case UnitKind::Combo:
      if (number == prop::kComboSelection) {
        return Value::Int(static_cast<int>(SendMessageW(h, CB_GETCURSEL, 0, 0)));
      }
      break;
    case UnitKind::Progress:
      if (number == prop::kProgressPos) return Value::Int(u->progressPos);
      break;
    case UnitKind::ListView:
      if (number == prop::kListSelected) {
        return Value::Int(static_cast<int>(
            SendMessageW(h, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
      }
      break;
    case UnitKind::Window:
      if (number == prop::kWindowState) {
        return Value::Int(IsIconic(h) ? 2 : (IsZoomed(h) ? 3 : 0));
      }
      break;
    default:
      break;
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
  const int n = static_cast<int>(value.Integer());

  switch (number) {
    case prop::kLeft:
    case prop::kTop:
    case prop::kWidth:
    case prop::kHeight: {
      const RECT old = UnitRect(h, topLevel);
      int x = old.left, y = old.top, w = old.right - old.left, ht = old.bottom - old.top;
      (number == prop::kLeft ? x : number == prop::kTop ? y : number == prop::kWidth ? w : ht) = n;
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
    case prop::kVisible:
      if (topLevel) {
        ShowWindow(h, value.AsBool() ? SW_SHOW : SW_HIDE);
      } else {
        ShowWindow(h, value.AsBool() ? SW_SHOWNA : SW_HIDE);
      }
      return true;
    case prop::kDisabled: {
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
    default:
      break;
  }
  switch (kind) {
    case UnitKind::Edit:
    case UnitKind::Button:
      if (number == (kind == UnitKind::Edit ? prop::kEditText : prop::kCaption)) {
        SetWindowTextW(h, Wide(value.AsText()).c_str());
        return true;
      }
      break;
    case UnitKind::CheckBox:
    case UnitKind::Radio:
      if (number == prop::kChecked) {
        SendMessageW(h, BM_SETCHECK, value.AsBool() ? BST_CHECKED : BST_UNCHECKED, 0);
        return true;
      }
      break;
    case UnitKind::Combo:
      if (number == prop::kComboSelection) {
        SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(n < 0 ? -1 : n), 0);
        return true;
      }
      break;
    case UnitKind::Progress:
      if (number == prop::kProgressPos) {
        // The stored position reads back as written; the bar shows it within its range.
        u->progressPos = std::clamp(n, 0, kProgressLimit);
        const int shown = std::clamp(u->progressPos, kProgressMin, kProgressMax);
        SendMessageW(h, PBM_SETPOS, static_cast<WPARAM>(shown), 0);
        return true;
      }
      break;
    case UnitKind::ListView:
      return number == prop::kListSelected;  // read only: a write changes nothing
    case UnitKind::Window:
      if (number == prop::kWindowState) {
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
      }
      break;
    default:
      break;
  }
  return false;
}

}  // namespace tw
