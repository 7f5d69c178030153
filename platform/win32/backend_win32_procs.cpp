// The Win32 backend's window procedures: the top-level window (clicks, combo choices, list
// notifications, timers, tray mouse actions, close requests and the private messages), group
// boxes that pass their units' notifications up, digit-only edit boxes and transparent labels.
#include "platform/win32/backend_win32.h"

#include <commctrl.h>

#include <string>

#include "runtime/leading_number.h"

namespace tw {
namespace {

// Printable characters other than the digits and '-' are refused; control keys pass.
bool DigitFieldAccepts(wchar_t c) {
  return c < 0x20 || c == 0x7F || (c >= L'0' && c <= L'9') || c == L'-';
}

// Pasting into a digit field keeps only the characters that typing would let through.
void PasteDigits(HWND edit) {
  std::wstring kept;
  if (OpenClipboard(edit)) {
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
      if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
        for (; *p != L'\0'; ++p) {
          if (*p >= 0x20 && DigitFieldAccepts(*p)) kept.push_back(*p);
        }
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
  }
  SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(kept.c_str()));
}

}  // namespace

std::wstring WindowText(HWND h) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring WholeNumberText(std::wstring_view text) {
  // The blanks and 32-bit range of ToInt, which the schedule reads the field with.
  return std::to_wstring(LeadingWhole32(text, Blanks::SpaceAndTabToReturn));
}

LRESULT CALLBACK Win32Backend::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    // The window id rides in the creation parameter; the hidden owner windows carry 0.
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);  // NOLINT(*-int-to-ptr)
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  const int window = static_cast<int>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window != 0 && instance_ != nullptr) {
    return instance_->OnWindowMessage(window, hwnd, msg, wp, lp);
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT Win32Backend::OnWindowMessage(int window, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  WinRec* rec = FindWin(window);
  if (rec == nullptr || sink_ == nullptr) {
    // Being built or torn down: nothing is raised, and a close request never destroys the
    // window behind the frame's back.
    return msg == WM_CLOSE ? 0 : DefWindowProcW(hwnd, msg, wp, lp);
  }
  // After a call into the sink the window may be gone: `rec` is not used past such a call.
  if (msg == taskbarCreated_ && taskbarCreated_ != 0) {
    // The shell restarted and forgot every icon.
    rec->trayShown = false;
    if (rec->trayIcon != nullptr) ShowTray(*rec);
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  switch (msg) {
    case WM_CLOSE:
      sink_->CloseRequested(window);
      return 0;
    case WM_COMMAND:
      if (OnCommand(window, wp, lp)) return 0;
      break;
    case WM_NOTIFY:
      OnNotify(window, *reinterpret_cast<const NMHDR*>(lp));  // NOLINT(*-int-to-ptr)
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return OnControlColour(window, hwnd, msg, wp, lp);
    case WM_TIMER: {
      auto it = rec->units.find(static_cast<int>(wp));
      if (it != rec->units.end() && it->second.layout->kind == UnitKind::Timer) {
        sink_->Raise({window, it->first}, event::kTimer, {});
        return 0;
      }
      break;
    }
    case kMsgTray:
      OnTrayMessage(window, lp);
      return 0;
    case kMsgDestroyPosted:
      sink_->DestroyPosted(window);
      return 0;
    case kMsgComboChosen:
      if (const UnitLayout* u = LayoutOfControl(window, static_cast<int>(wp));
          u != nullptr && u->kind == UnitKind::Combo) {
        sink_->Raise({window, u->id}, event::kComboChosen, {});
      }
      return 0;
    case kMsgListChecked: {
      const UnitRef list{window, static_cast<int>(wp)};
      const int row = static_cast<int>(lp);
      if (const UnitLayout* u = LayoutOfControl(window, list.unit);
          u != nullptr && u->kind == UnitKind::ListView) {
        // The state is read now, after the list has toggled it. A row that has gone in the
        // meantime has nothing to report.
        const int state = ListCheckState(list, row);
        if (state >= 0) {
          sink_->Raise(list, event::kListCheckToggled, {Value::Int(row), Value::Int(state)});
        }
      }
      return 0;
    }
    case WM_DESTROY:
      RemoveTray(*rec);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

bool Win32Backend::OnCommand(int window, WPARAM wp, LPARAM lp) {
  const int id = LOWORD(wp);
  const int code = HIWORD(wp);
  if (lp == 0) {
    if (code == 0 && id >= kFirstMenuCommand) {
      sink_->MenuCommand(window, id);
      return true;
    }
    if (id == IDCANCEL) {
      // Esc, turned into IDCANCEL by the dialog manager in the message loop. Enter (IDOK)
      // deliberately does nothing.
      if (WinRec* rec = FindWin(window); rec != nullptr && rec->layout->escCloses) {
        sink_->CloseRequested(window);
      }
      return true;
    }
    return id == IDOK;
  }
  const UnitLayout* u = LayoutOfControl(window, id);
  if (u == nullptr) return false;
  switch (u->kind) {
    case UnitKind::Button:
    case UnitKind::CheckBox:
    case UnitKind::Radio:
      if (code == BN_CLICKED) sink_->Raise({window, id}, event::kClick, {});
      return true;
    case UnitKind::Combo:
      // The choice is raised from a posted message, once the combo box has closed its list.
      if (code == CBN_SELENDOK) {
        if (WinRec* rec = FindWin(window)) PostMessageW(rec->hwnd, kMsgComboChosen, id, 0);
      }
      return true;
    default:
      return false;
  }
}

void Win32Backend::OnNotify(int window, const NMHDR& hdr) {
  const UnitLayout* u = LayoutOfControl(window, static_cast<int>(hdr.idFrom));
  if (u == nullptr || u->kind != UnitKind::ListView) return;
  const int listId = u->id;
  if (hdr.code == LVN_KEYDOWN) {
    // The space key toggles the focused row's check box, as a click on it does: the user's
    // toggle, reported the same way once the list has changed the box.
    if (reinterpret_cast<const NMLVKEYDOWN&>(hdr).wVKey != VK_SPACE) return;
    const LRESULT row = SendMessageW(hdr.hwndFrom, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                     MAKELPARAM(LVNI_FOCUSED, 0));
    if (row < 0) return;
    if (WinRec* rec = FindWin(window)) {
      PostMessageW(rec->hwnd, kMsgListChecked, static_cast<WPARAM>(listId), row);
    }
    return;
  }
  if (hdr.code != NM_CLICK && hdr.code != NM_RCLICK && hdr.code != NM_DBLCLK) return;
  // A click on a row's check box: the list toggles the box itself; the event follows from a
  // posted message so that it reports the state after the toggle. With full-row selection a
  // click anywhere else in the row hits as LVHT_ONITEM, which carries the state-icon bit too:
  // only the state icon alone is the check box.
  LVHITTESTINFO hit{};
  hit.pt = reinterpret_cast<const NMITEMACTIVATE&>(hdr).ptAction;
  const LRESULT row = SendMessageW(hdr.hwndFrom, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  if (row >= 0 && (hit.flags & LVHT_ONITEM) == LVHT_ONITEMSTATEICON) {
    if (WinRec* rec = FindWin(window)) {
      PostMessageW(rec->hwnd, kMsgListChecked, static_cast<WPARAM>(listId), row);
    }
  }
  if (hdr.code == NM_RCLICK) sink_->Raise({window, listId}, event::kListRightClick, {});
}

LRESULT Win32Backend::OnControlColour(int window, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* control = reinterpret_cast<HWND>(lp);  // NOLINT(*-int-to-ptr)
  auto* dc = reinterpret_cast<HDC>(wp);        // NOLINT(*-int-to-ptr)
  const UnitLayout* u = LayoutOfControl(window, GetDlgCtrlID(control));
  // The window is white; labels, boxes and buttons draw on it without a background of their
  // own colour.
  if (u != nullptr) {
    switch (u->kind) {
      case UnitKind::Label:
      case UnitKind::TransparentLabel:
        SetTextColor(dc, RGB(0, 0, 0));
        [[fallthrough]];
      case UnitKind::GroupBox:
      case UnitKind::CheckBox:
      case UnitKind::Radio:
      case UnitKind::Button:
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
      default:
        break;
    }
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void Win32Backend::OnTrayMessage(int window, LPARAM lp) {
  int action = 0;
  switch (LOWORD(lp)) {
    case WM_LBUTTONUP:
      action = 1;
      break;
    case WM_LBUTTONDBLCLK:
      action = 2;
      break;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
      action = 3;
      break;
    default:
      return;
  }
  sink_->Raise({window, window}, event::kTray, {Value::Int(action)});
}

LRESULT CALLBACK Win32Backend::GroupBoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                            DWORD_PTR /*data*/) {
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      // The units inside report to their parent, this box; the window handles them.
      return SendMessageW(GetAncestor(hwnd, GA_ROOT), msg, wp, lp);
    case WM_ERASEBKGND: {
      // A group box erases nothing itself, and the window clips its children out of its own
      // background.
      RECT r{};
      GetClientRect(hwnd, &r);
      auto* dc = reinterpret_cast<HDC>(wp);  // NOLINT(*-int-to-ptr)
      FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      return 1;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, &Win32Backend::GroupBoxProc, id);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Win32Backend::EditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                        DWORD_PTR data) {
  switch (msg) {
    case WM_CHAR:
      if (!DigitFieldAccepts(static_cast<wchar_t>(wp))) return 0;
      break;
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_COMPOSITION:
    case WM_IME_ENDCOMPOSITION:
    case WM_IME_CHAR:
      return 0;  // no composed input in a digit field
    case WM_PASTE:
      PasteDigits(hwnd);
      return 0;
    case WM_KILLFOCUS:
      if (static_cast<EditRule>(data) == EditRule::WholeNumber) {
        const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
        const std::wstring text = WindowText(hwnd);
        const std::wstring number = WholeNumberText(text);
        if (number != text) SetWindowTextW(hwnd, number.c_str());
        return r;
      }
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, &Win32Backend::EditProc, id);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Win32Backend::TransparentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      // Only the caption is drawn (the tool's transparent labels have none), so the controls
      // beneath show through.
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      const std::wstring text = WindowText(hwnd);
      if (!text.empty()) {
        RECT r{};
        GetClientRect(hwnd, &r);
        SetBkMode(dc, TRANSPARENT);
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        DrawTextW(dc, text.c_str(), -1, &r, DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SelectObject(dc, old);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace tw
