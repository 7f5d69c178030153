// The Win32 backend's window commands: message box, pop-up menus, the combo box's item
// commands, the report list view's row and cell commands, and the notification-area icon.
#include "platform/win32/backend_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cwchar>

namespace tw {
namespace {

NotifyIconCall g_notifyIcon = nullptr;

BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data) {
  return g_notifyIcon != nullptr ? g_notifyIcon(message, data) : Shell_NotifyIconW(message, data);
}

}  // namespace

NotifyIconCall SetNotifyIconCall(NotifyIconCall call) {
  const NotifyIconCall before = g_notifyIcon;
  g_notifyIcon = call;
  return before;
}

int Win32Backend::MsgBox(const Text& text, int style, const Text& title,
                         std::optional<int> ownerWindow) {
  HWND owner = nullptr;
  if (ownerWindow) {
    if (WinRec* rec = FindWin(*ownerWindow)) owner = rec->hwnd;
  }
  ResumeLists();
  return MessageBoxW(owner, Wide(text).c_str(), Wide(title).c_str(), static_cast<UINT>(style));
}

void Win32Backend::QuietList(HWND list) {
  if (IsQuiet(list) || !IsWindowVisible(list)) return;
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  quietLists_.push_back(list);
}

void Win32Backend::ResumeLists() {
  for (HWND list : quietLists_) {
    if (!IsWindow(list)) continue;  // destroyed meanwhile
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
  }
  quietLists_.clear();
}

bool Win32Backend::IsQuiet(HWND list) const {
  return std::find(quietLists_.begin(), quietLists_.end(), list) != quietLists_.end();
}

void Win32Backend::PopupMenu(int window, const std::vector<PopupItem>& items, std::optional<int> x,
                             std::optional<int> y, bool tray) {
  WinRec* rec = FindWin(window);
  if (rec == nullptr) return;
  HWND hwnd = rec->hwnd;  // the record may be gone once the menu's own loop has run
  ResumeLists();
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  for (const PopupItem& item : items) {
    if (item.caption == "-") {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING;
    if (item.disabled) flags |= MF_GRAYED;
    if (item.checked) flags |= MF_CHECKED;
    AppendMenuW(menu, flags, static_cast<UINT_PTR>(item.command), Wide(item.caption).c_str());
  }
  POINT cursor{};
  GetCursorPos(&cursor);
  if (tray) {
    // The foreground window and the null message afterwards make the menu close when the
    // user clicks elsewhere.
    SetForegroundWindow(hwnd);
    TrackPopupMenu(menu, TPM_RIGHTALIGN, cursor.x - 5, cursor.y - 5, 0, hwnd, nullptr);
    PostMessageW(hwnd, WM_NULL, 0, 0);
  } else {
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, x.value_or(cursor.x + 3),
                   y.value_or(cursor.y + 3), 0, hwnd, nullptr);
  }
  DestroyMenu(menu);
}

Text Win32Backend::ComboItemText(UnitRef combo, int index) {
  HWND h = UnitHwnd(combo, UnitKind::Combo);
  if (h == nullptr) return {};
  const LRESULT length = SendMessageW(h, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length < 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = SendMessageW(h, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                      reinterpret_cast<LPARAM>(text.data()));
  if (copied == CB_ERR || copied < 0) return {};
  text.resize(std::min<std::size_t>(static_cast<std::size_t>(copied), text.size()));
  return Narrow(text);
}

int Win32Backend::ComboAddItem(UnitRef combo, const Text& text, std::int64_t data) {
  HWND h = UnitHwnd(combo, UnitKind::Combo);
  if (h == nullptr) return -1;
  const std::wstring wide = Wide(text);
  const LRESULT index = SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  if (index < 0) return -1;
  SendMessageW(h, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
  return static_cast<int>(index);
}

void Win32Backend::ComboClear(UnitRef combo) {
  if (HWND h = UnitHwnd(combo, UnitKind::Combo)) SendMessageW(h, CB_RESETCONTENT, 0, 0);
}

int Win32Backend::ComboSelectText(UnitRef combo, const Text& prefix) {
  HWND h = UnitHwnd(combo, UnitKind::Combo);
  if (h == nullptr) return -1;
  // From the first item on, the first whose text begins with `prefix`, letter case aside.
  const std::wstring wide = Wide(prefix);
  const LRESULT index = SendMessageW(h, CB_FINDSTRING, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(wide.c_str()));
  if (index < 0) return -1;
  SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  return static_cast<int>(index);
}

int Win32Backend::ListRowCount(UnitRef list) {
  HWND h = UnitHwnd(list, UnitKind::ListView);
  return h == nullptr ? 0 : static_cast<int>(SendMessageW(h, LVM_GETITEMCOUNT, 0, 0));
}

Text Win32Backend::ListCellText(UnitRef list, int row, int column) {
  HWND h = UnitHwnd(list, UnitKind::ListView);
  if (h == nullptr || row < 0 || row >= ListRowCount(list) || column < 0) return {};
  // The list copies at most the buffer's size less one; a full buffer may mean a longer text.
  std::wstring buffer;
  for (std::size_t size = 256;; size *= 2) {
    buffer.assign(size, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(size);
    const LRESULT copied = SendMessageW(h, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                        reinterpret_cast<LPARAM>(&item));
    const std::size_t length = wcsnlen(item.pszText, size);
    if (copied + 1 < static_cast<LRESULT>(size) || size >= (std::size_t{1} << 26)) {
      return Narrow(std::wstring_view(item.pszText, length));
    }
  }
}

void Win32Backend::ListSetCellText(UnitRef list, int row, int column, const Text& text) {
  HWND h = UnitHwnd(list, UnitKind::ListView);
  if (h == nullptr || row < 0 || row >= ListRowCount(list) || column < 0) return;
  QuietList(h);
  std::wstring wide = Wide(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  SendMessageW(h, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int Win32Backend::ListCheckState(UnitRef list, int row) {
  HWND h = UnitHwnd(list, UnitKind::ListView);
  if (h == nullptr || row < 0 || row >= ListRowCount(list)) return -1;
  const LRESULT state =
      SendMessageW(h, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK);
  return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12) - 1;
}

void Win32Backend::ListSetCheckState(UnitRef list, int row, int stateImage) {
  HWND h = UnitHwnd(list, UnitKind::ListView);
  if (h == nullptr || row < 0 || row >= ListRowCount(list)) return;
  QuietList(h);
  // The state image index has four bits.
  LVITEMW item{};
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(std::clamp(stateImage, 0, 15));
  SendMessageW(h, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int Win32Backend::ListInsertRow(UnitRef list, const ListInsert& row) {
  HWND h = UnitHwnd(list, UnitKind::ListView);
  if (h == nullptr) return -1;
  QuietList(h);
  const int count = ListRowCount(list);
  std::wstring text = Wide(row.text);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = row.position && *row.position >= 0 ? std::min(*row.position, count) : count;
  item.pszText = text.data();
  if (row.image && *row.image >= 0) {
    item.mask |= LVIF_IMAGE;
    item.iImage = *row.image;
  }
  if (row.indent) {
    item.mask |= LVIF_INDENT;
    item.iIndent = std::max(0, *row.indent);
  }
  if (row.data) {
    item.mask |= LVIF_PARAM;
    item.lParam = static_cast<LPARAM>(*row.data);
  }
  const LRESULT index = SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  if (index < 0) return -1;
  if (row.checkState) {
    ListSetCheckState(list, static_cast<int>(index), std::max(*row.checkState, -1) + 1);
  }
  return static_cast<int>(index);
}

void Win32Backend::ListDeleteAll(UnitRef list) {
  if (HWND h = UnitHwnd(list, UnitKind::ListView)) {
    QuietList(h);
    SendMessageW(h, LVM_DELETEALLITEMS, 0, 0);
  }
}

void Win32Backend::SetTrayIcon(int window, const Bytes& icon, const Text& tooltip) {
  WinRec* rec = FindWin(window);
  if (rec == nullptr) return;
  // Bytes that make no icon count as no icon: the existing one goes.
  HICON fresh = icon.empty() ? nullptr : IconFromBytes(icon, GetSystemMetrics(SM_CXSMICON));
  HICON previous = rec->trayIcon;
  rec->trayTip = Wide(tooltip);
  rec->trayIcon = fresh;
  if (fresh != nullptr) {
    ShowTray(*rec);
  } else {
    RemoveTray(*rec);
  }
  if (previous != nullptr) DestroyIcon(previous);
}

void Win32Backend::ShowTray(WinRec& rec) {
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = rec.hwnd;
  nid.uID = kTrayIconId;
  nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  nid.uCallbackMessage = kMsgTray;
  nid.hIcon = rec.trayIcon;
  wcsncpy(nid.szTip, rec.trayTip.c_str(), std::size(nid.szTip) - 1);
  if (rec.trayShown && NotifyIcon(NIM_MODIFY, &nid)) return;
  rec.trayShown = NotifyIcon(NIM_ADD, &nid) != FALSE;
}

void Win32Backend::RemoveTray(WinRec& rec) {
  if (!rec.trayShown) return;
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = rec.hwnd;
  nid.uID = kTrayIconId;
  NotifyIcon(NIM_DELETE, &nid);
  rec.trayShown = false;
}

void Win32Backend::TrayBalloon(int window, const Text& title, const Text& text, int icon) {
  WinRec* rec = FindWin(window);
  if (rec == nullptr || !rec->trayShown) return;
  NOTIFYICONDATAW nid{};
  nid.cbSize = sizeof(nid);
  nid.hWnd = rec->hwnd;
  nid.uID = kTrayIconId;
  nid.uFlags = NIF_INFO;
  wcsncpy(nid.szInfoTitle, Wide(title).c_str(), std::size(nid.szInfoTitle) - 1);
  wcsncpy(nid.szInfo, Wide(text).c_str(), std::size(nid.szInfo) - 1);
  const DWORD icons[] = {NIIF_NONE, NIIF_INFO, NIIF_WARNING, NIIF_ERROR};
  nid.dwInfoFlags = icon >= 0 && icon <= 3 ? icons[icon] : NIIF_NONE;
  NotifyIcon(NIM_MODIFY, &nid);
}

}  // namespace tw
