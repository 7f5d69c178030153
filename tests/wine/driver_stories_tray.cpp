// The driver's stories of the notification area and of a machine left alone: the close box
// hides, the tray icon and its menu show again, 退出 asks first; an unattended start comes up
// hidden and connected, a daily schedule fires once at its second, and a second copy is refused;
// an unattended start before the server is up cleans at its due second all the same.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/wine/driver.h"
#include "ui/layout.h"

namespace twdrv {

namespace ids = tw::ids;

namespace {

bool Alive(const Tool& t) {
  return WaitForSingleObject(t.process, 0) == WAIT_TIMEOUT;
}

// The window's own boxes, as the frame Wine draws sends them.
bool CloseBoxHides(const Tool& t) {
  PostMessageW(t.main, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (!WaitFor([&] { return !IsWindowVisible(t.main); }, 5000)) {
    Fail("the close box did not hide the main window");
    return false;
  }
  Sleep(200);
  if (!Alive(t) || !IsWindow(t.main)) {
    Fail("the close box ended the program instead of hiding its window");
    return false;
  }
  return true;
}

bool ShownAgain(const Tool& t, const char* how) {
  if (!WaitFor([&] { return IsWindowVisible(t.main) && !IsIconic(t.main); }, 5000)) {
    Fail("%s did not show the main window in its normal state", how);
    return false;
  }
  Note("%s showed the window", how);
  return true;
}

std::wstring Number(int n) {
  return std::to_wstring(n);
}

// Types a daily time `seconds` ahead of the clock the tool reads into the shown time fields and
// prints it as the State cell's time stamp would read.
void ScheduleAhead(Tool& t, int seconds) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER when{};
  when.LowPart = now.dwLowDateTime;
  when.HighPart = now.dwHighDateTime;
  when.QuadPart += static_cast<ULONGLONG>(seconds) * 10000000ULL;
  FILETIME utc{when.LowPart, when.HighPart};
  FILETIME local{};
  SYSTEMTIME at{};
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &at);
  TypeInto(t.Unit(ids::编辑框_时), Number(at.wHour));
  TypeInto(t.Unit(ids::编辑框_分), Number(at.wMinute));
  TypeInto(t.Unit(ids::编辑框_秒), Number(at.wSecond));
  std::printf("schedule\t%d-%d-%d %d:%d:%d\n", at.wYear, at.wMonth, at.wDay, at.wHour, at.wMinute,
              at.wSecond);
  std::fflush(stdout);
}

}  // namespace

// 4: the close box hides and the program lives on; the tray shows the window; 退出 asks first.
int TrayAndExit(Tool& t, const std::wstring& /*exe*/, const std::vector<std::wstring>& /*a*/) {
  if (!IsWindowVisible(t.main)) Fail("a first start shows no window");
  if (!CloseBoxHides(t)) return 1;
  TrayMouse(t, WM_LBUTTONUP);
  ShownAgain(t, "a left click on the tray icon");
  if (!CloseBoxHides(t)) return 1;
  TrayMouse(t, WM_LBUTTONDBLCLK);
  ShownAgain(t, "a double click on the tray icon");
  if (!CloseBoxHides(t)) return 1;
  TrayMouse(t, WM_RBUTTONUP);
  if (PickMenuItem(t.pid, 0)) ShownAgain(t, "显示主菜单");  // 托盘菜单: 显示主菜单, 退出
  PostMessageW(t.main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  if (!WaitFor([&] { return IsIconic(t.main) != FALSE; }, 5000))
    Fail("the window did not minimise");
  TrayMouse(t, WM_LBUTTONUP);
  ShownAgain(t, "a tray click on the minimised window");

  TrayMouse(t, WM_RBUTTONUP);
  if (!PickMenuItem(t.pid, 1)) return 1;
  ExpectBox(t.pid, 5000, L"是否退出程序?", L"提示:", IDNO);
  Sleep(500);
  if (!Alive(t) || !IsWindowVisible(t.main)) Fail("退出 answered No changed the window or ended");
  return ExitThroughTray(t) ? 0 : 1;
}

// 5: started with unattended mode saved: hidden and connected; a daily schedule a few seconds
// ahead fires once; a second copy started meanwhile is refused.
int Unattended(Tool& t, const std::wstring& exe, const std::vector<std::wstring>& /*a*/) {
  HWND connect = t.Unit(ids::按钮_连接);
  if (!WaitFor([&] { return TextOf(connect) == L"已连接"; }, 30000)) {
    Fail("the unattended start did not connect by itself (按钮_连接 reads \"%s\")",
         Utf8(TextOf(connect)).c_str());
    return 1;
  }
  if (IsWindowVisible(t.main)) Fail("the unattended start showed its window");
  if (IsWindowEnabled(connect)) Fail("按钮_连接 is enabled after the automatic connection");
  HWND combo = t.Unit(ids::组合框_库名);
  const LRESULT chosen = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  const std::vector<std::wstring> items = ComboItems(combo);
  if (chosen < 0 || static_cast<std::size_t>(chosen) >= items.size() ||
      items[static_cast<std::size_t>(chosen)] != L"sales") {
    Fail("the automatic connection did not select the saved database sales");
  }
  if (!IsChecked(t.Unit(ids::选择框_挂机))) Fail("选择框_挂机 is not ticked");
  DumpRows(t, "unattended");
  const int sales = RowOf(t, L"sales");

  TrayMouse(t, WM_LBUTTONUP);
  if (!ShownAgain(t, "a left click on the tray icon")) return 1;
  Click(t, ids::选择框_每天);
  if (!WaitFor([&] { return Usable(t.Unit(ids::编辑框_秒)); }, 3000)) {
    Fail("ticking 选择框_每天 did not show the time fields");
    return 1;
  }
  // A few seconds ahead of the clock the tool reads too.
  ScheduleAhead(t, 6);
  Click(t, ids::单选框_单独);
  WaitFor([&] { return Setting(exe, L"配置", L"定时清理模式") == L"1"; }, 3000);
  ExpectSetting(exe, L"配置", L"定时清理模式", L"1");
  Click(t, ids::按钮_确定);
  // 秒 is the last key the save writes.
  const std::wstring typedSecond = TextOf(t.Unit(ids::编辑框_秒));
  WaitFor([&] { return Setting(exe, L"定时配置", L"秒") == typedSecond; }, 3000);
  ExpectSetting(exe, L"定时配置", L"模式", L"每天一次");
  ExpectSetting(exe, L"定时配置", L"时", TextOf(t.Unit(ids::编辑框_时)));
  ExpectSetting(exe, L"定时配置", L"分", TextOf(t.Unit(ids::编辑框_分)));
  ExpectSetting(exe, L"定时配置", L"秒", typedSecond);
  if (!CloseBoxHides(t)) return 1;

  Tool second;
  if (StartTool(exe, second)) {
    ExpectBox(second.pid, 15000, L"程序已在运行！", L"警告", IDOK);
    DWORD code = 0;
    if (!WaitExit(second, 10000, &code)) {
      Fail("the refused second copy did not end");
    } else if (code != 0) {
      Fail("the refused second copy ended with exit code %lu", code);
    } else {
      Note("a second copy was refused and ended");
    }
    if (FindMainWindow(second.pid) != nullptr) Fail("the refused copy left a main window");
    EndTool(second);
  }
  if (IsWindowVisible(t.main) || !Alive(t)) Fail("the second copy disturbed the first one");

  if (!WaitFor([&] { return Cell(t, sales, 3).find(L" 清理了 ") != std::wstring::npos; }, 40000)) {
    Fail("the schedule did not clean sales; State reads \"%s\"", Utf8(Cell(t, sales, 3)).c_str());
    return 1;
  }
  const std::wstring first = Cell(t, sales, 3);
  Sleep(3000);  // the seconds after the scheduled one must not start it again
  if (Cell(t, sales, 3) != first) Fail("the schedule fired more than once");
  DumpRows(t, "scheduled");
  return ExitThroughTray(t) ? 0 : 1;
}

// 6: started at logon before the server is up: the automatic connection fails silently; the
// simulator is started once the driver asks for it (the file "start-server" beside the exe,
// answered with "server-up"), and the due single cleanup logs in first and cleans sales.
int LateServer(Tool& t, const std::wstring& exe, const std::vector<std::wstring>& /*a*/) {
  HWND connect = t.Unit(ids::按钮_连接);
  Sleep(500);
  if (TextOf(connect) != L"连接" || RowCount(t) != 0) {
    Fail("the tool connected with no server to connect to");
    return 1;
  }
  CloseHandle(CreateFileW((FolderOf(exe) + L"\\start-server").c_str(), GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::wstring up = FolderOf(exe) + L"\\server-up";
  if (!WaitFor([&] { return GetFileAttributesW(up.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000)) {
    Fail("the simulator was not started");
    return 1;
  }
  TrayMouse(t, WM_LBUTTONUP);
  if (!ShownAgain(t, "a left click on the tray icon")) return 1;
  ScheduleAhead(t, 5);
  if (!CloseBoxHides(t)) return 1;
  int sales = -1;
  const bool cleaned = WaitFor(
      [&] {
        sales = RowOf(t, L"sales");
        return sales >= 0 && Cell(t, sales, 3).find(L" 清理了 ") != std::wstring::npos;
      },
      40000);
  if (!cleaned) {
    Fail("the due cleanup did not clean sales (按钮_连接 reads \"%s\")",
         Utf8(TextOf(connect)).c_str());
    return 1;
  }
  if (TextOf(connect) != L"已连接")
    Fail("the due cleanup's connection left 按钮_连接 as \"%s\"", Utf8(TextOf(connect)).c_str());
  DumpRows(t, "scheduled");
  return ExitThroughTray(t) ? 0 : 1;
}

}  // namespace twdrv
