// Win32 backend tests of the modal parts: pop-up menus chosen with the keyboard, message boxes
// answered from a timer, the message loop's quit and wait semantics, the posted destruction, and
// the run-time error report of a second process ending with exit code -1.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "runtime/gbk.h"
#include "tests/wine/backend_test.h"

namespace twtest {
namespace {

using tw::Gbk;
using tw::Handler;
using tw::Value;
namespace ids = tw::ids;

struct BoxSearch {
  DWORD pid = 0;
  HWND found = nullptr;
};

BOOL CALLBACK MatchBox(HWND h, LPARAM lp) {
  auto* search = reinterpret_cast<BoxSearch*>(lp);  // NOLINT(*-int-to-ptr): EnumWindows
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  wchar_t cls[32] = {};
  GetClassNameW(h, cls, 32);
  if (pid != search->pid || std::wstring(cls) != L"#32770" || !IsWindowVisible(h)) return TRUE;
  search->found = h;
  return FALSE;
}

// Chooses an item of the pop-up menu that the next call opens: `downs` times down, then Enter.
void ChooseInNextMenu(Rig& rig, int downs) {
  // The menu's own loop reads the keys of the whole thread, whichever window they are for.
  HWND main = rig.Main();
  rig.After(150, [downs, main] {
    for (int i = 0; i < downs; ++i) PostMessageW(main, WM_KEYDOWN, VK_DOWN, 0x00500001);
    PostMessageW(main, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  });
  rig.After(3000, [] { EndMenu(); });  // never hang on a menu nobody answers
}

// Answers the next message box with the button `id` and records what it showed.
void AnswerNextBox(Rig& rig, int id, std::wstring* text, HWND* owner) {
  rig.After(200, [id, text, owner] {
    HWND box = FindMessageBox(GetCurrentProcessId());
    if (box == nullptr) return;
    *text = TextOf(GetDlgItem(box, 0xFFFF));
    *owner = GetWindow(box, GW_OWNER);
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(id), 0);
  });
  rig.After(4000, [] {
    if (HWND box = FindMessageBox(GetCurrentProcessId())) PostMessageW(box, WM_CLOSE, 0, 0);
  });
}

struct ShownItem {
  UINT id = 0;
  UINT type = 0;
  UINT state = 0;
  std::wstring text;
};
std::vector<ShownItem> g_shown;

// Reads the menu that is about to be shown, as the system hands it to its owner window.
LRESULT CALLBACK ReadShownMenu(int code, WPARAM wp, LPARAM lp) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lp);  // NOLINT(*-int-to-ptr)
  if (code == HC_ACTION && call->message == WM_INITMENUPOPUP) {
    auto* menu = reinterpret_cast<HMENU>(call->wParam);  // NOLINT(*-int-to-ptr)
    g_shown.clear();
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      wchar_t text[64] = {};
      MENUITEMINFOW info{};
      info.cbSize = sizeof(info);
      info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
      info.dwTypeData = text;
      info.cch = 63;
      GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
      g_shown.push_back({info.wID, info.fType, info.fState, text});
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// The items of the next pop-up menu that `show` opens; the menu is closed unchosen.
std::vector<ShownItem> ItemsOfNextMenu(Rig& rig, const std::function<void()>& show) {
  g_shown.clear();
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, &ReadShownMenu, nullptr, GetCurrentThreadId());
  rig.After(200, [] { EndMenu(); });
  show();
  rig.Pump(20);
  UnhookWindowsHookEx(hook);
  return g_shown;
}

}  // namespace

HWND FindMessageBox(DWORD pid) {
  BoxSearch search{pid, nullptr};
  EnumWindows(&MatchBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForMessageBox(const PROCESS_INFORMATION& child) {
  HWND box = nullptr;
  for (int i = 0; i < 150 && box == nullptr; ++i) {
    if (WaitForSingleObject(child.hProcess, 100) == WAIT_OBJECT_0) break;
    box = FindMessageBox(child.dwProcessId);
  }
  return box;
}

std::wstring TextOf(HWND h) {
  wchar_t buffer[512] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 3000,
                      &copied);
  return buffer;
}

void TestMenusAndMessageBox(Rig& rig) {
  tw::Frame& f = rig.frame();
  SetForegroundWindow(rig.Main());
  rig.Take();
  ChooseInNextMenu(rig, 1);
  f.PopupMenu(tw::kMainWindow, ids::菜单_托盘);
  rig.Pump(50);
  EXPECT_EQ(rig.Count(Handler::MenuShowMain), 1);
  ChooseInNextMenu(rig, 2);
  f.PopupTrayMenu(tw::kMainWindow, ids::菜单_托盘);
  rig.Pump(50);
  EXPECT_EQ(rig.Count(Handler::MenuExit), 1);
  ChooseInNextMenu(rig, 1);
  f.PopupMenu(tw::kMainWindow, ids::菜单_列表, 100, 100);
  rig.Pump(50);
  EXPECT_EQ(rig.Count(Handler::MenuRefresh), 1);
  EXPECT_EQ(rig.Count(Handler::MenuShowMain), 1);

  // What the menus show: hidden items left out, disabled ones greyed, checked ones checked and
  // a "-" caption a separator.
  f.WriteProp(Rig::U(ids::菜单_显示主菜单), tw::prop::kVisible, Value::Bool(false));
  f.WriteProp(Rig::U(ids::菜单_退出), tw::prop::kDisabled, Value::Bool(true));
  std::vector<ShownItem> shown =
      ItemsOfNextMenu(rig, [&] { f.PopupTrayMenu(tw::kMainWindow, ids::菜单_托盘); });
  EXPECT_EQ(static_cast<int>(shown.size()), 1);
  if (shown.size() == 1) {
    EXPECT_EQ(static_cast<int>(shown[0].id), tw::kFirstMenuCommand + 2);
    EXPECT_EQ(shown[0].text, std::wstring(L"\x9000\x51FA"));  // 退出
    EXPECT((shown[0].state & MFS_GRAYED) != 0);
  }
  f.WriteProp(Rig::U(ids::菜单_显示主菜单), tw::prop::kVisible, Value::Bool(true));
  f.WriteProp(Rig::U(ids::菜单_退出), tw::prop::kDisabled, Value::Bool(false));
  const std::vector<tw::PopupItem> items = {
      {20001, "one", false, false}, {20002, "-", false, false}, {20003, "three", false, true}};
  shown = ItemsOfNextMenu(
      rig, [&] { rig.backend().PopupMenu(tw::kMainWindow, items, 100, 100, false); });
  EXPECT_EQ(static_cast<int>(shown.size()), 3);
  if (shown.size() == 3) {
    EXPECT(shown[0].id == 20001 && shown[0].text == L"one" && shown[0].state == MFS_ENABLED);
    EXPECT((shown[1].type & MFT_SEPARATOR) != 0);
    EXPECT((shown[2].state & MFS_CHECKED) != 0 && (shown[2].state & MFS_GRAYED) == 0);
  }
  EXPECT_EQ(rig.Count(Handler::MenuShowMain), 1);  // nothing chosen

  std::wstring text;
  HWND owner = nullptr;
  AnswerNextBox(rig, IDYES, &text, &owner);
  EXPECT_EQ(f.MsgBox(Value::Str(Gbk("确定要退出吗？")), 4, Value::Str(Gbk("提示")),
                     Value::Unit({tw::kMainWindow, tw::kMainWindow})),
            tw::mb::kYes);
  EXPECT_EQ(text, std::wstring(L"\x786E\x5B9A\x8981\x9000\x51FA\x5417\xFF1F"));  // 确定要退出吗？
  EXPECT(owner == rig.Main());
  AnswerNextBox(rig, IDNO, &text, &owner);
  EXPECT_EQ(f.MsgBox(Value::Str("no?"), 4), tw::mb::kNo);
  AnswerNextBox(rig, IDOK, &text, &owner);
  EXPECT_EQ(f.MsgBox(Value::Int(42), 48), tw::mb::kOk);
  EXPECT_EQ(text, std::wstring(L"42"));
}

void TestMessageLoop(Rig& rig) {
  tw::Backend& b = rig.backend();
  rig.Pump();
  // A quit request stays queued for the outer loop unless the caller waits for it.
  b.PostQuit();
  EXPECT(b.PumpOne(false) == tw::Backend::Pump::Quit);
  EXPECT(b.PumpOne(false) == tw::Backend::Pump::Quit);
  EXPECT(b.PumpOne(true) == tw::Backend::Pump::Quit);
  PostMessageW(rig.Main(), WM_NULL, 0, 0);
  EXPECT(b.PumpOne(false) == tw::Backend::Pump::Dispatched);

  rig.Pump();
  std::uint64_t start = b.TickMs();
  b.WaitUntil(start + 150);
  EXPECT(b.TickMs() - start >= 100);
  PostMessageW(rig.Main(), WM_NULL, 0, 0);
  start = b.TickMs();
  b.WaitUntil(start + 3000);
  EXPECT(b.TickMs() - start < 1000);
  start = b.TickMs();
  b.SleepMs(60);
  EXPECT(b.TickMs() - start >= 40);  // the tick count moves in steps of several milliseconds

  // Destruction is posted: the window goes when the loop runs next, without a close request,
  // and takes its tray icon and its timer with it.
  HWND main = rig.Main();
  rig.frame().SetTrayIcon(tw::kMainWindow, Value::Blob(tw::TidewellIcon()), Value::Str("T"));
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof(probe);
  probe.hWnd = main;
  probe.uID = tw::kTrayIconId;
  EXPECT(Shell_NotifyIconW(NIM_MODIFY, &probe));
  rig.frame().WriteProp(Rig::U(ids::时钟1), tw::prop::kTimerInterval, Value::Int(30));
  rig.Take();
  rig.frame().DestroyWindow(tw::kMainWindow);
  EXPECT(rig.frame().IsLoaded(tw::kMainWindow) && IsWindow(main));
  rig.Pump();
  EXPECT(!rig.frame().IsLoaded(tw::kMainWindow));
  EXPECT(!IsWindow(main));
  EXPECT_EQ(rig.Count(Handler::HideToTray), 0);
  EXPECT(!Shell_NotifyIconW(NIM_MODIFY, &probe));
  rig.Take();
  rig.Pump(150);
  EXPECT_EQ(rig.Count(Handler::ScheduleTick), 0);
}

void TestFatalReport(const wchar_t* self) {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  std::wstring command = std::wstring(L"\"") + self + L"\" --fatal";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!EXPECT(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &pi))) {
    return;
  }
  AssignProcessToJobObject(job, pi.hProcess);
  HWND box = WaitForMessageBox(pi);
  EXPECT(box != nullptr);
  if (box != nullptr) {
    const std::wstring text = TextOf(GetDlgItem(box, 0xFFFF));
    const std::u16string want = tw::GbkToUtf16(
        Gbk("运行时出错!\r\n\r\n错误代码：1\r\n错误信息：读取组件属性时发现指定窗口尚未载入"));
    EXPECT_EQ(text, std::wstring(want.begin(), want.end()));
    EXPECT_EQ(TextOf(box), std::wstring(L"\x8FD0\x884C\x65F6\x51FA\x9519!"));  // 运行时出错!
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  EXPECT(WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(static_cast<long long>(code), 0xFFFFFFFFLL);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(job);
}

}  // namespace twtest
