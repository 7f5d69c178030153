// Win32 backend tests of handlers that pump messages on real windows: a destruction asked for
// before a message box waits for the handler, destroying the main window ends the chooser's
// modal loop, a quit inside that loop closes the chooser and reaches the outer loop, and once a
// run-time error is on the screen no timer tick or posted message runs another handler.
#include <windows.h>

#include <cstdio>
#include <string>

#include "runtime/gbk.h"
#include "tests/wine/backend_test.h"

namespace twtest {
namespace {

using tw::Handler;
using tw::Value;
namespace ids = tw::ids;

const wchar_t kChooserTitle[] = L"\x8BF7\x9009\x62E9";  // 请选择

bool QuitPending() {
  MSG msg;
  return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

void TakeQuit() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

struct BoxCount {
  DWORD pid = 0;
  int count = 0;
};

BOOL CALLBACK CountBox(HWND h, LPARAM lp) {
  auto* search = reinterpret_cast<BoxCount*>(lp);  // NOLINT(*-int-to-ptr): EnumWindows
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  wchar_t cls[32] = {};
  GetClassNameW(h, cls, 32);
  if (pid == search->pid && std::wstring(cls) == L"#32770" && IsWindowVisible(h)) ++search->count;
  return TRUE;
}

int MessageBoxesOf(DWORD pid) {
  BoxCount search{pid, 0};
  EnumWindows(&CountBox, reinterpret_cast<LPARAM>(&search));
  return search.count;
}

std::wstring g_failLog;

void Note(const char* what) {
  if (FILE* f = _wfopen(g_failLog.c_str(), L"ab")) {
    std::fputs(what, f);
    std::fclose(f);
  }
}

}  // namespace

void TestDeferredDestroy(Rig& rig) {
  tw::Frame& f = rig.frame();
  HWND main = rig.Main();
  bool boxSeen = false;
  bool loadedWhileBoxOpen = false;
  bool loadedAfterBox = false;
  // A handler asks for the end of the window and then asks the user something: the box's own
  // loop must not carry out the destruction (and the quit after it would close the box).
  f.SetHandler(Handler::Connect, [&](const std::vector<Value>&) {
    f.DestroyWindow(tw::kMainWindow);
    f.MsgBox(Value::Str("bye"), 0);
    loadedAfterBox = f.IsLoaded(tw::kMainWindow) && IsWindow(main);
    return Value{};
  });
  rig.After(300, [&] {
    HWND box = FindMessageBox(GetCurrentProcessId());
    boxSeen = box != nullptr;
    loadedWhileBoxOpen = f.IsLoaded(tw::kMainWindow) && IsWindow(main);
    if (box != nullptr) PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  rig.After(4000, [] {
    if (HWND box = FindMessageBox(GetCurrentProcessId())) PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  SendMessageW(rig.Control(ids::按钮_连接), BM_CLICK, 0, 0);
  EXPECT(boxSeen);
  EXPECT(loadedWhileBoxOpen);
  EXPECT(loadedAfterBox);
  EXPECT(f.IsLoaded(tw::kMainWindow));  // until the loop runs again
  rig.Pump();
  EXPECT(!f.IsLoaded(tw::kMainWindow));
  EXPECT(!IsWindow(main));
  EXPECT(QuitPending());
  TakeQuit();
}

void TestOwnedChooser(Rig& rig) {
  tw::Frame& f = rig.frame();
  HWND main = rig.Main();
  HWND chooser = nullptr;
  // 退出 confirmed from the tray menu while the chooser is open: the main window goes.
  f.SetHandler(Handler::TrayAction, [&](const std::vector<Value>&) {
    f.DestroyWindow(tw::kMainWindow);
    return Value{};
  });
  rig.After(200, [&] {
    chooser = OwnWindow(kChooserTitle);
    SendMessageW(main, tw::kMsgTray, tw::kTrayIconId, WM_RBUTTONUP);
  });
  rig.After(4000, [&] { f.DestroyWindow(tw::kChooserWindow); });
  const ULONGLONG start = GetTickCount64();
  EXPECT(f.LoadWindow(tw::kChooserWindow, tw::kMainWindow, true));
  EXPECT(GetTickCount64() - start < 3000);  // the chooser's loop ended with its owner
  EXPECT(chooser != nullptr && !IsWindow(chooser));
  EXPECT(!f.IsLoaded(tw::kChooserWindow));
  EXPECT(!f.IsLoaded(tw::kMainWindow));
  EXPECT(!IsWindow(main));
  EXPECT(QuitPending());
  TakeQuit();
}

void TestQuitInDialog(Rig& rig) {
  tw::Frame& f = rig.frame();
  HWND main = rig.Main();
  HWND chooser = nullptr;
  rig.After(200, [&] {
    chooser = OwnWindow(kChooserTitle);
    PostQuitMessage(0);
  });
  rig.After(4000, [&] { f.DestroyWindow(tw::kChooserWindow); });
  const ULONGLONG start = GetTickCount64();
  EXPECT(!f.LoadWindow(tw::kChooserWindow, tw::kMainWindow, true));
  EXPECT(GetTickCount64() - start < 3000);
  EXPECT(chooser != nullptr && !IsWindow(chooser));
  EXPECT(!f.IsLoaded(tw::kChooserWindow));
  EXPECT(f.IsLoaded(tw::kMainWindow) && IsWindowEnabled(main));
  EXPECT(QuitPending());  // for the outer loop
  TakeQuit();
}

int FailingTimerChild(const wchar_t* log) {
  g_failLog = log;
  Rig rig;
  tw::Frame& f = rig.frame();
  f.SetHandler(Handler::ScheduleTick, [&](const std::vector<Value>&) {
    Note("tick\n");
    // Left for the report's loop: a combo choice, and the destruction of the window.
    PostMessageW(rig.Main(), tw::kMsgComboChosen, ids::组合框_库名, 0);
    f.DestroyWindow(tw::kMainWindow);
    f.ReadProp({tw::kChooserWindow, ids::按钮_IP}, tw::prop::kLeft);
    return Value{};
  });
  f.SetHandler(Handler::DatabaseChosen, [](const std::vector<Value>&) {
    Note("chosen\n");
    return Value{};
  });
  f.WriteProp(Rig::U(ids::时钟1), tw::prop::kTimerInterval, Value::Int(50));
  rig.Pump(15000);
  return 3;  // not reached
}

void TestFailingTimer(const wchar_t* self) {
  wchar_t dir[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  const std::wstring log =
      std::wstring(dir) + L"tw-failing-timer-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  DeleteFileW(log.c_str());
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  std::wstring command = std::wstring(L"\"") + self + L"\" --failing-timer \"" + log + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!EXPECT(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &pi))) {
    CloseHandle(job);
    return;
  }
  AssignProcessToJobObject(job, pi.hProcess);
  HWND box = WaitForMessageBox(pi);
  EXPECT(box != nullptr);
  // Ten more intervals of the timer with the report open.
  WaitForSingleObject(pi.hProcess, 500);
  EXPECT_EQ(MessageBoxesOf(pi.dwProcessId), 1);
  if (box != nullptr) {
    const std::u16string want = tw::GbkToUtf16(tw::Gbk("读取组件属性时发现指定窗口尚未载入"));
    EXPECT(TextOf(GetDlgItem(box, 0xFFFF)).find(std::wstring(want.begin(), want.end())) !=
           std::wstring::npos);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  EXPECT(WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(static_cast<long long>(code), 0xFFFFFFFFLL);
  std::string noted;
  if (FILE* f = _wfopen(log.c_str(), L"rb")) {
    char buffer[256];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) noted.append(buffer, n);
    std::fclose(f);
  }
  EXPECT_EQ(noted, std::string("tick\n"));
  DeleteFileW(log.c_str());
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(job);
}

}  // namespace twtest
