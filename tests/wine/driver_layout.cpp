// Layout checks of the smoke-test driver: the main window's frame, and every control's class,
// style, parent, position, size, caption, visible and disabled state, stacking order, combo
// items and list columns against the layout data compiled into the driver.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "platform/win32/backend_win32.h"
#include "tests/wine/driver.h"
#include "ui/layout.h"

namespace twdrv {
namespace {

using tw::UnitKind;
using tw::UnitLayout;

const tw::WindowLayout& Main() {
  return tw::MainWindowLayout();
}

LONG Style(HWND h) {
  return GetWindowLongW(h, GWL_STYLE);
}

const wchar_t* ExpectedClass(UnitKind kind) {
  switch (kind) {
    case UnitKind::Edit:
      return L"Edit";
    case UnitKind::GroupBox:
    case UnitKind::Button:
    case UnitKind::CheckBox:
    case UnitKind::Radio:
      return L"Button";
    case UnitKind::Label:
      return L"Static";
    case UnitKind::Combo:
      return L"ComboBox";
    case UnitKind::Progress:
      return L"msctls_progress32";
    case UnitKind::ListView:
      return L"SysListView32";
    case UnitKind::TransparentLabel:
      return tw::kTransparentClass;
    default:
      return L"";
  }
}

LONG ExpectedButtonType(UnitKind kind) {
  switch (kind) {
    case UnitKind::GroupBox:
      return BS_GROUPBOX;
    case UnitKind::Button:
      return BS_PUSHBUTTON;
    case UnitKind::CheckBox:
      return BS_AUTOCHECKBOX;
    case UnitKind::Radio:
      return BS_AUTORADIOBUTTON;
    default:
      return -1;
  }
}

bool HasCaption(UnitKind kind) {
  return kind == UnitKind::GroupBox || kind == UnitKind::Button || kind == UnitKind::CheckBox ||
         kind == UnitKind::Radio || kind == UnitKind::Label || kind == UnitKind::TransparentLabel;
}

void CheckKindDetails(const UnitLayout& u, HWND h) {
  const std::string name = NameOf(u.id);
  const LONG style = Style(h);
  switch (u.kind) {
    case UnitKind::Edit: {
      const LONG align = style & (ES_CENTER | ES_RIGHT);
      const LONG want = u.align == tw::Align::Center  ? ES_CENTER
                        : u.align == tw::Align::Right ? ES_RIGHT
                                                      : 0;
      if (align != want)
        Fail("%s: edit alignment style %ld, expected %ld", name.c_str(), align, want);
      const bool password = u.editRule == tw::EditRule::Password;
      if (((style & ES_PASSWORD) != 0) != password)
        Fail("%s: password style is wrong", name.c_str());
      if (password && SendMessageW(h, EM_GETPASSWORDCHAR, 0, 0) != L'*') {
        Fail("%s: the password character is not '*'", name.c_str());
      }
      if (u.maxChars > 0 && SendMessageW(h, EM_GETLIMITTEXT, 0, 0) != u.maxChars) {
        Fail("%s: text limit %ld, expected %d", name.c_str(),
             static_cast<long>(SendMessageW(h, EM_GETLIMITTEXT, 0, 0)), u.maxChars);
      }
      if (!TextOf(h).empty()) Fail("%s: not empty at start", name.c_str());
      break;
    }
    case UnitKind::Label: {
      const LONG type = style & SS_TYPEMASK;
      const LONG want = u.align == tw::Align::Center  ? SS_CENTER
                        : u.align == tw::Align::Right ? SS_RIGHT
                                                      : SS_LEFT;
      if (type != want) Fail("%s: label alignment %ld, expected %ld", name.c_str(), type, want);
      if ((style & SS_CENTERIMAGE) == 0)
        Fail("%s: label text is not vertically centred", name.c_str());
      break;
    }
    case UnitKind::CheckBox:
    case UnitKind::Radio:
      if (SendMessageW(h, BM_GETCHECK, 0, 0) != BST_UNCHECKED)
        Fail("%s: checked at start", name.c_str());
      break;
    case UnitKind::Combo: {
      const LONG type = style & 3;
      const LONG want = u.comboEditable ? CBS_DROPDOWN : CBS_DROPDOWNLIST;
      if (type != want) Fail("%s: combo type %ld, expected %ld", name.c_str(), type, want);
      if (SendMessageW(h, CB_GETCURSEL, 0, 0) != CB_ERR)
        Fail("%s: has a selection at start", name.c_str());
      const LRESULT count = SendMessageW(h, CB_GETCOUNT, 0, 0);
      if (count != static_cast<LRESULT>(u.items.size())) {
        Fail("%s: %ld items, expected %zu", name.c_str(), static_cast<long>(count), u.items.size());
        break;
      }
      for (std::size_t i = 0; i < u.items.size(); ++i) {
        wchar_t buffer[256] = {};
        SendMessageW(h, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
        if (buffer != tw::Wide(u.items[i])) {
          Fail("%s: item %zu is \"%s\", expected \"%s\"", name.c_str(), i, Utf8(buffer).c_str(),
               Utf8(tw::Wide(u.items[i])).c_str());
        }
      }
      break;
    }
    case UnitKind::Progress: {
      const LRESULT low = SendMessageW(h, PBM_GETRANGE, TRUE, 0);
      const LRESULT high = SendMessageW(h, PBM_GETRANGE, FALSE, 0);
      const LRESULT pos = SendMessageW(h, PBM_GETPOS, 0, 0);
      if (low != 0 || high != 100 || pos != 0) {
        Fail("%s: range %ld..%ld position %ld, expected 0..100 position 0", name.c_str(),
             static_cast<long>(low), static_cast<long>(high), static_cast<long>(pos));
      }
      break;
    }
    case UnitKind::ListView: {
      if ((style & LVS_TYPEMASK) != LVS_REPORT) Fail("%s: not a report view", name.c_str());
      if ((style & LVS_SINGLESEL) == 0) Fail("%s: allows several selected rows", name.c_str());
      const LRESULT ex = SendMessageW(h, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
      const LRESULT want = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES;
      if ((ex & want) != want)
        Fail("%s: extended style %#lx lacks %#lx", name.c_str(), static_cast<long>(ex),
             static_cast<long>(want));
      if ((ex & LVS_EX_HEADERDRAGDROP) != 0) Fail("%s: columns can be dragged", name.c_str());
      if (SendMessageW(h, LVM_GETITEMCOUNT, 0, 0) != 0) Fail("%s: has rows at start", name.c_str());
      break;
    }
    case UnitKind::TransparentLabel:
      if ((GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_TRANSPARENT) == 0) {
        Fail("%s: not transparent", name.c_str());
      }
      break;
    default:
      break;
  }
}

void CheckUnit(const Session& s, const UnitLayout& u) {
  const std::string name = NameOf(u.id);
  const auto found = s.units.find(u.id);
  if (found == s.units.end()) {
    Fail("%s: no control with id %d", name.c_str(), u.id);
    return;
  }
  HWND h = found->second;
  HWND wantParent = s.main;
  if (u.container != 0) {
    const auto box = s.units.find(u.container);
    wantParent = box == s.units.end() ? nullptr : box->second;
  }
  if (GetParent(h) != wantParent) Fail("%s: wrong parent window", name.c_str());
  const std::wstring cls = ClassOf(h);
  if (lstrcmpiW(cls.c_str(), ExpectedClass(u.kind)) != 0) {
    Fail("%s: class %s, expected %s", name.c_str(), Utf8(cls).c_str(),
         Utf8(ExpectedClass(u.kind)).c_str());
  }
  if (const LONG type = ExpectedButtonType(u.kind); type >= 0 && (Style(h) & BS_TYPEMASK) != type) {
    Fail("%s: button type %ld, expected %ld", name.c_str(), Style(h) & BS_TYPEMASK, type);
  }
  const RECT r = RectInParent(h);
  if (r.left != u.left || r.top != u.top || r.right - r.left != u.width ||
      r.bottom - r.top != u.height) {
    Fail("%s: at %ld,%ld size %ldx%ld, expected %d,%d size %dx%d", name.c_str(), r.left, r.top,
         r.right - r.left, r.bottom - r.top, u.left, u.top, u.width, u.height);
  }
  if (((Style(h) & WS_VISIBLE) != 0) != u.Visible()) {
    Fail("%s: visible is %d, expected %d", name.c_str(), (Style(h) & WS_VISIBLE) != 0, u.Visible());
  }
  if (((Style(h) & WS_DISABLED) != 0) != u.Disabled()) {
    Fail("%s: disabled is %d, expected %d", name.c_str(), (Style(h) & WS_DISABLED) != 0,
         u.Disabled());
  }
  const bool tab = (u.flags & tw::kFlagTabStop) != 0;
  if (((Style(h) & WS_TABSTOP) != 0) != tab) Fail("%s: Tab stop is wrong", name.c_str());
  if (HasCaption(u.kind) && TextOf(h) != tw::Wide(u.caption)) {
    Fail("%s: caption \"%s\", expected \"%s\"", name.c_str(), Utf8(TextOf(h)).c_str(),
         Utf8(tw::Wide(u.caption)).c_str());
  }
  CheckKindDetails(u, h);
}

// The ids of `parent`'s children in stacking order, top first, limited to the tool's units.
std::vector<int> StackOf(const Session& s, HWND parent) {
  std::vector<int> order;
  for (HWND h = GetWindow(parent, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(h);
    const auto it = s.units.find(id);
    if (it != s.units.end() && it->second == h) order.push_back(id);
  }
  return order;
}

void CompareStack(const char* where, const std::vector<int>& got, const std::vector<int>& want) {
  if (got == want) return;
  std::string a, b;
  for (int id : got) a += NameOf(id) + " ";
  for (int id : want) b += NameOf(id) + " ";
  Fail("stacking in %s is [%s], expected [%s]", where, a.c_str(), b.c_str());
}

}  // namespace

void CheckWindowFrame(const Session& s) {
  const tw::UnitLayout& w = Main().Window();
  if (TextOf(s.main) != tw::Wide(w.caption)) {
    Fail("main window caption \"%s\", expected \"%s\"", Utf8(TextOf(s.main)).c_str(),
         Utf8(tw::Wide(w.caption)).c_str());
  }
  RECT r{};
  GetWindowRect(s.main, &r);
  if (r.right - r.left != w.width || r.bottom - r.top != w.height) {
    Fail("main window size %ldx%ld, expected %dx%d", r.right - r.left, r.bottom - r.top, w.width,
         w.height);
  }
  RECT wa{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &wa, 0);
  const long cx = wa.left + (wa.right - wa.left - w.width) / 2;
  const long cy = wa.top + (wa.bottom - wa.top - w.height) / 2;
  if (std::abs(r.left - cx) > 1 || std::abs(r.top - cy) > 1) {
    Fail("main window at %ld,%ld, not centred at %ld,%ld", r.left, r.top, cx, cy);
  }
  const LONG style = Style(s.main);
  if ((style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX)) !=
      (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX)) {
    Fail("main window lacks caption, system menu or minimise box (style %#lx)", style);
  }
  if ((style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) != 0)
    Fail("main window can be maximised or resized");
  if ((GetWindowLongW(s.main, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0) Fail("main window is topmost");
  if (GetWindow(s.main, GW_OWNER) != nullptr) Fail("main window is owned (no taskbar button)");
  Note("window frame checked");
}

void CheckUnits(const Session& s) {
  int checked = 0;
  for (const UnitLayout& u : Main().units) {
    if (u.id == Main().id || !tw::HasNativeWindow(u.kind)) continue;
    CheckUnit(s, u);
    ++checked;
  }
  Note("%d controls checked", checked);
}

void CheckStacking(const Session& s) {
  CompareStack("the window", StackOf(s, s.main), Main().TopLevelOrder());
  for (const UnitLayout& box : Main().units) {
    if (box.kind != UnitKind::GroupBox) continue;
    const auto it = s.units.find(box.id);
    if (it == s.units.end()) continue;
    std::vector<int> want;
    for (const UnitLayout& u : Main().units) {
      if (u.container == box.id && tw::HasNativeWindow(u.kind)) want.push_back(u.id);
    }
    CompareStack(NameOf(box.id).c_str(), StackOf(s, it->second), want);
  }
  Note("stacking order checked");
}

void CheckListColumns(const Session& s) {
  const UnitLayout* list = Main().Find(tw::ids::超级列表框1);
  const auto it = s.units.find(tw::ids::超级列表框1);
  if (list == nullptr || it == s.units.end()) return;
  HWND h = it->second;
  HWND header =
      reinterpret_cast<HWND>(SendMessageW(h, LVM_GETHEADER, 0, 0));  // NOLINT(*-int-to-ptr)
  const LRESULT count = header == nullptr ? -1 : SendMessageW(header, HDM_GETITEMCOUNT, 0, 0);
  if (count != static_cast<LRESULT>(list->columns.size())) {
    Fail("list has %ld columns, expected %zu", static_cast<long>(count), list->columns.size());
    return;
  }
  // Column titles live in the tool's memory: the request and its text buffer go there too.
  constexpr std::size_t kChars = 128;
  void* remote = VirtualAllocEx(s.process, nullptr, sizeof(LVCOLUMNW) + kChars * sizeof(wchar_t),
                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  for (std::size_t i = 0; i < list->columns.size(); ++i) {
    const tw::ColumnLayout& c = list->columns[i];
    const LRESULT width = SendMessageW(h, LVM_GETCOLUMNWIDTH, i, 0);
    if (width != c.width)
      Fail("list column %zu is %ld wide, expected %d", i, static_cast<long>(width), c.width);
    if (remote == nullptr) continue;
    auto* text = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + sizeof(LVCOLUMNW));
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_FMT;
    col.pszText = text;
    col.cchTextMax = kChars;
    wchar_t title[kChars] = {};
    SIZE_T moved = 0;
    WriteProcessMemory(s.process, remote, &col, sizeof(col), &moved);
    WriteProcessMemory(s.process, text, title, sizeof(title), &moved);
    SendMessageW(h, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(remote));
    ReadProcessMemory(s.process, remote, &col, sizeof(col), &moved);
    ReadProcessMemory(s.process, text, title, sizeof(title) - sizeof(wchar_t), &moved);
    if (title != tw::Wide(c.title)) {
      Fail("list column %zu is titled \"%s\", expected \"%s\"", i, Utf8(title).c_str(),
           Utf8(tw::Wide(c.title)).c_str());
    }
    if ((col.fmt & LVCFMT_JUSTIFYMASK) != LVCFMT_LEFT)
      Fail("list column %zu is not left-aligned", i);
  }
  if (remote != nullptr) VirtualFreeEx(s.process, remote, 0, MEM_RELEASE);
  Note("list columns checked");
}

}  // namespace twdrv
