// The driver's demo mode, the tour the run command shows: one single cleanup on the real tool.
//
// Interface (kept stable for scripts/run.sh):
//   tw_wine_driver.exe --demo <tidewell.exe> <screenshot.bmp> <address> <login> <password>
// starts the given tidewell.exe in a job (it never outlives the driver), waits for its main
// window, shows it from the tray icon if a settings file kept it hidden, types the address, login
// and password and clicks 连接 (skipped when the tool connected by itself), answers "连接成功",
// picks in 组合框_库名 the first database whose listed log is at least 10 MB (else the largest),
// runs 按钮_单独清理 and waits until the row's State reads "... 清理了 ...", brings that process's
// main window to the top and saves it to <screenshot.bmp> (24-bit BMP, refused when it is one
// flat colour), then ends the tool through its tray menu 退出 answered Yes and waits for it.
// Paths may be Unix paths (taken as Z:). Exit code 0 only when every step succeeded, 1 when one
// failed (the reason is printed as "FAIL: ..."), 2 for wrong arguments. The tool writes its
// settings file beside the exe it is given, so give it a copy that may keep one; no other copy of
// tidewell.exe may be running (the tool refuses a second one). Run it under scripts/wine-run.sh.
// When a step fails, the window as it then stands is saved to <screenshot.bmp> all the same.
#include <windows.h>

#include <cwchar>
#include <string>

#include "tests/wine/driver.h"
#include "ui/layout.h"

namespace twdrv {
namespace {

namespace ids = tw::ids;

// A size text of the list ("512 KB", "1.536 MB", "3.25 GB") in the tool's kilobytes; -1 if none.
double Kilobytes(const std::wstring& text) {
  wchar_t* end = nullptr;
  const double value = std::wcstod(text.c_str(), &end);
  if (end == text.c_str()) return -1;
  const std::wstring unit(end);
  if (unit == L" KB") return value;
  if (unit == L" MB") return value * 1000.0;
  if (unit == L" GB") return value * 1000000.0;
  return -1;
}

bool ShowFromTray(Tool& t) {
  if (IsWindowVisible(t.main)) return true;
  TrayMouse(t, WM_LBUTTONUP);
  if (!WaitFor([&] { return IsWindowVisible(t.main) != FALSE; }, 5000)) {
    Fail("a left click on the tray icon did not show the window");
    return false;
  }
  return true;
}

bool Connect(Tool& t, const std::wstring& address, const std::wstring& login,
             const std::wstring& password) {
  HWND connect = t.Unit(ids::按钮_连接);
  if (!IsWindowEnabled(connect) && TextOf(connect) == L"已连接") {
    Note("already connected by the tool itself");
    return true;
  }
  TypeInto(t.Unit(ids::编辑框_IP), address);
  TypeInto(t.Unit(ids::编辑框_用户名), login);
  TypeInto(t.Unit(ids::编辑框_密码), password);
  if (!Click(t, ids::按钮_连接)) return false;
  // A login, one query per database and the combo fill: allow for a slow server.
  if (!ExpectBox(t.pid, 60000, L"连接成功", L"信息：", IDOK)) return false;
  if (!WaitFor([&] { return TextOf(connect) == L"已连接"; }, 5000)) {
    Fail("按钮_连接 does not read 已连接 after the connect");
    return false;
  }
  return true;
}

// The combo index of the first database with a log of at least 10 MB in the list, else of the
// largest one; -1 when the combo is empty.
int PickDatabase(const Tool& t) {
  const std::vector<std::wstring> items = ComboItems(t.Unit(ids::组合框_库名));
  int largest = -1;
  double largestSize = -2;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const int row = RowOf(t, items[i]);
    const double kb = row < 0 ? -1 : Kilobytes(Cell(t, row, 2));
    if (kb >= 10000.0) return static_cast<int>(i);
    if (kb > largestSize) {
      largestSize = kb;
      largest = static_cast<int>(i);
    }
  }
  return largest;
}

bool CleanOne(Tool& t, const std::wstring& name) {
  const int row = RowOf(t, name);
  if (!Click(t, ids::按钮_单独清理)) return false;
  HWND button = t.Unit(ids::按钮_单独清理);
  // Pauses, progress steps and "清理完成" take some 3 s; the statements may wait on the server.
  const bool done = WaitFor(
      [&] {
        const std::wstring state = Cell(t, row, 3);
        return TextOf(button) == L"清理" && IsWindowEnabled(button) && !state.empty() &&
               state != L"正在清理...";
      },
      90000);
  const std::wstring state = Cell(t, row, 3);
  if (!done || state.find(L" 清理了 ") == std::wstring::npos) {
    Fail("the single cleanup of %s ended with State \"%s\"", Utf8(name).c_str(),
         Utf8(state).c_str());
    return false;
  }
  Note("cleaned %s: %s, %s", Utf8(name).c_str(), Utf8(Cell(t, row, 2)).c_str(),
       Utf8(state).c_str());
  return true;
}

}  // namespace

bool ExitThroughTray(Tool& t) {
  TrayMouse(t, WM_RBUTTONUP);
  // 托盘菜单: 显示主菜单, 退出.
  if (!PickMenuItem(t.pid, 1)) return false;
  if (!ExpectBox(t.pid, 5000, L"是否退出程序?", L"提示:", IDYES)) return false;
  DWORD code = 0;
  if (!WaitExit(t, 15000, &code)) {
    Fail("the tool still runs 15 s after 退出 was answered Yes");
    return false;
  }
  if (code != 0) {
    Fail("the tool ended with exit code %lu, not 0", code);
    return false;
  }
  Note("the tool ended with exit code 0");
  return true;
}

int RunDemo(const std::wstring& exe, const std::wstring& shot, const std::wstring& address,
            const std::wstring& login, const std::wstring& password) {
  Tool t;
  bool ok = StartTool(exe, t) && WaitForTool(t, 20000) && ShowFromTray(t) &&
            Connect(t, address, login, password);
  int index = -1;
  std::wstring name;
  if (ok) {
    HWND combo = t.Unit(ids::组合框_库名);
    index = PickDatabase(t);
    if (index < 0) {
      Fail("the tool lists no database");
      ok = false;
    } else {
      name = ComboItems(combo)[static_cast<std::size_t>(index)];
      ok = ChooseComboItem(combo, index);
      if (!ok) Fail("could not choose %s in 组合框_库名", Utf8(name).c_str());
    }
  }
  ok = ok && CleanOne(t, name);
  if (ok) {
    BringToFront(t.main);
    ok = SaveScreenshot(t.main, shot);
    ReleaseFront(t.main);
    if (!ok) Fail("cannot save the screenshot to %s", Utf8(shot).c_str());
  } else if (t.main != nullptr && IsWindowVisible(t.main)) {
    // The window as the failure left it: the run command keeps it beside its log.
    BringToFront(t.main);
    SaveScreenshot(t.main, shot);
    ReleaseFront(t.main);
  }
  // The tool is ended through its menu whenever it got as far as showing its window.
  if (t.main != nullptr && WaitForSingleObject(t.process, 0) == WAIT_TIMEOUT) {
    ok = ExitThroughTray(t) && ok;
  }
  EndTool(t);
  return ok && FailureCount() == 0 ? 0 : 1;
}

}  // namespace twdrv
