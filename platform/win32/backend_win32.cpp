// The Win32 backend, building side: window classes, top-level windows placed and framed as their
// layout says, every control created from its unit record (group boxes as parents of their
// units, stacked in stored order), and tearing a window down again.
#include "platform/win32/backend_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

namespace tw {
namespace {

HINSTANCE Instance() {
  return GetModuleHandleW(nullptr);
}

DWORD AlignStyle(UnitKind kind, Align align) {
  if (kind == UnitKind::Edit) {
    return align == Align::Center ? ES_CENTER : (align == Align::Right ? ES_RIGHT : ES_LEFT);
  }
  return align == Align::Center ? SS_CENTER : (align == Align::Right ? SS_RIGHT : SS_LEFT);
}

void InsertColumns(HWND list, const std::vector<ColumnLayout>& columns) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    std::wstring title = Wide(columns[i].title);
    LVCOLUMNW col{};
    col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    col.fmt = LVCFMT_LEFT;
    col.cx = columns[i].width;
    col.pszText = title.data();
    col.iSubItem = static_cast<int>(i);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
  }
}

}  // namespace

Win32Backend* Win32Backend::instance_ = nullptr;

POINT CentredOrigin(int width, int height) {
  RECT wa{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &wa, 0)) {
    wa = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return {std::max<LONG>(wa.left, wa.left + (wa.right - wa.left - width) / 2),
          std::max<LONG>(wa.top, wa.top + (wa.bottom - wa.top - height) / 2)};
}

HICON IconFromBytes(const Bytes& bytes, int size) {
  // Icon file: a 6-byte header (0, type 1, count) and 16-byte directory entries, each giving
  // the width (0 = 256), the bit count, the image's byte count and its offset in the file.
  auto u16 = [&](std::size_t at) {
    return static_cast<unsigned>(bytes[at] | (bytes[at + 1] << 8));
  };
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(u16(at)) | (static_cast<std::uint32_t>(u16(at + 2)) << 16);
  };
  if (bytes.size() < 6 || u16(0) != 0 || u16(2) != 1) return nullptr;
  const std::size_t count = u16(4);
  if (bytes.size() < 6 + count * 16) return nullptr;
  std::size_t best = count;
  int bestScore = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t e = 6 + i * 16;
    const int width = bytes[e] == 0 ? 256 : bytes[e];
    const std::uint32_t length = u32(e + 8);
    const std::uint32_t offset = u32(e + 12);
    if (length == 0 || offset > bytes.size() || length > bytes.size() - offset) continue;
    // Prefer the nearest size at or above the wanted one, then more colours.
    const int distance = width >= size ? width - size : 1000 + size - width;
    const int score = 100000 - distance * 100 + static_cast<int>(u16(e + 6));
    if (best == count || score > bestScore) {
      best = i;
      bestScore = score;
    }
  }
  if (best == count) return nullptr;
  const std::size_t e = 6 + best * 16;
  // The resource API takes a non-const pointer but does not write through it.
  auto* image = const_cast<BYTE*>(bytes.data() + u32(e + 12));
  return CreateIconFromResourceEx(image, u32(e + 8), TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR);
}

Win32Backend::Win32Backend() {
  instance_ = this;
  RegisterClasses();
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  defaultFont_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

Win32Backend::~Win32Backend() {
  while (!windows_.empty()) DestroyWindow(windows_.begin()->first);
  if (instance_ == this) instance_ = nullptr;
}

void Win32Backend::RegisterClasses() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &Win32Backend::WindowProc;
  wc.hInstance = Instance();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);  // a second backend finds the class already there, which is fine

  // Transparent labels erase nothing, so whatever lies beneath them stays visible.
  wc.lpfnWndProc = &Win32Backend::TransparentProc;
  wc.hbrBackground = nullptr;
  wc.lpszClassName = kTransparentClass;
  RegisterClassExW(&wc);
}

Win32Backend::WinRec* Win32Backend::FindWin(int window) {
  auto it = windows_.find(window);
  return it == windows_.end() || it->second.destroying ? nullptr : &it->second;
}

Win32Backend::UnitWin* Win32Backend::FindUnit(UnitRef unit) {
  WinRec* rec = FindWin(unit.window);
  if (rec == nullptr) return nullptr;
  auto it = rec->units.find(unit.unit);
  return it == rec->units.end() || it->second.hwnd == nullptr ? nullptr : &it->second;
}

HWND Win32Backend::UnitHwnd(UnitRef unit, UnitKind kind) {
  UnitWin* u = FindUnit(unit);
  return u != nullptr && u->layout->kind == kind ? u->hwnd : nullptr;
}

const UnitLayout* Win32Backend::LayoutOfControl(int window, int controlId) {
  UnitWin* u = FindUnit({window, controlId});
  return u == nullptr ? nullptr : u->layout;
}

bool Win32Backend::BuildWindow(const WindowLayout& layout) {
  if (windows_.count(layout.id) != 0) return false;
  WinRec& rec = windows_[layout.id];
  rec.layout = &layout;
  const UnitLayout& w = layout.Window();

  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  if (layout.minimizeBox) style |= WS_MINIMIZEBOX;
  const DWORD exStyle = layout.topmost ? WS_EX_TOPMOST : 0;
  if (!layout.taskbarButton) {
    // An owned window gets no taskbar button; the owner itself is never shown.
    rec.owner = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                Instance(), nullptr);
  }
  const POINT at = layout.centred ? CentredOrigin(w.width, w.height) : POINT{w.left, w.top};
  const std::wstring caption = Wide(w.caption);
  // The window id rides in the creation parameter.
  auto* id = reinterpret_cast<LPVOID>(static_cast<INT_PTR>(layout.id));  // NOLINT(*-int-to-ptr)
  rec.hwnd = CreateWindowExW(exStyle, kWindowClass, caption.c_str(), style, at.x, at.y, w.width,
                             w.height, rec.owner, nullptr, Instance(), id);
  if (rec.hwnd == nullptr) {
    DestroyWindow(layout.id);
    return false;
  }
  if (layout.hasIcon) {
    rec.iconBig = IconFromBytes(TidewellIcon(), GetSystemMetrics(SM_CXICON));
    rec.iconSmall = IconFromBytes(TidewellIcon(), GetSystemMetrics(SM_CXSMICON));
    if (rec.iconBig)
      SendMessageW(rec.hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(rec.iconBig));
    if (rec.iconSmall) {
      SendMessageW(rec.hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(rec.iconSmall));
    }
  }

  for (const UnitLayout& u : layout.units) {
    if (&u != &w) rec.units[u.id].layout = &u;
  }
  // Containers first: a unit is created once the group box that holds it exists.
  bool progress = true;
  while (progress) {
    progress = false;
    for (auto& [id, unit] : rec.units) {
      if (unit.hwnd != nullptr || !HasNativeWindow(unit.layout->kind)) continue;
      HWND parent = rec.hwnd;
      if (unit.layout->container != 0) {
        UnitWin* box = FindUnit({layout.id, unit.layout->container});
        if (box == nullptr) continue;
        parent = box->hwnd;
      }
      if (!CreateUnit(unit, parent)) {
        DestroyWindow(layout.id);
        return false;
      }
      progress = true;
    }
  }
  StackInStoredOrder(rec);
  return true;
}

bool Win32Backend::CreateUnit(UnitWin& unit, HWND parent) {
  const UnitLayout& u = *unit.layout;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (u.Visible()) style |= WS_VISIBLE;
  if (u.Disabled()) style |= WS_DISABLED;
  if ((u.flags & kFlagTabStop) != 0) style |= WS_TABSTOP;
  DWORD exStyle = 0;
  const wchar_t* cls = L"STATIC";
  int height = u.height;
  switch (u.kind) {
    case UnitKind::Edit:
      cls = L"EDIT";
      style |= ES_AUTOHSCROLL | AlignStyle(u.kind, u.align);
      if (u.editRule == EditRule::Password) style |= ES_PASSWORD;
      exStyle |= WS_EX_CLIENTEDGE;
      break;
    case UnitKind::GroupBox:
      cls = L"BUTTON";
      style |= BS_GROUPBOX | WS_CLIPCHILDREN;
      exStyle |= WS_EX_CONTROLPARENT;  // Tab walks into the units inside
      break;
    case UnitKind::Label:
      style |= AlignStyle(u.kind, u.align) | SS_CENTERIMAGE | SS_NOPREFIX;
      break;
    case UnitKind::Button:
      cls = L"BUTTON";
      style |= BS_PUSHBUTTON;
      break;
    case UnitKind::CheckBox:
      cls = L"BUTTON";
      style |= BS_AUTOCHECKBOX;
      break;
    case UnitKind::Radio:
      cls = L"BUTTON";
      style |= BS_AUTORADIOBUTTON;
      break;
    case UnitKind::Combo:
      cls = L"COMBOBOX";
      style |= WS_VSCROLL | (u.comboEditable ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST);
      height = u.height + kComboDropHeight;
      break;
    case UnitKind::Progress:
      cls = PROGRESS_CLASSW;
      break;
    case UnitKind::ListView:
      cls = WC_LISTVIEWW;
      style |= LVS_REPORT | LVS_SINGLESEL;
      exStyle |= WS_EX_CLIENTEDGE;
      break;
    case UnitKind::TransparentLabel:
      cls = kTransparentClass;
      exStyle |= WS_EX_TRANSPARENT;
      break;
    default:
      return true;
  }
  const std::wstring caption = Wide(u.caption);
  // A child's control id is its unit id.
  auto* id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(u.id));  // NOLINT(*-int-to-ptr)
  unit.hwnd = CreateWindowExW(exStyle, cls, caption.c_str(), style, u.left, u.top, u.width, height,
                              parent, id, Instance(), nullptr);
  if (unit.hwnd == nullptr) return false;
  HWND h = unit.hwnd;

  HFONT font = defaultFont_;
  if (u.font) {
    const FontLayout& f = *u.font;
    unit.font = CreateFontW(f.height, 0, 0, 0, f.weight, f.italic, f.underline, FALSE,
                            static_cast<DWORD>(f.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"");
    if (unit.font != nullptr) font = unit.font;
  }
  SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

  switch (u.kind) {
    case UnitKind::Edit:
      if (u.editRule == EditRule::Password) SendMessageW(h, EM_SETPASSWORDCHAR, L'*', 0);
      if (u.maxChars > 0) SendMessageW(h, EM_LIMITTEXT, static_cast<WPARAM>(u.maxChars), 0);
      // The two-digit fields are 20 pixels wide: without the default margins both digits show.
      if (u.width <= 40)
        SendMessageW(h, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(0, 0));
      if (u.editRule == EditRule::Digits || u.editRule == EditRule::WholeNumber) {
        SetWindowSubclass(h, &Win32Backend::EditProc, 1, static_cast<DWORD_PTR>(u.editRule));
      }
      break;
    case UnitKind::GroupBox:
      SetWindowSubclass(h, &Win32Backend::GroupBoxProc, 1, 0);
      break;
    case UnitKind::Combo:
      for (const Text& item : u.items) {
        const std::wstring text = Wide(item);
        SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
      }
      SizeCombo(h, u.height);
      break;
    case UnitKind::Progress:
      SendMessageW(h, PBM_SETRANGE32, 0, 100);
      SendMessageW(h, PBM_SETPOS, 0, 0);
      break;
    case UnitKind::ListView:
      SendMessageW(h, LVM_SETEXTENDEDLISTVIEWSTYLE,
                   LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                   LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
      SendMessageW(h, LVM_SETBKCOLOR, 0, RGB(255, 255, 255));
      SendMessageW(h, LVM_SETTEXTBKCOLOR, 0, RGB(255, 255, 255));
      SendMessageW(h, LVM_SETTEXTCOLOR, 0, RGB(0, 0, 0));
      InsertColumns(h, u.columns);
      break;
    default:
      break;
  }
  return true;
}

void Win32Backend::SizeCombo(HWND combo, int fieldHeight) {
  // The window height beyond the selection field is the drop-down's; the list rounds it down to
  // whole items, so one item more keeps it at the minimum. The combo box then keeps its window
  // at the field's height.
  const LRESULT row = SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0);
  RECT r{};
  GetWindowRect(combo, &r);
  const int drop = kComboDropHeight + (row > 0 ? static_cast<int>(row) : 20);
  SetWindowPos(combo, nullptr, 0, 0, r.right - r.left, r.bottom - r.top + drop,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The field's height follows the item height, corrected by what the field is off. A resize
  // would put the field back to what the font asks for, so only the item height changes here.
  // The value read back need not be the value set (some combo boxes count their border in one
  // and not the other), so the correction builds on the value set.
  const LRESULT start = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
  if (start == CB_ERR || fieldHeight <= 0) return;
  int item = static_cast<int>(start);
  for (int round = 0; round < 3; ++round) {
    GetWindowRect(combo, &r);
    const int off = fieldHeight - (r.bottom - r.top);
    if (off == 0) break;
    item = std::max(1, item + off);
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item);
  }
}

void Win32Backend::StackInStoredOrder(const WinRec& rec) {
  // Sending each unit to the bottom in stored order leaves the first one on top.
  auto sink = [](HWND h) {
    if (h != nullptr) {
      SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  };
  for (int id : rec.layout->TopLevelOrder()) {
    if (auto it = rec.units.find(id); it != rec.units.end()) sink(it->second.hwnd);
  }
  for (const UnitLayout& box : rec.layout->units) {
    if (box.kind != UnitKind::GroupBox) continue;
    for (const UnitLayout& u : rec.layout->units) {
      if (u.container != box.id) continue;
      if (auto it = rec.units.find(u.id); it != rec.units.end()) sink(it->second.hwnd);
    }
  }
}

void Win32Backend::DestroyWindow(int window) {
  auto it = windows_.find(window);
  if (it == windows_.end() || it->second.destroying) return;
  WinRec& rec = it->second;
  rec.destroying = true;  // the window procedure raises nothing from here on
  if (rec.hwnd != nullptr) {
    for (auto& [id, unit] : rec.units) {
      if (unit.layout->kind == UnitKind::Timer) KillTimer(rec.hwnd, static_cast<UINT_PTR>(id));
    }
    RemoveTray(rec);
    ::DestroyWindow(rec.hwnd);
  }
  if (rec.owner != nullptr) ::DestroyWindow(rec.owner);
  for (auto& [id, unit] : rec.units) {
    if (unit.font != nullptr) DeleteObject(unit.font);
  }
  if (rec.trayIcon != nullptr) DestroyIcon(rec.trayIcon);
  if (rec.iconBig != nullptr) DestroyIcon(rec.iconBig);
  if (rec.iconSmall != nullptr) DestroyIcon(rec.iconSmall);
  windows_.erase(window);
}

void Win32Backend::BringToFront(int window) {
  WinRec* rec = FindWin(window);
  if (rec == nullptr) return;
  if (IsIconic(rec->hwnd)) ShowWindow(rec->hwnd, SW_RESTORE);
  SetForegroundWindow(rec->hwnd);
  BringWindowToTop(rec->hwnd);
}

void Win32Backend::PostDestroy(int window) {
  if (WinRec* rec = FindWin(window)) PostMessageW(rec->hwnd, kMsgDestroyPosted, 0, 0);
}

}  // namespace tw
