// The driver's hands: starting tidewell.exe in a job, and everything an operator does to it from
// outside through real window messages — typing, clicking, the combo's keyboard, the list's
// mouse and keys, message boxes, pop-up menus (picked by keyboard on the open menu) and the tray
// callback message — plus reading back what the tool shows.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "platform/win32/backend_win32.h"
#include "tests/wine/driver.h"
#include "ui/layout.h"

namespace twdrv {
namespace {

struct Finder {
  DWORD pid = 0;
  const wchar_t* cls = nullptr;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND h, LPARAM lp) {
  auto* f = reinterpret_cast<Finder*>(lp);  // NOLINT(*-int-to-ptr): EnumWindows
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid != f->pid || !IsWindowVisible(h) || ClassOf(h) != f->cls) return TRUE;
  f->found = h;
  return FALSE;
}

// A window of the process by class, shown; null when there is none.
HWND FindShown(DWORD pid, const wchar_t* cls) {
  Finder f{pid, cls, nullptr};
  EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

// Keys as a keyboard delivers them: scan code and repeat count in lParam.
void PostKey(HWND h, UINT vk) {
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(h, WM_KEYDOWN, vk, static_cast<LPARAM>(1 | (scan << 16)));
  PostMessageW(h, WM_KEYUP, vk, static_cast<LPARAM>(1 | (scan << 16) | 0xC0000000u));
}

// The tool has handled everything posted to it so far.
void Settle(HWND h) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

// A block of the tool's memory for requests whose structures the list reads or fills.
class Remote {
 public:
  Remote(HANDLE process, std::size_t size) : process_(process) {
    at_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~Remote() {
    if (at_ != nullptr) VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
  }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;
  char* At(std::size_t offset) const { return static_cast<char*>(at_) + offset; }
  bool Ok() const { return at_ != nullptr; }
  bool Put(std::size_t offset, const void* data, std::size_t size) const {
    SIZE_T moved = 0;
    return WriteProcessMemory(process_, At(offset), data, size, &moved) && moved == size;
  }
  bool Get(std::size_t offset, void* data, std::size_t size) const {
    SIZE_T moved = 0;
    return ReadProcessMemory(process_, At(offset), data, size, &moved) && moved == size;
  }

 private:
  HANDLE process_;
  void* at_ = nullptr;
};

HWND ListOf(const Tool& t) {
  return t.Unit(tw::ids::超级列表框1);
}

// Client point in the middle of a row's text in column `column`.
bool RowPoint(const Tool& t, int row, int column, POINT& at) {
  Remote mem(t.process, sizeof(RECT));
  RECT r{};
  r.top = column;
  r.left = LVIR_LABEL;
  if (!mem.Ok() || !mem.Put(0, &r, sizeof(r))) return false;
  if (SendMessageW(ListOf(t), LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(mem.At(0))) == 0 ||
      !mem.Get(0, &r, sizeof(r))) {
    return false;
  }
  at = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  if (column == 0) {
    // Column 0 holds only the row's check box, at its left end.
    at.x = r.left + 8;
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    if (mem.Put(0, &bounds, sizeof(bounds)) &&
        SendMessageW(ListOf(t), LVM_GETITEMRECT, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(mem.At(0))) != 0 &&
        mem.Get(0, &bounds, sizeof(bounds))) {
      at.x = bounds.left + 8;
    }
  }
  return true;
}

void MoveCursorTo(HWND h, POINT client) {
  ClientToScreen(h, &client);
  SetCursorPos(client.x, client.y);
}

}  // namespace

HWND Tool::Unit(int id) const {
  const auto it = units.find(id);
  return it == units.end() ? nullptr : it->second;
}

bool StartTool(const std::wstring& exe, Tool& t) {
  t.job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (t.job != nullptr) {
    SetInformationJobObject(t.job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  }
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                      nullptr, nullptr, &si, &pi)) {
    Fail("cannot start %s (error %lu)", Utf8(exe).c_str(), GetLastError());
    return false;
  }
  if (t.job != nullptr) AssignProcessToJobObject(t.job, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  t.process = pi.hProcess;
  t.pid = pi.dwProcessId;
  return true;
}

bool WaitForTool(Tool& t, DWORD ms) {
  std::size_t expected = 0;
  for (const tw::UnitLayout& u : tw::MainWindowLayout().units) {
    if (u.id != tw::kMainWindow && tw::HasNativeWindow(u.kind)) ++expected;
  }
  WaitForInputIdle(t.process, ms);
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (GetTickCount64() < deadline) {
    if (t.main == nullptr) t.main = FindMainWindow(t.pid);
    if (t.main != nullptr) {
      t.units = FindUnits(t.main);
      if (t.units.size() == expected) break;
    }
    if (WaitForSingleObject(t.process, 50) == WAIT_OBJECT_0) break;
  }
  if (t.units.size() != expected || t.Unit(tw::ids::编辑框_密码) == nullptr) {
    Fail("the main window and its units did not appear within %lu ms", ms);
    return false;
  }
  // The start-up handler runs before the message loop, and a sent message can be handled inside
  // it (while it waits on the notification area, say); a posted one only in a loop.
  if (!Drain(t, ms)) {
    Fail("the tool did not reach its message loop within %lu ms", ms);
    return false;
  }
  return true;
}

bool Drain(const Tool& t, DWORD ms) {
  // Posted messages are handled in order, so once a posted request to one of the tool's edit
  // boxes has been carried out, so has everything posted before it. The edit's modified flag
  // is the request: nothing in the tool reads it.
  HWND probe = t.Unit(tw::ids::编辑框_密码);
  SendMessageW(probe, EM_SETMODIFY, FALSE, 0);
  PostMessageW(probe, EM_SETMODIFY, TRUE, 0);
  return WaitFor([&] { return SendMessageW(probe, EM_GETMODIFY, 0, 0) != 0; }, ms);
}

bool WaitExit(const Tool& t, DWORD ms, DWORD* code) {
  if (WaitForSingleObject(t.process, ms) != WAIT_OBJECT_0) return false;
  if (code != nullptr) GetExitCodeProcess(t.process, code);
  return true;
}

void EndTool(Tool& t) {
  if (t.job != nullptr) CloseHandle(t.job);  // ends the tool if it still runs
  t.job = nullptr;
  if (t.process != nullptr) {
    WaitForSingleObject(t.process, 5000);
    CloseHandle(t.process);
  }
  t.process = nullptr;
}

bool WaitFor(const std::function<bool()>& done, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
}

bool Usable(HWND h) {
  for (HWND w = h; w != nullptr; w = GetParent(w)) {
    if (!IsWindowVisible(w) || !IsWindowEnabled(w)) return false;
  }
  return h != nullptr;
}

bool Click(const Tool& t, int id) {
  HWND h = t.Unit(id);
  if (!Usable(h)) {
    Fail("%s cannot be clicked: hidden or disabled", NameOf(id).c_str());
    return false;
  }
  // Posted: a click that opens a modal box or runs a long handler must not hold the driver.
  PostMessageW(h, BM_CLICK, 0, 0);
  return true;
}

bool IsChecked(HWND h) {
  return SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TypeInto(HWND edit, const std::wstring& text) {
  // Select everything and type over it, one character at a time, as a keyboard does.
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, WM_CHAR, L'\b', 1);
  for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
}

std::vector<std::wstring> ComboItems(HWND combo) {
  std::vector<std::wstring> items;
  const LRESULT n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    wchar_t buffer[512] = {};
    // CB_GETLBTEXT is carried across processes with its text.
    if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < 511) {
      SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
    }
    items.emplace_back(buffer);
  }
  return items;
}

bool ChooseComboItem(HWND combo, int index) {
  if (!Usable(combo)) {
    Fail("the combo box cannot be used: hidden or disabled");
    return false;
  }
  // The operator's keyboard: F4 drops the list, Home goes to its top, Down walks to the item and
  // Enter takes it, which closes the list with the choice made.
  PostKey(combo, VK_F4);
  PostKey(combo, VK_HOME);
  for (int i = 0; i < index; ++i) PostKey(combo, VK_DOWN);
  PostKey(combo, VK_RETURN);
  Settle(combo);
  return WaitFor([&] { return SendMessageW(combo, CB_GETCURSEL, 0, 0) == index; }, 3000);
}

bool WaitBox(DWORD pid, DWORD ms, Box& box) {
  HWND h = nullptr;
  if (!WaitFor([&] { return (h = FindShown(pid, L"#32770")) != nullptr; }, ms)) return false;
  box.hwnd = h;
  box.title = TextOf(h);
  box.text = TextOf(GetDlgItem(h, 0xFFFF));
  return true;
}

bool ExpectBox(DWORD pid, DWORD ms, const std::wstring& text, const std::wstring& title,
               int answer) {
  Box box;
  if (!WaitBox(pid, ms, box)) {
    Fail("no message box \"%s\" within %lu ms", Utf8(text).c_str(), ms);
    return false;
  }
  const bool right = box.text == text && box.title == title;
  if (!right) {
    Fail("message box \"%s\" titled \"%s\", expected \"%s\" titled \"%s\"", Utf8(box.text).c_str(),
         Utf8(box.title).c_str(), Utf8(text).c_str(), Utf8(title).c_str());
  } else {
    Note("message box \"%s\"", Utf8(text).c_str());
  }
  AnswerBox(box, answer);
  return right;
}

void AnswerBox(const Box& box, int button) {
  HWND b = GetDlgItem(box.hwnd, button);
  if (b == nullptr) {
    Fail("the message box has no button %d", button);
    return;
  }
  PostMessageW(b, BM_CLICK, 0, 0);
  WaitFor([&] { return !IsWindow(box.hwnd) || !IsWindowVisible(box.hwnd); }, 5000);
}

HWND WaitMenu(DWORD pid, DWORD ms) {
  HWND h = nullptr;
  WaitFor([&] { return (h = FindShown(pid, L"#32768")) != nullptr; }, ms);
  return h;
}

bool PickMenuItem(DWORD pid, int position) {
  HWND menu = WaitMenu(pid, 5000);
  if (menu == nullptr) {
    Fail("no pop-up menu opened");
    return false;
  }
  // By keyboard on the open menu: Down from nothing selected reaches the first item, each
  // further Down the next one, Enter chooses.
  for (int i = 0; i <= position; ++i) PostKey(menu, VK_DOWN);
  PostKey(menu, VK_RETURN);
  if (!WaitFor([&] { return !IsWindow(menu) || !IsWindowVisible(menu); }, 5000)) {
    Fail("the pop-up menu did not close after Enter");
    return false;
  }
  return true;
}

void TrayMouse(const Tool& t, UINT mouseMessage) {
  // The notification area calls back with the icon's id and the mouse message.
  PostMessageW(t.main, tw::kMsgTray, tw::kTrayIconId, static_cast<LPARAM>(mouseMessage));
}

int RowCount(const Tool& t) {
  return static_cast<int>(SendMessageW(ListOf(t), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring Cell(const Tool& t, int row, int column) {
  constexpr std::size_t kChars = 512;
  Remote mem(t.process, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
  if (!mem.Ok()) return L"?";
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<wchar_t*>(mem.At(sizeof(LVITEMW)));
  item.cchTextMax = kChars;
  mem.Put(0, &item, sizeof(item));
  const LRESULT n = SendMessageW(ListOf(t), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                 reinterpret_cast<LPARAM>(mem.At(0)));
  std::wstring text(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) mem.Get(sizeof(LVITEMW), text.data(), text.size() * sizeof(wchar_t));
  return text;
}

bool RowChecked(const Tool& t, int row) {
  const LRESULT state =
      SendMessageW(ListOf(t), LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK);
  return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

int RowOf(const Tool& t, const std::wstring& name) {
  const int n = RowCount(t);
  for (int r = 0; r < n; ++r) {
    if (Cell(t, r, 1) == name) return r;
  }
  return -1;
}

bool ClickRow(const Tool& t, int row, int column, bool right) {
  HWND list = ListOf(t);
  POINT at{};
  if (!RowPoint(t, row, column, at)) {
    Fail("row %d has no place on the screen", row);
    return false;
  }
  MoveCursorTo(list, at);
  const LPARAM where = MAKELPARAM(at.x, at.y);
  PostMessageW(list, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON,
               where);
  PostMessageW(list, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, where);
  // The reports the list's notifications post must be in too; a menu the click opens holds
  // posted messages back, so only a sent one can tell that the click was taken.
  if (right) {
    Settle(list);
  } else {
    Drain(t, 5000);
  }
  return true;
}

void PressSpace(const Tool& t) {
  HWND list = ListOf(t);
  PostKey(list, VK_SPACE);
  Drain(t, 5000);
}

void DumpRows(const Tool& t, const char* label) {
  const int n = RowCount(t);
  for (int r = 0; r < n; ++r) {
    std::printf("row\t%s\t%d\t%d\t%s\t%s\t%s\n", label, r, RowChecked(t, r) ? 1 : 0,
                Utf8(Cell(t, r, 1)).c_str(), Utf8(Cell(t, r, 2)).c_str(),
                Utf8(Cell(t, r, 3)).c_str());
  }
  std::fflush(stdout);
}

void BringToFront(HWND h) {
  ShowWindow(h, SW_SHOWNORMAL);
  SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(h);
  RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
  Settle(h);
  Sleep(400);  // let every control paint
}

void ReleaseFront(HWND h) {
  SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace twdrv
